// The File Tree window (dialog 104): the last comparison as a tree with check boxes, the
// per-side counts of the selected entry, and the commands that follow a comparison.
#ifndef FERRYWICK_APP_FILE_TREE_WINDOW_H
#define FERRYWICK_APP_FILE_TREE_WINDOW_H

#include <windows.h>
#include <commctrl.h>

#include "core/file_node.h"

namespace fw {

// The synthetic top folder "Root" whose children are the comparison's chain of roots.
FileNode& fileTreeRootNode();

// The node a tree item stands for.
FileNode* nodeOfItem(HWND tree, HTREEITEM item);

// Places the tree and the buttons for the client size (pixels).
void layoutFileTree(HWND dialog);

}  // namespace fw

#endif  // FERRYWICK_APP_FILE_TREE_WINDOW_H
