// Decoding of tray mouse messages and the tip field, with no display.

#include "tray/TrayMouseEvent.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

namespace mdlTray {
namespace {

TEST(TrayMouseEvent, DecodesReleasesInEitherUnit)
{
    struct Case {
        double x;
        CoordinateUnit unit;
        std::int16_t code;
    };
    const Case cases[] = {
        {514 * 15.0, CoordinateUnit::Twip, kLeftRelease},
        {517 * 15.0, CoordinateUnit::Twip, kRightRelease},
        {512 * 15.0, CoordinateUnit::Twip, kNoRelease},
        {513 * 15.0, CoordinateUnit::Twip, kNoRelease},  // left button down
        {515 * 15.0, CoordinateUnit::Twip, kNoRelease},  // double click
        {520 * 15.0, CoordinateUnit::Twip, kNoRelease},  // middle button up
        {514, CoordinateUnit::Pixel, kLeftRelease},
        {517, CoordinateUnit::Pixel, kRightRelease},
        {514, CoordinateUnit::Twip, kNoRelease},
        {0, CoordinateUnit::Pixel, kNoRelease},
        {-514, CoordinateUnit::Pixel, kNoRelease},
    };
    for (const Case& c : cases)
        EXPECT_EQ(TrayMouseEvent(c.x, c.unit, kTwipsPerPixel), c.code) << c.x;
}

TEST(TrayMouseEvent, RoundsHalvesToEven)
{
    EXPECT_EQ(TrayMouseEvent(513.5, CoordinateUnit::Pixel, 15), kLeftRelease);
    EXPECT_EQ(TrayMouseEvent(514.5, CoordinateUnit::Pixel, 15), kLeftRelease);
    EXPECT_EQ(TrayMouseEvent(514.51, CoordinateUnit::Pixel, 15), kNoRelease);
    EXPECT_EQ(TrayMouseEvent(516.5, CoordinateUnit::Pixel, 15), kNoRelease);
    EXPECT_EQ(TrayMouseEvent(517.5, CoordinateUnit::Pixel, 15), kNoRelease);
    EXPECT_EQ(TrayMouseEvent(517 * 12 + 5.9, CoordinateUnit::Twip, 12), kRightRelease);
}

TEST(TrayMouseEvent, ValuesWithoutAMessageNumberGiveZero)
{
    const double inf = std::numeric_limits<double>::infinity();
    EXPECT_EQ(TrayMouseEvent(514 * 15.0, CoordinateUnit::Twip, 0), kNoRelease);
    EXPECT_EQ(TrayMouseEvent(0, CoordinateUnit::Twip, 0), kNoRelease);
    EXPECT_EQ(TrayMouseEvent(std::nan(""), CoordinateUnit::Pixel, 15), kNoRelease);
    EXPECT_EQ(TrayMouseEvent(inf, CoordinateUnit::Pixel, 15), kNoRelease);
    EXPECT_EQ(TrayMouseEvent(4294967296.0 + 514, CoordinateUnit::Pixel, 15), kNoRelease);
}

TEST(TipField, HoldsTheTipANulAndSpacesToSixtyFourCharacters)
{
    const std::u16string idle = TipField(u"QIRN Checker 1.0");
    EXPECT_EQ(idle, u"QIRN Checker 1.0" + std::u16string(1, u'\0') + std::u16string(47, u' '));
    EXPECT_EQ(TipText(idle), u"QIRN Checker 1.0");
    const std::u16string duty = TipField(u"QIRN Checker 1.0 - On Duty");
    EXPECT_EQ(duty, u"QIRN Checker 1.0 - On Duty" + std::u16string(1, u'\0') + std::u16string(37, u' '));

    const std::u16string longTip(70, u'x');
    EXPECT_EQ(TipField(longTip), std::u16string(64, u'x'));
    EXPECT_EQ(TipText(TipField(longTip)).size(), 64u);
    EXPECT_EQ(TipField(std::u16string(63, u'y')).back(), u'\0');
}

}  // namespace
}  // namespace mdlTray
