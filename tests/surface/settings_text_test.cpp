#include <gtest/gtest.h>

#include <random>

#include "SettingsText.h"
#include "SliderSettings.h"

namespace tavrin {
namespace {

using test::With;

TEST(SettingsText, NamesOnlyTheSlidersOffTheirStart)
{
    EXPECT_EQ(SettingsText(With({{Slider::Angle, 37}})), "--angle 37");
    EXPECT_EQ(SettingsText(With({{Slider::Angle, 37}, {Slider::XSlice, 4}})),
              "--x-slice 4 --angle 37");
    EXPECT_EQ(SettingsText(With({{Slider::XPosition, -12}, {Slider::LockXY, 1}})),
              "--lock-xy 1 --x-position -12");
    // X-Slice starts at 1, not 0.
    EXPECT_EQ(SettingsText(With({{Slider::XSlice, 1}})), "--render");
    EXPECT_EQ(SettingsText(SliderPositions{}), "--render");
    SliderPositions all;
    all.Value = {30, 2, 1, 1, 1, 1500, -1500, 360};
    EXPECT_EQ(SettingsText(all), "--x-slice 30 --y-slice 2 --tavrin-x 1 --tavrin-y 1 --lock-xy 1 "
                                 "--x-position 1500 --y-position -1500 --angle 360");
}

TEST(SettingsText, ReadsBackWhatItWrites)
{
    std::mt19937 random(11);
    for (int i = 0; i < 500; ++i) {
        SliderPositions p;
        for (int s = 0; s < SliderCount; ++s) {
            const SliderRange& range = SliderRanges[std::size_t(s)];
            // Half of them at the start, to leave sliders out of the text.
            p.Value[std::size_t(s)] =
                random() % 2 ? range.Initial
                             : range.Min + std::int32_t(random() % std::uint32_t(range.Max - range.Min + 1));
        }
        EXPECT_EQ(ReadSettingsText(SettingsText(p)), p) << SettingsText(p);
    }
}

TEST(SettingsText, ReadsEitherFormAndClamps)
{
    EXPECT_EQ(ReadSettingsText("  --x-slice=4\t--angle 37\n"),
              With({{Slider::XSlice, 4}, {Slider::Angle, 37}}));
    // Sliders not named go to their start, whatever they were.
    EXPECT_EQ(ReadSettingsText("--render"), SliderPositions{});
    EXPECT_EQ(ReadSettingsText("--tavrin-y 1 --render"), With({{Slider::TavrinY, 1}}));
    EXPECT_EQ(ReadSettingsText("--angle 5 --angle=+9"), With({{Slider::Angle, 9}}));
    EXPECT_EQ(ReadSettingsText("--angle 999 --x-slice 0 --y-position -99999999999999999999"),
              With({{Slider::Angle, 360}, {Slider::XSlice, 1}, {Slider::YPosition, -1500}}));
}

TEST(SettingsText, RefusesAnythingElseSayingWhy)
{
    const std::pair<std::string, std::string> cases[] = {
        {"", "empty"},
        {" \n\t ", "empty"},
        {"hello", "'hello'"},
        {"--angle", "--angle has no value"},
        {"--angle 37 --x-slice", "--x-slice has no value"},
        {"--angle 12.5", "'12.5'"},
        {"--angle=", "''"},
        {"--angle 3 in.bmp", "'in.bmp'"},
        {"--render=1", "'--render=1'"},
        {"--Angle 3", "'--Angle'"},
        {"--angle 37" + std::string(1000, ' '), "too long"},
    };
    for (const auto& [text, why] : cases) {
        try {
            ReadSettingsText(text);
            ADD_FAILURE() << "read '" << text << "'";
        } catch (const std::invalid_argument& error) {
            EXPECT_NE(std::string(error.what()).find(why), std::string::npos)
                << text << ": " << error.what();
        }
    }
}

} // namespace
} // namespace tavrin
