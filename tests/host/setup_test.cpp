// setup_test.cpp - what a run checks before any worker starts: sizes said
// in a unit that shows them.
#include <gtest/gtest.h>

#include "parent/setup.h"

TEST(Setup, SizesUnderATenthOfAGiBAreSaidInMiB) {
    const double MiB = 1024.0 * 1024.0;
    const struct {
        double bytes;
        const char *text;
    } cases[] = {
        {0, "0.0 MiB"},           {37.25 * MiB, "37.2 MiB"},     {102.3 * MiB, "102.3 MiB"},
        {102.5 * MiB, "0.1 GiB"}, {2.5 * 1024 * MiB, "2.5 GiB"},
    };
    for (const auto &c : cases)
        EXPECT_EQ(vhost::sizeText(c.bytes), c.text) << c.bytes;
}
