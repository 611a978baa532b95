#include <gtest/gtest.h>
TEST(PrepChecks, Placeholder) {}
