// The texts of the Sync finished dialog's two value columns, and the centring of a window over
// its owner.
#ifndef FERRYWICK_APP_LOGIC_SUMMARY_TEXT_H
#define FERRYWICK_APP_LOGIC_SUMMARY_TEXT_H

#include <string>

#include "sync/sync_stats.h"

namespace fw {

// Eight lines matching the label column: four file counts (each followed by two spaces), an
// empty line, three byte totals (untouched, added, deleted) as formatSize gives them.
std::u16string okColumnText(const SyncStats& ok, char decimalPoint = '.');
// The same lines with the two untouched rows empty.
std::u16string failedColumnText(const SyncStats& failed, char decimalPoint = '.');

struct ScreenRect {
  int left, top, right, bottom;
};
struct ScreenPoint {
  int x, y;
};
// Where a window's top left corner goes to sit in the middle of its owner's rectangle; the
// halves truncate towards zero, and nothing keeps the result on the screen.
ScreenPoint centredOrigin(const ScreenRect& owner, const ScreenRect& window);
// Where a window's top left corner goes so that the whole window lies inside the work area,
// moved as little as it must. A window wider or taller than the area keeps its left or top
// edge (and so its title bar) on the area's left or top edge.
ScreenPoint originInside(const ScreenRect& workArea, const ScreenRect& window);

}  // namespace fw

#endif  // FERRYWICK_APP_LOGIC_SUMMARY_TEXT_H
