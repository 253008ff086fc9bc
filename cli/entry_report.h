// The entries of a comparison as the command line reports them, in walk order: ascending name
// without regard to case, depth first, a folder before its entries.
#ifndef FERRYWICK_CLI_ENTRY_REPORT_H
#define FERRYWICK_CLI_ENTRY_REPORT_H

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

#include "core/entry_action.h"
#include "core/file_node.h"

namespace fw {

struct EntryRow {
  size_t row = 0;            // index of the folder pair
  std::string path;          // below the row's root, names joined with "/", UTF-8
  const FileNode* node = nullptr;
  EntryAction action;        // what a sync with the masks does to it (entry_action.h)
  bool onSource = false;     // the entry exists on that side
  bool onTarget = false;
};

// Calls visit for every entry below the chain of root nodes that is in a category or is a
// Conflict (a file against a folder of the same name is in none).
void forEachCategorizedEntry(FileNode* roots, uint32_t flagsSrc, uint32_t flagsTrg,
                             const std::function<void(const EntryRow&)>& visit);

// "none", "add", "modify" (Replace, Attributes), "delete"; a Conflict is "none": it is left alone.
const char* actionName(const EntryAction& action);
// The names of the category bits of flags, e.g. "OnlyInSource", in bit order, then "Conflict"
// for an entry that cannot be paired.
std::string categoryNames(uint32_t flags, const char* separator);

}  // namespace fw

#endif  // FERRYWICK_CLI_ENTRY_REPORT_H
