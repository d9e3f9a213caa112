// Where the parts of a problem window go, for several screens and owners.
#include <gmock/gmock.h>

#include <vector>

#include "diagnostics/problem_layout.h"

namespace {

using fw::layout::Box;

struct ScreenCase {
    int width, height, panel;
    Box frame;
};

class FrameAtScreenEdge : public ::testing::TestWithParam<ScreenCase> {};

TEST_P(FrameAtScreenEdge, TakesTheLowerRightThird) {
    const ScreenCase& c = GetParam();
    EXPECT_EQ(fw::layout::frameAtScreenEdge(c.width, c.height, c.panel), c.frame);
}

INSTANTIATE_TEST_SUITE_P(Screens, FrameAtScreenEdge,
                         ::testing::Values(ScreenCase{1024, 768, 84, {683, 512, 341, 104}},
                                           ScreenCase{1920, 1080, 84, {1280, 720, 640, 104}},
                                           ScreenCase{1366, 768, 128, {911, 512, 455, 148}},
                                           ScreenCase{800, 601, 40, {534, 400, 266, 60}}));

struct HeightCase {
    std::vector<int> textHeights;
    bool title;
    int height;
};

class PanelHeight : public ::testing::TestWithParam<HeightCase> {};

TEST_P(PanelHeight, IsEntriesHighEnoughForTheirTextLinksAndTitle) {
    EXPECT_EQ(fw::layout::panelHeight(GetParam().textHeights, GetParam().title), GetParam().height);
}

// A short text keeps the entry 42 high; a text of four lines makes it higher.
INSTANTIATE_TEST_SUITE_P(Entries, PanelHeight,
                         ::testing::Values(HeightCase{{13}, true, 84}, HeightCase{{13, 26}, true, 128},
                                           HeightCase{{}, true, 40}, HeightCase{{42}, false, 60},
                                           HeightCase{{52}, true, 94}, HeightCase{{65, 13}, true, 151},
                                           HeightCase{std::vector<int>(10, 13), true, 480},
                                           HeightCase{std::vector<int>(12, 13), true, 480}));

TEST(ProblemLayout, FrameUnderOwnerHangsFromItsBottomEdge) {
    EXPECT_EQ(fw::layout::frameUnderOwner(100, 50, 500, 350, 84), (Box{150, 349, 301, 104}));
    EXPECT_EQ(fw::layout::frameUnderOwner(-20, 0, 180, 10, 128), (Box{30, 9, 101, 148}));
}

TEST(ProblemLayout, PanelSitsInsideTheFrameClientArea) {
    EXPECT_EQ(fw::layout::panelInFrame(333, 96), (Box{10, 4, 314, 89}));
}

TEST(ProblemLayout, PanelStacksTitleEntriesAndLinks) {
    const std::vector<int> heights = {13, 65};
    fw::layout::PanelLayout l = fw::layout::layoutPanel(314, heights, true, 100, 120);
    EXPECT_EQ(l.title, (Box{0, 0, 315, 24}));
    EXPECT_EQ(l.entries[0], (Box{48, 24, 267, 42}));
    EXPECT_EQ(l.entries[1], (Box{48, 68, 267, 65})) << "the whole text of the second notice shows";
    EXPECT_EQ(l.hideLink, (Box{0, 135, 101, 16}));
    EXPECT_EQ(l.sendLink, (Box{194, 135, 121, 16}));
    EXPECT_EQ(l.height, 151);
    EXPECT_EQ(l.height, fw::layout::panelHeight(heights, true));
    EXPECT_EQ(fw::layout::entryWidth(314), l.entries[0].width);

    const std::vector<int> one = {26};
    fw::layout::PanelLayout bare = fw::layout::layoutPanel(200, one, false, 90, 110);
    EXPECT_EQ(bare.entries[0], (Box{48, 0, 153, 42}));
    EXPECT_EQ(bare.sendLink, (Box{90, 44, 111, 16}));
    EXPECT_EQ(bare.height, fw::layout::panelHeight(one, false));
}

struct SlideCase {
    int step, steps, distance, remaining;
};

class SlideRemaining : public ::testing::TestWithParam<SlideCase> {};

TEST_P(SlideRemaining, ShrinksFromTheWholeDistanceToNothing) {
    const SlideCase& c = GetParam();
    EXPECT_EQ(fw::layout::slideRemaining(c.step, c.steps, c.distance), c.remaining);
}

INSTANTIATE_TEST_SUITE_P(Steps, SlideRemaining,
                         ::testing::Values(SlideCase{0, 16, 341, 341}, SlideCase{1, 16, 341, 320},
                                           SlideCase{8, 16, 341, 171}, SlideCase{15, 16, 341, 22},
                                           SlideCase{16, 16, 341, 0}, SlideCase{20, 16, 341, 0},
                                           SlideCase{3, 0, 341, 0}, SlideCase{5, 16, 0, 0}));

}  // namespace
