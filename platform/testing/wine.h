// Whether the tests run under Wine, for the few checks where Wine is known to differ from
// Windows. Always false outside the Windows build.
#ifndef FERRYWICK_PLATFORM_TESTING_WINE_H
#define FERRYWICK_PLATFORM_TESTING_WINE_H

namespace fw {

#ifdef _WIN32
bool runningUnderWine();
#else
inline bool runningUnderWine() { return false; }
#endif

}  // namespace fw

#endif  // FERRYWICK_PLATFORM_TESTING_WINE_H
