#include <gmock/gmock.h>

#include "win.windows/text_layout.h"

namespace {

using kit::layout::TextBox;

TEST(MainWindowText, TenCharactersUse28PointsElevenUse11) {
    EXPECT_EQ(kit::layout::mainTextPoints(0), 28);
    EXPECT_EQ(kit::layout::mainTextPoints(8), 28);  // "00:12:34"
    EXPECT_EQ(kit::layout::mainTextPoints(10), 28);
    EXPECT_EQ(kit::layout::mainTextPoints(11), 11);
    EXPECT_EQ(kit::layout::mainTextPoints(64), 11);
}

TEST(MainWindowText, FontHeightIsMinusPointsTimesDpiOver72RoundedLikeMulDiv) {
    EXPECT_EQ(kit::layout::fontHeight(28, 96), -37);  // 37.33
    EXPECT_EQ(kit::layout::fontHeight(11, 96), -15);  // 14.67
    EXPECT_EQ(kit::layout::fontHeight(15, 96), -20);
    EXPECT_EQ(kit::layout::fontHeight(10, 96), -13);   // 13.33
    EXPECT_EQ(kit::layout::fontHeight(10, 120), -17);  // 16.67
}

struct PlaceCase {
    TextBox box;
    SIZE extent;
    POINT single, first, second;
};

class TextPlaces : public ::testing::TestWithParam<PlaceCase> {};

TEST_P(TextPlaces, CentresOneLineAndPutsTwoLinesAroundTheMiddle) {
    const PlaceCase& c = GetParam();
    POINT p = kit::layout::singleLine(c.box, c.extent);
    EXPECT_EQ(p.x, c.single.x);
    EXPECT_EQ(p.y, c.single.y);
    p = kit::layout::firstOfTwoLines(c.box, c.extent);
    EXPECT_EQ(p.x, c.first.x);
    EXPECT_EQ(p.y, c.first.y);
    p = kit::layout::secondOfTwoLines(c.box, c.extent);
    EXPECT_EQ(p.x, c.second.x);
    EXPECT_EQ(p.y, c.second.y);
}

// Main window: x = 118 + (221 - cx) / 2; one line y = 11 + (65 - cy) / 2;
// first of two y = 11 + (65 - 2cy - 5) / 2; second y = 16 + cy + (65 - 2cy - 10) / 2.
// Notification window (box = the window): the same with left 0, top 0.
INSTANTIATE_TEST_SUITE_P(
    Layout, TextPlaces,
    ::testing::Values(PlaceCase{kit::layout::kMainTextBox, {120, 45}, {168, 21}, {168, -4}, {168, 44}},
                      PlaceCase{kit::layout::kMainTextBox, {200, 18}, {128, 34}, {128, 23}, {128, 43}},
                      PlaceCase{kit::layout::kMainTextBox, {221, 17}, {118, 35}, {118, 24}, {118, 43}},
                      PlaceCase{TextBox{0, 0, 130, 40}, {85, 24}, {22, 8}, {22, -6}, {22, 20}},
                      PlaceCase{TextBox{0, 0, 250, 50}, {160, 16}, {45, 17}, {45, 6}, {45, 25}},
                      PlaceCase{TextBox{0, 0, 250, 50}, {161, 17}, {44, 16}, {44, 5}, {44, 25}}));

TEST(TextLines, SplitAtTheFirstLineFeedOnly) {
    auto one = kit::layout::splitAtFirstLineFeed("00:12:34");
    EXPECT_FALSE(one.twoLines);
    EXPECT_EQ(one.first, "00:12:34");

    auto two = kit::layout::splitAtFirstLineFeed("WARNING!\nLow free disk space!");
    EXPECT_TRUE(two.twoLines);
    EXPECT_EQ(two.first, "WARNING!");
    EXPECT_EQ(two.second, "Low free disk space!");

    auto three = kit::layout::splitAtFirstLineFeed("a\nb\nc");
    EXPECT_EQ(three.first, "a");
    EXPECT_EQ(three.second, "b\nc");  // the second line feed stays in line 2

    auto trailing = kit::layout::splitAtFirstLineFeed("a\n");
    EXPECT_TRUE(trailing.twoLines);
    EXPECT_EQ(trailing.second, "");
}

}  // namespace
