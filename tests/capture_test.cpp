#include <gtest/gtest.h>
TEST(Capture, Placeholder) {}
