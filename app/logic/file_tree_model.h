// The File Tree window's window-free rules: which icon an entry shows, the order in which a
// folder's entries are listed, what ticking or unticking an entry does to the Excluded marks,
// how an entry's path on disk is put together, and the texts of the left panel.
#ifndef FERRYWICK_APP_LOGIC_FILE_TREE_MODEL_H
#define FERRYWICK_APP_LOGIC_FILE_TREE_MODEL_H

#include <cstdint>
#include <string>
#include <unordered_set>
#include <vector>

#include "core/file_node.h"

namespace fw {

// Index into the tree's image list: 0 plain folder, 1 red, 2 green, 3 blue folder; 4 plain
// file, 5 red, 6 green, 7 cyan, 8 pink, 9 yellow file.
int iconFor(const FileNode* node, uint32_t flagsColorize);

// A folder's entries as the tree lists them: the folders first, then the rest, each group in
// the sibling tree's ascending order.
std::vector<FileNode*> childrenInOrder(FileNode* siblings);

// Sets (excluded) or clears Excluded on every node below node, not on node itself.
void setExcludedBelow(FileNode* node, bool excluded);

// What an entry's check box shows; the values are the tree's state image indices.
enum class TickState { Unticked = 1, Ticked = 2, PartlyTicked = 3 };
// Unticked when the node is Excluded; partly ticked when it is not but something below it is;
// ticked otherwise. Walks everything below the node.
TickState tickStateOf(const FileNode* node);

// The boxes of a node and of everything below it, worked out in one walk: what tickStateOf
// gives for each of them, without walking each one's subtree again. Valid until an Excluded
// mark at or below the node changes.
class TickStates {
 public:
  explicit TickStates(const FileNode* top);
  // node must be the top node or lie below it.
  TickState of(const FileNode* node) const;

 private:
  bool walk(const FileNode* siblings);
  std::unordered_set<const FileNode*> partly_;  // not Excluded, something below them is
};

// The marks of one check box toggle. ancestors: the node's ancestors, nearest first (the
// Root node may end the list). tick: the box is about to become ticked. Clears or sets the
// node's Excluded mark and that of everything below it, and of each ancestor taken along: on
// ticking the folders the sync would create for the node (only in source with the source
// winning, only in target with the target winning), on unticking those it would delete. The
// climb stops at the first ancestor not taken along. Returns how many were taken along.
size_t applyCheck(FileNode* node, const std::vector<FileNode*>& ancestors, bool tick,
                  uint32_t flagsSrc, uint32_t flagsTrg);

// An entry's path: each name from the pair root down, joined by backslashes. With a
// replacement, that text stands in for the pair root's name (the row's source path).
std::u16string entryPath(const std::vector<const char16_t*>& namesFromPairRoot,
                         const std::u16string* pairRootReplacement = nullptr);
// The folder part of that path: everything up to and including the last backslash.
std::u16string folderPart(const std::u16string& path);

// The row of a pair root: its position in the chain of roots; -1 when it is not in it.
int pairRowOf(const FileNode* firstRoot, const FileNode* pairRoot);

// The left panel's texts for one side of a node.
std::string fileCountsText(const SideCounts& c);
std::string byteCountsText(const SideCounts& c, char decimalPoint);
struct LocalTimeParts {
  int year, month, day, hour, minute;
};
std::string fileDetailText(const LocalTimeParts& t, uint8_t attrByte);

}  // namespace fw

#endif  // FERRYWICK_APP_LOGIC_FILE_TREE_MODEL_H
