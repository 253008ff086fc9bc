// The ignore list: name patterns separated by ";" ("thumbs.db" by default); "*" stands for any
// run of units. Matching ignores letter case.
#ifndef FERRYWICK_CORE_IGNORE_LIST_H
#define FERRYWICK_CORE_IGNORE_LIST_H

namespace fw {

inline constexpr char16_t kDefaultIgnoreList[] = u"thumbs.db";

// True when the name is to be left out. A missing list or name gives false.
//
// An element's leading spaces are skipped; every other unit stands for itself. An element may
// hold one asterisk followed by more text; an asterisk that ends its element (spaces aside)
// matches the rest of any name. A second asterisk followed by text makes the element match
// nothing. There is no other wildcard.
bool matchesIgnoreList(const char16_t* list, const char16_t* name);

}  // namespace fw

#endif  // FERRYWICK_CORE_IGNORE_LIST_H
