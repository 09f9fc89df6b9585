#include <gtest/gtest.h>
#include "foundation/Errors.h"
TEST(Smoke, Builds) { EXPECT_TRUE(Errors::ErrNone()); }
