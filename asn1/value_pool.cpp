// Free lists of value blocks by size class. The process has one thread. Under the address
// sanitizer every block goes to the general heap, so that a stale pointer to a deleted
// value is still caught.

#include <new>

#include "asn1/abstract_data.h"

#if defined(__SANITIZE_ADDRESS__)
#define GW_VALUE_POOL 0
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define GW_VALUE_POOL 0
#endif
#endif
#ifndef GW_VALUE_POOL
#define GW_VALUE_POOL 1
#endif

namespace ASN1 {

namespace {

constexpr std::size_t kGranule = 16;
constexpr std::size_t kClasses = 32;  // blocks up to 512 bytes
// Blocks kept per class: a burst of values does not hold its memory for ever.
constexpr unsigned kKeepPerClass = 4096;

struct FreeBlock {
  FreeBlock* next;
};

struct SizeClass {
  FreeBlock* head = nullptr;
  unsigned count = 0;
};

SizeClass g_classes[kClasses];

// The class of a block size, or kClasses when it is too large to keep.
std::size_t class_of(std::size_t size) { return size == 0 ? 0 : (size - 1) / kGranule; }

}  // namespace

void* AbstractData::operator new(std::size_t size) {
  std::size_t const c = class_of(size);
  if (!GW_VALUE_POOL || c >= kClasses) return ::operator new(size);
  SizeClass& sc = g_classes[c];
  if (FreeBlock* const block = sc.head) {
    sc.head = block->next;
    --sc.count;
    return block;
  }
  return ::operator new((c + 1) * kGranule);
}

void AbstractData::operator delete(void* block, std::size_t size) {
  if (!block) return;
  std::size_t const c = class_of(size);
  if (!GW_VALUE_POOL || c >= kClasses) {
    ::operator delete(block);
    return;
  }
  SizeClass& sc = g_classes[c];
  if (sc.count >= kKeepPerClass) {
    ::operator delete(block);
    return;
  }
  sc.head = new (block) FreeBlock{sc.head};
  ++sc.count;
}

}  // namespace ASN1
