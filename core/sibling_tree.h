// The sibling tree: the entries of one folder as a red-black search tree ordered by name
// without regard to letter case, and names equal that way (case twins such as "xt_MARK.h" and
// "xt_mark.h", which a case-sensitive file system holds side by side) by their exact units
// (link[0]: names before, link[1]: names after).
#ifndef FERRYWICK_CORE_SIBLING_TREE_H
#define FERRYWICK_CORE_SIBLING_TREE_H

#include "core/file_node.h"
#include "core/result.h"

namespace fw {

// Compares two NUL-terminated names unit by unit after lower-casing each unit (the build's
// table, platform/case_map.h) as unsigned numbers; a name that ends first sorts first.
// Returns <0, 0 or >0.
int compareNames(const char16_t* a, const char16_t* b);

// The tree's order: compareNames, then the exact units for names equal without regard to case.
int compareNodeNames(const char16_t* a, const char16_t* b);

// Inserts a prepared node (name set, links empty) and returns the tree's new root; the caller
// stores it and clears Red on it.
FileNode* insertNode(FileNode* root, FileNode* node);

// Inserts node into the tree at *tree, its links and colour reset first (it may come from
// another tree), and keeps the root black.
void insertInto(FileNode** tree, FileNode* node);

// The node whose name is exactly name, or null.
FileNode* findNode(FileNode* root, const char16_t* name);

// Calls visit(node) for every node of the tree in ascending order (link[0], node, link[1]);
// visit returns an Rc, and the first one that is not Ok ends the walk and is returned.
// Iterative. Only link[0] steps are stacked: a red-black tree is at most 2 log2(n) deep, and
// the chain of root nodes runs through link[1] alone.
template <typename Visit>
Rc walkInOrder(FileNode* root, Visit&& visit) {
  FileNode* stack[128];
  int depth = 0;
  FileNode* n = root;
  while (n || depth > 0) {
    while (n) {
      stack[depth++] = n;
      n = n->link[0];
    }
    n = stack[--depth];
    FileNode* next = n->link[1];
    Rc rc = visit(n);
    if (rc != Rc::Ok) return rc;
    n = next;
  }
  return Rc::Ok;
}

// The same walk for visits that cannot fail.
template <typename Visit>
void forEachInOrder(FileNode* root, Visit&& visit) {
  walkInOrder(root, [&](FileNode* n) {
    visit(n);
    return Rc::Ok;
  });
}

}  // namespace fw

#endif  // FERRYWICK_CORE_SIBLING_TREE_H
