// Result codes in tests: gtest prints an Rc by its name, and two assertions name the call
// and the code it returned when it was not the one expected.
#ifndef FERRYWICK_CORE_RESULT_TEST_UTIL_H
#define FERRYWICK_CORE_RESULT_TEST_UTIL_H

#include <gtest/gtest.h>

#include <ostream>

#include "core/result.h"

namespace fw {

inline std::ostream& operator<<(std::ostream& out, Rc rc) { return out << rcName(rc); }

}  // namespace fw

#define ASSERT_RC_OK(expr)                                                 \
  do {                                                                     \
    ::fw::Rc rc_ = (expr);                                                 \
    ASSERT_EQ(rc_, ::fw::Rc::Ok) << #expr << " returned " << ::fw::rcName(rc_); \
  } while (0)
#define EXPECT_RC(expected, expr)                                              \
  do {                                                                         \
    ::fw::Rc rc_ = (expr);                                                     \
    EXPECT_EQ(rc_, expected) << #expr << " returned " << ::fw::rcName(rc_);    \
  } while (0)

#endif  // FERRYWICK_CORE_RESULT_TEST_UTIL_H
