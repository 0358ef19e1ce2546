#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "foundation/clean_queue.h"
#include "foundation/cyclic.h"
#include "foundation/cyclic_list.h"
#include "foundation/dual_list.h"

namespace {

struct Item : F_dual_list_item<Item> {
  explicit Item(int k = 0) : key(k) {}
  int compare(Item const& other) const { return key - other.key; }
  int key;
};

template <class List>
std::vector<Item*> items(List const& list) {
  std::vector<Item*> out;
  for (auto it = list.begin(); it != list.end(); ++it) out.push_back(&*it);
  // Walking back from the tail must give the same items: both link directions agree.
  std::vector<Item*> back;
  for (Item* at = list.tail(); at; at = at->get_prev()) back.insert(back.begin(), at);
  EXPECT_EQ(out, back);
  EXPECT_EQ(out.size(), list.count());
  return out;
}

TEST(DualList, LinksKeepBothDirectionsAndCount) {
  Item a, b, c, d;
  F_dual_list<Item> list;
  EXPECT_EQ(list.remove_from_head(), nullptr);
  EXPECT_EQ(list.remove_from_tail(), nullptr);
  EXPECT_EQ(list.count(), 0u);

  list.insert_to_tail(&b);
  list.insert_to_head(&a);
  list.insert_after(&b, &d);  // after the tail: becomes the tail
  list.insert_after(&b, &c);
  EXPECT_EQ(items(list), (std::vector<Item*>{&a, &b, &c, &d}));
  EXPECT_EQ(list.tail(), &d);

  list.remove(&b);
  list.remove(&d);
  EXPECT_EQ(items(list), (std::vector<Item*>{&a, &c}));
  EXPECT_EQ(list.remove_from_tail(), &c);
  EXPECT_EQ(list.remove_from_head(), &a);
  EXPECT_EQ(list.head(), nullptr);
  EXPECT_EQ(list.tail(), nullptr);
  EXPECT_EQ(list.count(), 0u);
}

TEST(DualList, ArrayInitAndMergeExchangeContents) {
  Item pool[4];
  F_dual_list<Item> full(pool, 4);
  EXPECT_EQ(items(full), (std::vector<Item*>{&pool[0], &pool[1], &pool[2], &pool[3]}));

  F_dual_list<Item> empty;
  full.merge(empty);
  EXPECT_TRUE(full.empty());
  EXPECT_EQ(items(empty).size(), 4u);
  EXPECT_EQ(items(full).size(), 0u);
}

TEST(DualList, IteratorForms) {
  Item a, b;
  F_dual_list<Item> list;
  list.push_back(&a);
  list.push_back(&b);
  auto it = list.begin();
  EXPECT_TRUE(it.good());
  auto old = it++;
  EXPECT_EQ(&*old, &a);
  EXPECT_EQ(it->key, b.key);
  EXPECT_EQ(&*it, &b);
  ++it;
  EXPECT_TRUE(!it);
  EXPECT_EQ(it, list.end());
  EXPECT_EQ(&*list.last(), &b);
}

TEST(SortedList, EqualKeysKeepInsertionOrder) {
  Item a(5), b(3), c(5), d(9), e(1);
  F_sorted_list<Item> list;
  for (Item* item : {&a, &b, &c, &d, &e}) list.insert_to_tail_by_grown(item);
  EXPECT_EQ(items(list), (std::vector<Item*>{&e, &b, &a, &c, &d}));
}

using Held = std::shared_ptr<int>;

TEST(CleanQueue, RefusesWhenFullAndReleasesWhatItHandsOut) {
  CleanQueue<Held, 7> queue;
  auto value = std::make_shared<int>(1);
  for (int i = 0; i < 7; ++i) EXPECT_TRUE(queue.put(value));
  EXPECT_FALSE(queue.put(value));
  EXPECT_FALSE(queue.append(value));
  EXPECT_EQ(value.use_count(), 8);

  Held taken;
  EXPECT_TRUE(queue.get(&taken));
  EXPECT_EQ(value.use_count(), 8) << "the slot must let go when the value is taken out";
  taken.reset();
  EXPECT_EQ(queue.count(), 6u);
}

TEST(CleanQueue, FrontBackAndWrapAround) {
  CleanQueue<Held, 3> queue;
  for (int round = 0; round < 5; ++round) {  // indices wrap several times
    ASSERT_TRUE(queue.put(std::make_shared<int>(1)));
    ASSERT_TRUE(queue.put(std::make_shared<int>(2)));
    ASSERT_TRUE(queue.append(std::make_shared<int>(0)));
    Held out;
    ASSERT_TRUE(queue.preview(&out));
    EXPECT_EQ(*out, 0);
    EXPECT_TRUE(queue.preview(nullptr));
    ASSERT_TRUE(queue.get_last(&out));
    EXPECT_EQ(*out, 2);
    ASSERT_TRUE(queue.get(out));
    EXPECT_EQ(*out, 0);
    ASSERT_TRUE(queue.get(&out));
    EXPECT_EQ(*out, 1);
    EXPECT_TRUE(queue.empty());
    EXPECT_FALSE(queue.get(&out));
    EXPECT_FALSE(queue.get_last(&out));
    EXPECT_FALSE(queue.preview(nullptr));
  }
  EXPECT_EQ(queue.size(), 3u);
  EXPECT_EQ(queue.inc_index(2), 0u);
  EXPECT_EQ(queue.dec_index(0), 2u);
}

TEST(CleanQueue, ClearKeepsValuesUntilOverwrittenOrDestroyed) {
  auto a = std::make_shared<int>(1);
  auto b = std::make_shared<int>(2);
  {
    CleanQueue<Held, 2> queue;
    queue.put(a);
    queue.put(b);
    queue.clear();
    EXPECT_EQ(queue.count(), 0u);
    EXPECT_EQ(a.use_count(), 2);
    EXPECT_TRUE(queue.put(std::make_shared<int>(3)));  // overwrites a's slot
    EXPECT_EQ(a.use_count(), 1);
    EXPECT_EQ(b.use_count(), 2);
    EXPECT_TRUE(queue.put(std::make_shared<int>(4)));
    EXPECT_FALSE(queue.put(std::make_shared<int>(5)));
  }
  EXPECT_EQ(b.use_count(), 1);
}

using Seq = Cyclic<unsigned int, 127u>;

TEST(Cyclic, WrapsModulo128) {
  EXPECT_EQ(unsigned(Seq(130)), 2u);
  Seq s(127);
  EXPECT_EQ(unsigned(s++), 127u);
  EXPECT_EQ(unsigned(s), 0u);
  EXPECT_EQ(unsigned(--s), 127u);
  EXPECT_EQ(unsigned(++s), 0u);
  EXPECT_EQ(unsigned(Seq(127) + Seq(1)), 0u);
  EXPECT_EQ(unsigned(Seq(0) - Seq(1)), 127u);
  EXPECT_EQ(unsigned(Seq(5) - Seq(120)), 13u);
}

TEST(Cyclic, RangeTestRunsForwardAcrossTheWrap) {
  EXPECT_TRUE((Seq(120) <= Seq(2)) <= Seq(5));
  EXPECT_FALSE((Seq(120) <= Seq(6)) <= Seq(5));
  EXPECT_TRUE((Seq(120) <= Seq(120)) <= Seq(5));
  EXPECT_TRUE((Seq(120) <= Seq(5)) <= Seq(5));
  EXPECT_FALSE((Seq(120) <= Seq(119)) <= Seq(5));
  EXPECT_TRUE((Seq(3) <= Seq(3)) <= Seq(3));
}

struct Receiver {
  virtual ~Receiver() = default;
  int id = 0;
  Containers::CyclicList link;
};

TEST(CyclicList, MovesNodesAndFindsTheirOwners) {
  Containers::CyclicList one, two;
  EXPECT_TRUE(one.empty());
  Receiver a, b;
  a.id = 1;
  b.id = 2;
  one.AddToTail(&a.link);
  one.AddToTail(&b.link);

  std::vector<int> ids;
  for (auto it = one.begin(); it != one.end(); ++it) ids.push_back(Containers::offset<Receiver>(*it, &Receiver::link)->id);
  EXPECT_EQ(ids, (std::vector<int>{1, 2}));

  two.AddToTail(&a.link);  // moves it out of the first list
  ASSERT_NE(one.begin(), one.end());
  EXPECT_EQ(Containers::offset<Receiver>(*one.begin(), &Receiver::link), &b);
  {
    Receiver c;
    two.AddToTail(&c.link);
  }  // destroying a listed node unlinks it
  EXPECT_EQ(Containers::offset<Receiver>(*two.begin(), &Receiver::link), &a);
  auto it = two.begin();
  ++it;
  EXPECT_EQ(it, two.end());
}

}  // namespace
