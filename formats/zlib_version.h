// The zlib version that the stream initialisers are told (deflateInit_, inflateInit_ and their
// kin): any 1.x library accepts it, so both builds ask for the same stream format.
#ifndef FERRYWICK_FORMATS_ZLIB_VERSION_H
#define FERRYWICK_FORMATS_ZLIB_VERSION_H

namespace fw {

inline constexpr const char kZlibVersion[] = "1.2.3";

}  // namespace fw

#endif  // FERRYWICK_FORMATS_ZLIB_VERSION_H
