#include "core/sibling_tree.h"

#include "platform/case_map.h"

namespace fw {
namespace {

bool isRed(const FileNode* n) { return n && (n->flags & Red); }

FileNode* rotate(FileNode* x, int d) {
  int e = 1 - d;
  FileNode* s = x->link[e];
  x->link[e] = s->link[d];
  s->link[d] = x;
  x->flags |= Red;
  s->flags &= ~Red;
  return s;
}

}  // namespace

int compareNames(const char16_t* a, const char16_t* b) {
  const char16_t* lower = lowerCaseTable();
  for (;; ++a, ++b) {
    // Only the terminator maps to 0, so a name that ends first compares lower here.
    unsigned x = lower[*a];
    unsigned y = lower[*b];
    if (x != y) return x < y ? -1 : 1;
    if (*a == 0) return 0;
  }
}

int compareNodeNames(const char16_t* a, const char16_t* b) {
  int c = compareNames(a, b);
  if (c != 0) return c;
  for (;; ++a, ++b) {
    if (*a != *b) return static_cast<unsigned>(*a) < static_cast<unsigned>(*b) ? -1 : 1;
    if (*a == 0) return 0;
  }
}

FileNode* insertNode(FileNode* root, FileNode* node) {
  if (!root) {
    node->flags |= Red;
    return node;
  }
  int d = compareNodeNames(root->name, node->name) < 0 ? 1 : 0;
  int e = 1 - d;
  root->link[d] = insertNode(root->link[d], node);
  FileNode* k = root->link[d];
  if (isRed(k)) {
    if (isRed(root->link[e])) {
      root->flags |= Red;
      root->link[0]->flags &= ~Red;
      root->link[1]->flags &= ~Red;
    } else if (isRed(k->link[d])) {
      root = rotate(root, e);
    } else if (isRed(k->link[e])) {
      root->link[d] = rotate(k, d);
      root = rotate(root, e);
    }
  }
  return root;
}

void insertInto(FileNode** tree, FileNode* node) {
  node->link[0] = node->link[1] = nullptr;
  node->flags &= ~static_cast<uint32_t>(Red);
  *tree = insertNode(*tree, node);
  (*tree)->flags &= ~static_cast<uint32_t>(Red);
}

FileNode* findNode(FileNode* root, const char16_t* name) {
  while (root) {
    int c = compareNodeNames(root->name, name);
    if (c == 0) return root;
    root = root->link[c < 0 ? 1 : 0];
  }
  return nullptr;
}

}  // namespace fw
