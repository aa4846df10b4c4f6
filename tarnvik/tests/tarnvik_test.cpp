// tarnvik_test.cpp - placeholder
#include <gtest/gtest.h>
#include "tarnvikc.h"
TEST(X, Y) { EXPECT_EQ(0, idamax(1, nullptr, 1)); }
