#include "core/ignore_list.h"

#include "platform/case_map.h"

namespace fw {

// A small state machine: p walks the list, n the name; for an asterisk, star is the list
// position just after it and resume the name position where the next search starts.
bool matchesIgnoreList(const char16_t* list, const char16_t* name) {
  if (!list || !name) return false;
  const char16_t* lower = lowerCaseTable();
  const char16_t* p = list;
  const char16_t* n = name;
  const char16_t* star = nullptr;
  const char16_t* resume = nullptr;
  bool starMode = false;
  enum { ElementStart, Compare, Search, SkipElement } step = ElementStart;

  for (;;) {
    switch (step) {
      case ElementStart:
        while (*p == u' ') ++p;
        starMode = false;
        step = Compare;
        break;

      case Compare: {
        while (lower[*p] == lower[*n]) {
          if (*p == 0) return true;
          ++p;
          ++n;
        }
        char16_t c = *p;
        if (c == u'*') {
          const char16_t* q = p + 1;
          if (*q == 0 || *q == u';') return true;
          if (*q == u' ') {
            while (*q == u' ') ++q;
            if (*q == 0 || *q == u';') return true;
          }
          if (starMode) {
            step = SkipElement;
          } else {
            star = p + 1;
            resume = n;
            step = Search;
          }
        } else if (c == u';') {
          if (*n == 0) return true;
          if (starMode) {
            step = Search;
          } else {
            ++p;
            n = name;
            step = ElementStart;
          }
        } else if (starMode) {
          step = Search;
        } else {
          if (c == 0) return false;
          step = SkipElement;
        }
        break;
      }

      case Search: {
        p = star;
        const char16_t* m = resume;
        while (*m && lower[*m] != lower[*p]) ++m;
        if (*m == 0) {
          step = SkipElement;
        } else {
          n = m;
          resume = m + 1;
          starMode = true;
          step = Compare;
        }
        break;
      }

      case SkipElement:
        while (*p != u';' && *p != 0) ++p;
        if (*p == 0) return false;
        ++p;
        n = name;
        step = ElementStart;
        break;
    }
  }
}

}  // namespace fw
