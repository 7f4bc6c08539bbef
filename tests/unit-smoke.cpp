#include <gtest/gtest.h>

#include "corv-str.h"

TEST(Smoke, LengthCounts) { EXPECT_EQ(StrLength("abc"), 3); }
