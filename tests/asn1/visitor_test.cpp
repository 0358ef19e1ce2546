// The SEQUENCE traversals and what each hook's result does to them.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/asn1/test_types.h"

namespace {

using namespace test_types;

// Records the hooks it is called with and answers as told.
struct Walker : Visitor {
  int roots = ContinueWithExtensions;
  int root = ContinueWithExtensions;
  int extensions = ContinueWithExtensions;
  int known = ContinueWithExtensions;
  std::vector<std::string> calls;

  bool do_visit(Null&) override { return true; }
  bool do_visit(BOOLEAN&) override { return true; }
  bool do_visit(INTEGER&) override { return true; }
  bool do_visit(ENUMERATED&) override { return true; }
  bool do_visit(OBJECT_IDENTIFIER&) override { return true; }
  bool do_visit(OCTET_STRING&) override { return true; }
  bool do_visit(BIT_STRING&) override { return true; }
  bool do_visit(AbstractString&) override { return true; }
  bool do_visit(BMPString&) override { return true; }
  bool do_visit(CHOICE&) override { return true; }
  bool do_visit(SEQUENCE_OF_Base&) override { return true; }
  bool do_visit(OpenData&) override { return true; }
  bool do_revisit(OpenData&) override { return true; }
  bool do_visit(TypeConstrainedOpenData&) override { return true; }
  bool do_visit(GeneralizedTime&) override { return true; }
  int preVisitExtensionRoots(SEQUENCE&) override {
    calls.push_back("roots");
    return roots;
  }
  int visitExtensionRoot(SEQUENCE&, int index, int id) override {
    calls.push_back("root " + std::to_string(index) + "/" + std::to_string(id));
    return root;
  }
  int preVisitExtensions(SEQUENCE&) override {
    calls.push_back("extensions");
    return extensions;
  }
  int visitKnownExtension(SEQUENCE&, int index, int id) override {
    calls.push_back("known " + std::to_string(index) + "/" + std::to_string(id));
    return known;
  }
  int visitUnknownExtensions(SEQUENCE&) override {
    calls.push_back("unknown");
    return Stop;
  }
};

using Calls = std::vector<std::string>;

TEST(Traversal, FullWalkNumbersExtensionsAfterTheRootOptionals) {
  SEQUENCE s(&kExtensible);
  Walker w;
  EXPECT_TRUE(w.visit(s));
  EXPECT_EQ(w.calls, (Calls{"roots", "root 0/-1", "root 1/0", "extensions", "known 2/1", "known 3/2", "known 4/3",
                            "unknown"}));
}

TEST(Traversal, HookResultsStopOrSkip) {
  SEQUENCE s(&kExtensible);
  Walker roots_only;
  roots_only.roots = Visitor::Continue;
  EXPECT_TRUE(roots_only.visit(s));
  EXPECT_EQ(roots_only.calls, (Calls{"roots", "root 0/-1", "root 1/0"}));

  Walker nothing;
  nothing.roots = Visitor::Stop;
  EXPECT_TRUE(nothing.visit(s));
  EXPECT_EQ(nothing.calls, (Calls{"roots"}));

  Walker failing;
  failing.root = Visitor::Fail;
  EXPECT_FALSE(failing.visit(s));
  EXPECT_EQ(failing.calls.size(), 2u);

  Walker done_early;
  done_early.known = Visitor::Continue;  // in the extension loop a 2 ends the walk with success
  EXPECT_TRUE(done_early.visit(s));
  EXPECT_EQ(done_early.calls, (Calls{"roots", "root 0/-1", "root 1/0", "extensions", "known 2/1"}));

  Walker no_extensions;
  no_extensions.extensions = Visitor::Fail;
  EXPECT_FALSE(no_extensions.visit(s));
}

// Counts what the reading walk shows it.
struct Reader : ConstVisitor {
  std::vector<std::string> calls;
  bool visitExtensionRoot(SEQUENCE const&, int index) override {
    calls.push_back("root " + std::to_string(index));
    return true;
  }
  bool preVisitExtensions(SEQUENCE const&) override {
    calls.push_back("extensions");
    return true;
  }
  bool visitKnownExtension(SEQUENCE const&, int index) override {
    calls.push_back("known " + std::to_string(index));
    return true;
  }
};

TEST(Traversal, ReadingWalkSkipsAbsentFieldsAndEmptyExtensionMaps) {
  SEQUENCE s(&kExtensible);
  Reader plain;
  EXPECT_TRUE(s.accept(plain));
  EXPECT_EQ(plain.calls, (Calls{"root 0"})) << "no extension bit map: no extension hook";
  s.includeOptionalField(3, 4);
  Reader with_extension;
  EXPECT_TRUE(s.accept(with_extension));
  EXPECT_EQ(with_extension.calls, (Calls{"root 0", "extensions", "known 4"}));
}

}  // namespace
