#include "app/logic/main_layout.h"

#include <algorithm>

namespace fw {

SidePanelLayout layoutSidePanel(int left, int top, int width, int height, int kindBoxChars) {
  SidePanelLayout p;
  const int boxWidth = std::min(width - 100, std::max(100, 7 * kindBoxChars));
  const int margin = (width - boxWidth - 100) / 2;
  p.label = {left + margin, top + 4, 50, 16};
  p.kindBox = {left + margin + 65, top, boxWidth, 200};
  p.browse = {left + margin + boxWidth + 75, top + 1, 20, 20};
  p.list = {left, top + 35, width, height - 40};
  return p;
}

MainLayout layoutMainWindow(int w, int h, const int kindBoxChars[2]) {
  MainLayout m;
  const int bottom = h - 70;
  m.side[0] = layoutSidePanel(20, 10, (w / 2 - 10) - 20, bottom - 10, kindBoxChars[0]);
  m.side[1] = layoutSidePanel(w / 2 + 10, 10, (w - 20) - (w / 2 + 10), bottom - 10,
                              kindBoxChars[1]);
  m.add = {w / 2 - 179, h - 50, 50, 25};
  m.edit = {w / 2 - 119, h - 50, 50, 25};
  m.remove = {w / 2 - 59, h - 50, 50, 25};
  m.compare = {w / 2 + 10, h - 56, 90, 37};
  return m;
}

}  // namespace fw
