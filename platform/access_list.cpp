#include "platform/access_list.h"

namespace fw {
namespace {

// Tags of the entries (the kernel's ACL_USER_OBJ ... ACL_OTHER).
constexpr uint16_t kUserObj = 0x01;
constexpr uint16_t kUser = 0x02;
constexpr uint16_t kGroupObj = 0x04;
constexpr uint16_t kGroup = 0x08;
constexpr uint16_t kMask = 0x10;
constexpr uint16_t kOther = 0x20;
constexpr uint32_t kVersion = 2;
constexpr size_t kEntrySize = 8;

uint32_t littleEndian(const unsigned char* p, int bytes) {
  uint32_t v = 0;
  for (int i = bytes - 1; i >= 0; --i) v = (v << 8) | p[i];
  return v;
}

}  // namespace

bool bitsWithoutAccessList(const void* value, size_t size, uint32_t* bits) {
  const auto* p = static_cast<const unsigned char*>(value);
  if (size < 4 || (size - 4) % kEntrySize != 0 || littleEndian(p, 4) != kVersion) return false;
  uint32_t owner = 0, group = 0, other = 0, mask = 7, named = 7;
  bool hasOwner = false, hasGroup = false, hasOther = false, hasNamed = false;
  for (size_t at = 4; at < size; at += kEntrySize) {
    uint32_t tag = littleEndian(p + at, 2);
    uint32_t perm = littleEndian(p + at + 2, 2) & 7;
    switch (tag) {
      case kUserObj: owner = perm, hasOwner = true; break;
      case kGroupObj: group = perm, hasGroup = true; break;
      case kOther: other = perm, hasOther = true; break;
      case kMask: mask = perm; break;
      case kUser:
      case kGroup: named &= perm, hasNamed = true; break;
      default: return false;
    }
  }
  if (!hasOwner || !hasGroup || !hasOther) return false;
  // A named entry grants what the mask lets through; so does the owning group's. Without the
  // list, a named user in the owning group gets the group bits, any other named user or
  // member of a named group the other bits.
  uint32_t leastNamed = hasNamed ? (named & mask) : 7;
  group &= mask & leastNamed;
  other &= leastNamed;
  *bits = (owner << 6) | (group << 3) | other;
  return true;
}

}  // namespace fw
