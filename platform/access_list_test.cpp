#include "platform/access_list.h"

#include <gtest/gtest.h>

#include <initializer_list>
#include <string>

namespace fw {
namespace {

struct Entry {
  uint16_t tag;
  uint16_t perm;
  uint32_t id;
};

// The stored form of a list: version 2, then each entry, little-endian.
std::string stored(std::initializer_list<Entry> entries, uint32_t version = 2) {
  std::string out;
  auto put = [&](uint32_t v, int bytes) {
    for (int i = 0; i < bytes; ++i) out += static_cast<char>((v >> (8 * i)) & 0xff);
  };
  put(version, 4);
  for (const Entry& e : entries) {
    put(e.tag, 2);
    put(e.perm, 2);
    put(e.id, 4);
  }
  return out;
}

constexpr uint32_t kNone = 0xffffffff;

uint32_t bitsOf(const std::string& list) {
  uint32_t bits = 01000;  // untouched on refusal
  EXPECT_TRUE(bitsWithoutAccessList(list.data(), list.size(), &bits));
  return bits;
}

TEST(AccessListTest, TheBitsGrantNobodyMoreThanTheList) {
  // 0644 with u:nobody:rw: the mode's group bits are the mask (rw), the owning group has r.
  EXPECT_EQ(bitsOf(stored({{1, 6, kNone}, {2, 6, 65534}, {4, 4, kNone}, {0x10, 6, kNone},
                           {0x20, 4, kNone}})),
            0644u);
  // A mask narrower than the owning group's entry limits it.
  EXPECT_EQ(bitsOf(stored({{1, 7, kNone}, {4, 7, kNone}, {8, 5, 100}, {0x10, 5, kNone},
                           {0x20, 0, kNone}})),
            0750u);
  // A user or group the list shuts out would fall back to the group or other bits: those
  // give no more than the list gives them.
  EXPECT_EQ(bitsOf(stored({{1, 6, kNone}, {2, 0, 1000}, {4, 4, kNone}, {0x10, 4, kNone},
                           {0x20, 4, kNone}})),
            0600u);
  EXPECT_EQ(bitsOf(stored({{1, 6, kNone}, {4, 6, kNone}, {8, 4, 50}, {0x10, 6, kNone},
                           {0x20, 6, kNone}})),
            0644u);
  // The minimal list is the mode itself.
  EXPECT_EQ(bitsOf(stored({{1, 7, kNone}, {4, 5, kNone}, {0x20, 1, kNone}})), 0751u);
}

TEST(AccessListTest, WhatIsNotAListIsRefused) {
  uint32_t bits = 01000;
  for (const std::string& bad :
       {std::string(), stored({{1, 6, kNone}, {4, 4, kNone}, {0x20, 4, kNone}}, 1),
        stored({{1, 6, kNone}, {4, 4, kNone}}), stored({{1, 6, kNone}, {4, 4, kNone},
                                                        {0x20, 4, kNone}, {0x40, 7, 0}}),
        stored({{1, 6, kNone}, {4, 4, kNone}, {0x20, 4, kNone}}).substr(0, 21)}) {
    EXPECT_FALSE(bitsWithoutAccessList(bad.data(), bad.size(), &bits));
  }
  EXPECT_EQ(bits, 01000u);
}

}  // namespace
}  // namespace fw
