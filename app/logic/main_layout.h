// Where the main window's controls go for a given client size, in pixels.
#ifndef FERRYWICK_APP_LOGIC_MAIN_LAYOUT_H
#define FERRYWICK_APP_LOGIC_MAIN_LAYOUT_H

namespace fw {

struct ControlBox {
  int x = 0, y = 0, width = 0, height = 0;
};

struct SidePanelLayout {
  ControlBox label, kindBox, browse, list;
};

struct MainLayout {
  SidePanelLayout side[2];
  ControlBox add, edit, remove, compare;
};

// One column: the panel at (left, top), width by height, whose kind box's longest entry has
// kindBoxChars characters. The kind box is max(100, 7 per character) wide, never wider than
// the panel less 100; label, box and browse button sit centred above the list.
SidePanelLayout layoutSidePanel(int left, int top, int width, int height, int kindBoxChars);

// The whole client area: two panels with a 20-pixel gap, the row buttons and "Compare" below.
MainLayout layoutMainWindow(int clientWidth, int clientHeight, const int kindBoxChars[2]);

// The smallest size the main window can be dragged to.
inline constexpr int kMainMinWidth = 500;
inline constexpr int kMainMinHeight = 220;

}  // namespace fw

#endif  // FERRYWICK_APP_LOGIC_MAIN_LAYOUT_H
