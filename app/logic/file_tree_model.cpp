#include "app/logic/file_tree_model.h"

#include <cstdio>

#include "core/comparison.h"
#include "core/format_size.h"

namespace fw {

int iconFor(const FileNode* node, uint32_t flagsColorize) {
  const uint32_t m = node->flags & (flagsColorize | Folder | HasColor);
  if (m & Folder) {
    if (m & OnlyInTarget) return 1;
    if (m & OnlyInSource) return 2;
    if (m & HasColor) return 3;
    return 0;
  }
  if (m & OnlyInTarget) return 5;
  if (m & OnlyInSource) return 6;
  if (m & NewerInSource) return 7;
  if (m & NewerInTarget) return 8;
  if (m & (SizeDiffers | CaseOrAttrDiffers)) return 9;
  return 4;
}

namespace {

void collect(FileNode* n, bool folders, std::vector<FileNode*>& out) {
  // In order without recursion on the left spine, so deep trees cannot exhaust the stack.
  while (n) {
    collect(n->link[0], folders, out);
    if (isFolder(n) == folders) out.push_back(n);
    n = n->link[1];
  }
}

void excludeTree(FileNode* n, bool excluded) {
  while (n) {
    excludeTree(n->link[0], excluded);
    if (excluded)
      n->flags |= Excluded;
    else
      n->flags &= ~Excluded;
    excludeTree(n->children, excluded);
    n = n->link[1];
  }
}

bool anyExcluded(const FileNode* n) {
  while (n) {
    if ((n->flags & Excluded) || anyExcluded(n->link[0]) || anyExcluded(n->children)) return true;
    n = n->link[1];
  }
  return false;
}

bool takenAlong(const FileNode* folder, bool tick, uint32_t flagsSrc, uint32_t flagsTrg) {
  const uint32_t f = folder->flags;
  const bool onlySource = f & OnlyInSource, onlyTarget = f & OnlyInTarget;
  const bool sourceWins = flagsSrc & CategoryOnlyInSource;
  const bool targetWinsOnlyTarget = flagsTrg & CategoryOnlyInTarget;
  const bool targetWinsOnlySource = flagsTrg & CategoryOnlyInSource;
  const bool sourceWinsOnlyTarget = flagsSrc & CategoryOnlyInTarget;
  if (tick) return (onlySource && sourceWins) || (onlyTarget && targetWinsOnlyTarget);
  return (onlySource && targetWinsOnlySource) || (onlyTarget && sourceWinsOnlyTarget);
}

}  // namespace

std::vector<FileNode*> childrenInOrder(FileNode* siblings) {
  std::vector<FileNode*> out;
  collect(siblings, true, out);
  collect(siblings, false, out);
  return out;
}

TickState tickStateOf(const FileNode* node) {
  if (node->flags & Excluded) return TickState::Unticked;
  return anyExcluded(node->children) ? TickState::PartlyTicked : TickState::Ticked;
}

TickStates::TickStates(const FileNode* top) {
  if (walk(top->children) && !(top->flags & Excluded)) partly_.insert(top);
}

// Whether anything in the sibling tree, or below any of its nodes, is Excluded; records the
// nodes it passes that are partly ticked. Without recursion on the right links, as collect.
bool TickStates::walk(const FileNode* n) {
  bool any = false;
  while (n) {
    if (walk(n->link[0])) any = true;
    const bool excluded = n->flags & Excluded;
    if (walk(n->children) && !excluded) {
      partly_.insert(n);
      any = true;
    }
    if (excluded) any = true;
    n = n->link[1];
  }
  return any;
}

TickState TickStates::of(const FileNode* node) const {
  if (node->flags & Excluded) return TickState::Unticked;
  return partly_.count(node) ? TickState::PartlyTicked : TickState::Ticked;
}

void setExcludedBelow(FileNode* node, bool excluded) { excludeTree(node->children, excluded); }

size_t applyCheck(FileNode* node, const std::vector<FileNode*>& ancestors, bool tick,
                  uint32_t flagsSrc, uint32_t flagsTrg) {
  auto mark = [tick](FileNode* n) {
    if (tick)
      n->flags &= ~Excluded;
    else
      n->flags |= Excluded;
  };
  mark(node);
  size_t taken = 0;
  for (FileNode* a : ancestors) {
    if (!takenAlong(a, tick, flagsSrc, flagsTrg)) break;
    mark(a);
    ++taken;
  }
  setExcludedBelow(node, !tick);
  return taken;
}

std::u16string entryPath(const std::vector<const char16_t*>& names,
                         const std::u16string* pairRootReplacement) {
  std::u16string path;
  for (size_t i = 0; i < names.size(); ++i) {
    if (i > 0) path += u'\\';
    if (i == 0 && pairRootReplacement)
      path += *pairRootReplacement;
    else
      path += names[i];
  }
  return path;
}

std::u16string folderPart(const std::u16string& path) {
  const size_t slash = path.rfind(u'\\');
  return slash == std::u16string::npos ? std::u16string() : path.substr(0, slash + 1);
}

int pairRowOf(const FileNode* firstRoot, const FileNode* pairRoot) {
  int row = 0;
  for (const FileNode* r = firstRoot; r; r = r->link[1], ++row)
    if (r == pairRoot) return row;
  return -1;
}

std::string fileCountsText(const SideCounts& c) {
  char buffer[64];
  std::snprintf(buffer, sizeof buffer, "%u\n%u\n%u\n%u", c.filesExisting, c.filesAdd,
                c.filesModify, c.filesDelete);
  return buffer;
}

std::string byteCountsText(const SideCounts& c, char decimalPoint) {
  return formatSize(c.bytesExisting, decimalPoint) + "\n" + formatSize(c.bytesAdd, decimalPoint) +
         "\n" + formatSize(c.bytesDelete, decimalPoint) + "\n";
}

std::string fileDetailText(const LocalTimeParts& t, uint8_t attrByte) {
  char buffer[96];
  std::snprintf(buffer, sizeof buffer, "  %04d-%02d-%02d %02d:%02d\n  Attr:  %s%s%s%s", t.year,
                t.month, t.day, t.hour, t.minute, (attrByte & 0x01) ? "A" : "",
                (attrByte & 0x08) ? "S" : "", (attrByte & 0x02) ? "H" : "",
                (attrByte & 0x04) ? "R" : "");
  return buffer;
}

}  // namespace fw
