#include "document/filters/common/Random.h"

#include <gtest/gtest.h>

#include <vector>

using namespace Orvex::Document::Filters::Common;

TEST(LcgRandom, FollowsTheDefinedRecurrence) {
    // Seed 1 gives the classic sequence of this multiplier and increment.
    cLcgRandom random(1);
    const std::vector<int> expected = {41, 18467, 6334, 26500, 19169, 15724};
    for (int value : expected) EXPECT_EQ(random.next(), value);

    cLcgRandom other(101);
    EXPECT_EQ(other.step(), 101u * 214013u + 2531011u);
    EXPECT_EQ(other.state(), 101u * 214013u + 2531011u);
}

TEST(LcgRandom, SkipLandsWhereSingleStepsLand) {
    for (const uint32_t seed : {0u, 1u, 0xDEADBEEFu}) {
        cLcgRandom stepped(seed);
        uint64_t taken = 0;
        for (const uint64_t count : {0ull, 1ull, 2ull, 3ull, 7ull, 64ull, 1000ull, 65537ull}) {
            cLcgRandom jumped(seed);
            while (taken < count) {
                stepped.step();
                ++taken;
            }
            jumped.skip(count);
            EXPECT_EQ(jumped.state(), stepped.state()) << "seed " << seed << " count " << count;
        }
    }
    // The period is 2^32: a full cycle comes back to the start.
    cLcgRandom cycle(12345);
    cycle.skip(uint64_t(1) << 32);
    EXPECT_EQ(cycle.state(), 12345u);
}

TEST(LcgRandom, CopiesAreIndependentStreams) {
    cLcgRandom a(102);
    a.next();
    cLcgRandom b = a;
    const int fromA = a.next();
    EXPECT_EQ(b.next(), fromA);
    a.next();
    EXPECT_NE(a.state(), b.state());
}

TEST(LcgRandom, ScaledDrawsStayInRange) {
    cLcgRandom random(7);
    for (int i = 0; i < 100000; ++i) {
        const double u = random.nextUnit();
        ASSERT_GE(u, 0.0);
        ASSERT_LE(u, 1.0);
        const double s = random.nextSigned();
        ASSERT_GE(s, -1.0);
        ASSERT_LE(s, 1.0);
    }
}

TEST(ShiftRegister20, VisitsEveryNonZeroStateOnce) {
    cShiftRegister20 reg;
    EXPECT_EQ(reg.state(), 1u);
    EXPECT_EQ(reg.next(), 0x90000u); // the low bit of 1 feeds the taps
    std::vector<bool> seen(1u << 20, false);
    reg.seed(1);
    std::uint32_t period = 0;
    do {
        const std::uint32_t s = reg.next();
        ASSERT_NE(s, 0u);
        ASSERT_LT(s, 1u << 20);
        ASSERT_FALSE(seen[s]) << "state repeats after " << period << " steps";
        seen[s] = true;
        ++period;
    } while (reg.state() != 1u);
    EXPECT_EQ(period, (1u << 20) - 1);
}
