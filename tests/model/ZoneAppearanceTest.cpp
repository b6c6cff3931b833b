#include "model/ZoneAppearance.h"

#include <gtest/gtest.h>

#include <limits>

using namespace verticora;

namespace {

ZoneResult result(ZoneState state, std::optional<double> score, bool alert = false)
{
    ZoneResult r;
    r.state = state;
    r.score = score;
    r.alert = alert;
    return r;
}

} // namespace

TEST(ZoneAppearance, resolve)
{
    EXPECT_EQ(resolveZoneAppearance(result(ZoneState::yellow, 0.5), true, false, true), ZoneAppearance::yellowHalo);
    EXPECT_EQ(resolveZoneAppearance(result(ZoneState::outside, 0.9), true, false, true), ZoneAppearance::yellowHalo);
    EXPECT_EQ(resolveZoneAppearance(result(ZoneState::alert, 0.9, true), true, false, true), ZoneAppearance::redFocus);
    EXPECT_EQ(resolveZoneAppearance(result(ZoneState::inside, 0.1), true, false, true), ZoneAppearance::hidden);

    EXPECT_EQ(resolveZoneAppearance(result(ZoneState::alert, 0.9, true), false, false, true), ZoneAppearance::hidden);
    EXPECT_EQ(resolveZoneAppearance(result(ZoneState::alert, 0.9, true), true, true, true), ZoneAppearance::hidden);
    EXPECT_EQ(resolveZoneAppearance(result(ZoneState::alert, 0.9, true), true, false, false), ZoneAppearance::hidden);
    EXPECT_EQ(resolveZoneAppearance(result(ZoneState::yellow, std::nullopt), true, false, true), ZoneAppearance::hidden);
    EXPECT_EQ(resolveZoneAppearance(result(ZoneState::yellow, std::numeric_limits<double>::infinity()), true, false, true),
              ZoneAppearance::hidden);
}
