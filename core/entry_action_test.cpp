#include "core/entry_action.h"

#include <gtest/gtest.h>

namespace fw {
namespace {

constexpr uint32_t kDefSrc = kDefaultFlagsSrc;
constexpr uint32_t kDefTrg = kDefaultFlagsTrg;
constexpr uint32_t kMirrorSrc = 0xFC;  // every category to the target, nothing back

struct ActionCase {
  const char* what;
  uint32_t flags;
  uint32_t flagsSrc;
  uint32_t flagsTrg;
  EntryChange change;
  int changes;
  bool carried;
};

constexpr uint32_t kExcl = Excluded;
constexpr uint32_t kKept = KeptForMissingRoot;

const ActionCase kActionCases[] = {
    {"new in source, default", OnlyInSource, kDefSrc, kDefTrg, EntryChange::Add, 1, true},
    {"new in target, default", OnlyInTarget, kDefSrc, kDefTrg, EntryChange::Add, 0, false},
    {"target only, mirror", OnlyInTarget, kMirrorSrc, 0, EntryChange::Delete, 1, false},
    {"source only, target wins it", OnlyInSource, 0, OnlyInSource, EntryChange::Delete, 0, false},
    {"source only, both masks: source wins", OnlyInSource, OnlyInSource, OnlyInSource,
     EntryChange::Add, 1, true},
    {"target only, missing source root", OnlyInTarget | kKept, kMirrorSrc, 0, EntryChange::None, -1,
     false},
    {"source only, missing target root", OnlyInSource | kKept, kMirrorSrc, 0, EntryChange::Add, 1,
     true},
    {"newer in source", NewerInSource, kDefSrc, kDefTrg, EntryChange::Replace, 1, true},
    {"newer in target", NewerInTarget, kDefSrc, kDefTrg, EntryChange::Replace, 0, false},
    {"newer in target, mirror", NewerInTarget, kMirrorSrc, 0, EntryChange::Replace, 1, true},
    {"time decides before size", NewerInTarget | SizeDiffers, kDefSrc, kDefTrg,
     EntryChange::Replace, 0, false},
    {"size alone", SizeDiffers, kDefSrc, kDefTrg, EntryChange::Replace, 1, true},
    {"attributes alone", CaseOrAttrDiffers, kDefSrc, kDefTrg, EntryChange::Attributes, 1,
     false},
    {"attributes back to the source", CaseOrAttrDiffers, 0, CaseOrAttrDiffers,
     EntryChange::Attributes, 0, false},
    {"content and attributes", NewerInSource | CaseOrAttrDiffers, kDefSrc, kDefTrg,
     EntryChange::Replace, 1, true},
    {"no mask holds the category", NewerInSource, 0, 0, EntryChange::None, -1, false},
    {"category bits only count", NewerInSource, HasAction | Excluded, 0, EntryChange::None, -1,
     false},
    {"unticked", NewerInSource | kExcl, kDefSrc, kDefTrg, EntryChange::None, -1, false},
    {"conflict, whatever the masks", OnlyInSource | Conflict | kExcl, 0, 0, EntryChange::Conflict,
     -1, false},
    {"ignored by the receiving side", NewerInSource | Ignored | kExcl, kDefSrc, kDefTrg,
     EntryChange::None, -1, true},
    {"new empty folder", Folder | OnlyInSource, kDefSrc, kDefTrg, EntryChange::Add, 1,
     true},
    {"folder only in target, mirror", Folder | OnlyInTarget, kMirrorSrc, 0, EntryChange::Delete, 1,
     false},
};

// Every combination in the table, and the marking pass counting exactly what actionOf says.
TEST(EntryActionTest, TableOfFlagsAndMasks) {
  for (const ActionCase& c : kActionCases) {
    SCOPED_TRACE(c.what);
    MarkMasks masks = makeMarkMasks(c.flagsSrc, c.flagsTrg, 0);
    FileNode node{};
    node.flags = c.flags;
    node.side[0].size = (c.flags & OnlyInTarget) ? 0 : 3;
    node.side[1].size = (c.flags & OnlyInSource) ? 0 : 5;
    EntryAction a = actionOf(&node, masks);
    EXPECT_EQ(a.what, c.change);
    EXPECT_EQ(a.changes, c.changes);
    EXPECT_EQ(a.carriedData, c.carried);
    if (a.what == EntryChange::Delete) {
      EXPECT_NE(c.flags & deletionMask(masks), 0u);
    }

    if (isFolder(&node)) continue;
    markTree(&node, masks, nullptr);
    const SideCounts* n = node.counts;
    uint32_t adds = n[0].filesAdd + n[1].filesAdd;
    uint32_t modifies = n[0].filesModify + n[1].filesModify;
    uint32_t deletes = n[0].filesDelete + n[1].filesDelete;
    EXPECT_EQ(adds, a.what == EntryChange::Add ? 1u : 0u);
    EXPECT_EQ(deletes, a.what == EntryChange::Delete ? 1u : 0u);
    bool modifies1 = a.what == EntryChange::Replace || a.what == EntryChange::Attributes;
    EXPECT_EQ(modifies, modifies1 ? 1u : 0u);
    if (a.changes >= 0) {
      const SideCounts& changed = n[a.changes];
      EXPECT_EQ(changed.filesAdd + changed.filesModify + changed.filesDelete, 1u);
      // Bytes move only with content: none for an attribute update.
      bool content = a.what != EntryChange::Attributes;
      EXPECT_EQ(changed.bytesAdd != 0 || changed.bytesDelete != 0, content);
    }
  }
}

}  // namespace
}  // namespace fw
