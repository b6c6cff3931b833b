#include "platform/FrameDrop.h"

#include <gtest/gtest.h>

#include <vector>

using namespace verticora;

namespace {

constexpr std::uint64_t millisecond = 1'000'000;

// The frames of `count` from a 30 fps camera that `drop` keeps, by index. Their timestamps
// wobble by a few milliseconds, as a real camera's do.
std::vector<int> keptOf(FrameDrop& drop, int count, std::uint64_t start = 0)
{
    std::vector<int> kept;
    for (int i = 0; i < count; ++i) {
        const std::uint64_t time = start + static_cast<std::uint64_t>(i) * 1000 * millisecond / 30
            + static_cast<std::uint64_t>(i % 3) * 3 * millisecond;
        if (drop.keep(time))
            kept.push_back(i);
    }
    return kept;
}

} // namespace

TEST(FrameDrop, keepsEvenlySpacedFramesAtTheRateWhateverTheJitter)
{
    FrameDrop drop;
    drop.setRate(3, 30);
    EXPECT_EQ(keptOf(drop, 90), (std::vector{0, 10, 20, 30, 40, 50, 60, 70, 80}));

    drop.setRate(9, 30);
    EXPECT_EQ(keptOf(drop, 300).size(), 90u) << "nine a second, not fewer for the wobble";

    drop.setRate(0, 30);
    EXPECT_EQ(keptOf(drop, 30).size(), 30u) << "rate 0 keeps every frame";
}

TEST(FrameDrop, theFrameAfterARestartOrAClockThatStartedAgainIsKept)
{
    FrameDrop drop;
    drop.setRate(3, 30);
    ASSERT_TRUE(drop.keep(10'000 * millisecond));
    EXPECT_FALSE(drop.keep(10'100 * millisecond));
    EXPECT_TRUE(drop.keep(0)) << "the camera's clock started again";
    EXPECT_FALSE(drop.keep(100 * millisecond));
    EXPECT_EQ(keptOf(drop, 30, 333 * millisecond), (std::vector{0, 10, 20})) << "and the schedule goes on from there";

    drop.restart();
    EXPECT_TRUE(drop.keep(1'400 * millisecond));
}
