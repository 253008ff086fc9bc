#include "app/logic/summary_text.h"

#include <cstdint>
#include <cstdio>

#include "core/format_size.h"
#include "platform/text.h"

namespace fw {
namespace {

void appendCount(std::string& out, uint32_t count) {
  char buffer[16];
  std::snprintf(buffer, sizeof buffer, "%d  \n", static_cast<int32_t>(count));
  out += buffer;
}

void appendSize(std::string& out, uint64_t bytes, char decimalPoint) {
  out += formatSize(bytes, decimalPoint);
  out += '\n';
}

}  // namespace

std::u16string okColumnText(const SyncStats& ok, char decimalPoint) {
  std::string out;
  appendCount(out, valueOf(ok.untouchedFiles));
  appendCount(out, valueOf(ok.addedFiles));
  appendCount(out, valueOf(ok.modifiedFiles));
  appendCount(out, valueOf(ok.deletedFiles));
  out += '\n';
  appendSize(out, valueOf(ok.untouchedBytes), decimalPoint);
  appendSize(out, valueOf(ok.addedBytes), decimalPoint);
  appendSize(out, valueOf(ok.deletedBytes), decimalPoint);
  return toUtf16(out);
}

std::u16string failedColumnText(const SyncStats& failed, char decimalPoint) {
  std::string out = "\n";
  appendCount(out, valueOf(failed.addedFiles));
  appendCount(out, valueOf(failed.modifiedFiles));
  appendCount(out, valueOf(failed.deletedFiles));
  out += "\n\n";
  appendSize(out, valueOf(failed.addedBytes), decimalPoint);
  appendSize(out, valueOf(failed.deletedBytes), decimalPoint);
  return toUtf16(out);
}

ScreenPoint centredOrigin(const ScreenRect& owner, const ScreenRect& window) {
  const int ownerWidth = owner.right - owner.left, ownerHeight = owner.bottom - owner.top;
  const int width = window.right - window.left, height = window.bottom - window.top;
  return {owner.left + (ownerWidth - width) / 2, owner.top + (ownerHeight - height) / 2};
}

ScreenPoint originInside(const ScreenRect& workArea, const ScreenRect& window) {
  // The far edge first, then the near one: the near edge wins when the window does not fit.
  auto clamp = [](int origin, int size, int low, int high) {
    if (origin + size > high) origin = high - size;
    if (origin < low) origin = low;
    return origin;
  };
  return {clamp(window.left, window.right - window.left, workArea.left, workArea.right),
          clamp(window.top, window.bottom - window.top, workArea.top, workArea.bottom)};
}

}  // namespace fw
