// POSIX access control lists as the system stores them in the extended attribute
// "system.posix_acl_access": what a copy may keep of one where its file system stores none.
#ifndef FERRYWICK_PLATFORM_ACCESS_LIST_H
#define FERRYWICK_PLATFORM_ACCESS_LIST_H

#include <cstddef>
#include <cstdint>

namespace fw {

inline constexpr const char* kAccessListName = "system.posix_acl_access";

// The permission bits 0777 under which nobody may do more with a file than its access list
// (value, size bytes: a version word 2, then entries of tag, permissions and id, all
// little-endian) lets them. The owner keeps its own entry; the group bits are the owning
// group's entry as the mask limits it, not the mask (which the group bits stand for while
// the list is there); and since without the list a named user or group falls back to the
// group or the other bits, both are narrowed to what every named entry grants too. False,
// with *bits untouched, when value is not such a list.
bool bitsWithoutAccessList(const void* value, size_t size, uint32_t* bits);

}  // namespace fw

#endif  // FERRYWICK_PLATFORM_ACCESS_LIST_H
