#include "tools/CameraPreviewWindow.h"
#include "tools/PreviewView.h"

#include <QPushButton>

#include <gtest/gtest.h>

#include <cmath>

using namespace corvessa;

namespace {

using W = CameraPreviewWindow;

// The primary with a 30 pt panel along its top, and a display to its left
// reaching higher.
DisplayInfo display(uint32_t id, const GlobalRect& frame, const GlobalRect& visible)
{
    DisplayInfo d;
    d.id = id;
    d.frame = frame;
    d.visibleFrame = visible;
    return d;
}

const std::vector<DisplayInfo> layout = {
    display(1, GlobalRect(0, 0, 1920, 1080), GlobalRect(0, 0, 1920, 1050)),
    display(2, GlobalRect(-1280, 200, 1280, 1024), GlobalRect(-1280, 200, 1280, 1024)),
};
const GlobalRect primaryVisible = layout[0].visibleFrame;

} // namespace

// The full-screen camera's way out carries its symbol beside the title.
TEST(CameraPreviewWindow, ExitButtonShowsItsSymbol)
{
    PreviewView view;
    const QPushButton* exit = view.exitFullScreenButton();
    ASSERT_FALSE(exit->icon().isNull());
    const QImage drawn = exit->icon().pixmap(exit->iconSize()).toImage();
    int inked = 0;
    for (int y = 0; y < drawn.height(); ++y)
        for (int x = 0; x < drawn.width(); ++x)
            inked += drawn.pixelColor(x, y).alpha() > 128;
    EXPECT_GT(inked, 10) << "the icon is blank";
}

TEST(CameraPreviewWindow, SizesFollowShapeAndWidth)
{
    EXPECT_EQ(W::previewSize(0, 240), QSizeF(240, 135));
    EXPECT_EQ(W::previewSize(0, 160), QSizeF(160, 90));
    for (int shape : {1, 2}) {
        EXPECT_NEAR(W::previewSize(shape, 240).width(), 172.8, 1e-9);
        EXPECT_EQ(W::previewSize(shape, 240).width(), W::previewSize(shape, 240).height());
    }
    EXPECT_NEAR(W::previewSize(1, 360).height(), 259.2, 1e-9);
    // A 240 pt square with the default fraction has 28.8 pt corners; 0.5 is round.
    EXPECT_NEAR(PreviewView::cornerRadius(QSizeF(240, 240), 0.12, false), 28.8, 1e-9);
    EXPECT_EQ(PreviewView::cornerRadius(QSizeF(240, 240), 0.5, false), 120);
    EXPECT_EQ(PreviewView::cornerRadius(QSizeF(240, 240), 0.5, true), 0);
}

TEST(CameraPreviewWindow, PictureFillsTheViewCroppedAndCentred)
{
    const QRectF view(0, 0, 240, 240);
    const QRectF drawn = PreviewView::fillRect(QSizeF(1280, 720), view);
    EXPECT_TRUE(drawn.contains(view));
    EXPECT_EQ(drawn.height(), 240);
    EXPECT_EQ(drawn.center(), view.center());
}

TEST(CameraPreviewWindow, BoundsAreTheVisibleFrameOfTheScreenMeetingMost)
{
    // Mostly on the left display.
    EXPECT_EQ(W::previewBounds(layout, GlobalRect(-200, 500, 240, 135)), layout[1].visibleFrame);
    // Mostly on the primary.
    EXPECT_EQ(W::previewBounds(layout, GlobalRect(-40, 500, 240, 135)), primaryVisible);
    // Equal parts: the earlier display.
    EXPECT_EQ(W::previewBounds(layout, GlobalRect(-120, 500, 240, 135)), primaryVisible);
    // On none: the first, not the nearest.
    EXPECT_EQ(W::previewBounds(layout, GlobalRect(-2000, -900, 240, 135)), primaryVisible);
    // No displays: the rectangle itself.
    EXPECT_EQ(W::previewBounds({}, GlobalRect(5, 6, 7, 8)), GlobalRect(5, 6, 7, 8));
}

TEST(CameraPreviewWindow, ClampKeepsTheMarginAndPrefersLeftAndBottom)
{
    const QSizeF size(240, 135);
    // Past the top-right of the primary's visible frame.
    const GlobalRect high = W::clampPreview(layout, GlobalRect(GlobalPoint{1900, 1000}, size));
    EXPECT_EQ(high.bottomLeft(), (GlobalPoint{1920 - 240 - W::margin, 1050 - 135 - W::margin}));
    EXPECT_EQ(high.size(), size);
    // Inside already: untouched.
    const GlobalRect inside(GlobalPoint{400, 400}, size);
    EXPECT_EQ(W::clampPreview(layout, inside), inside);
    // Larger than its screen: left and bottom edges win.
    const std::vector<DisplayInfo> tiny = {display(1, GlobalRect(0, 0, 200, 100), GlobalRect(0, 0, 200, 100))};
    EXPECT_EQ(W::clampPreview(tiny, GlobalRect(50, 50, 240, 135)).bottomLeft(), (GlobalPoint{W::margin, W::margin}));
}

TEST(CameraPreviewWindow, SnapsOnlyWithinReachOfACornerOnBothAxes)
{
    const QSizeF size(240, 135);
    for (int corner = 0; corner < 4; ++corner) {
        SCOPED_TRACE(corner);
        const GlobalPoint at = W::cornerOrigin(primaryVisible, size, corner);
        // Away from the corner, towards the middle of the screen.
        const GlobalPoint inward{corner % 2 ? -1.0 : 1.0, corner > 1 ? -1.0 : 1.0};
        const auto near = [&](double dx, double dy) {
            return W::nearestCorner(layout, GlobalRect(at + GlobalPoint{inward.x * dx, inward.y * dy}, size));
        };
        EXPECT_EQ(near(0, 0), corner);
        EXPECT_EQ(near(100, 100), corner);
        EXPECT_EQ(near(W::snapDistance, W::snapDistance), corner);
        EXPECT_EQ(near(111, 0), std::nullopt);
        EXPECT_EQ(near(0, 111), std::nullopt);
    }
    // Corner positions sit the margin inside the visible frame.
    EXPECT_EQ(W::cornerOrigin(primaryVisible, size, 0), (GlobalPoint{16, 16}));
    EXPECT_EQ(W::cornerOrigin(primaryVisible, size, 3), (GlobalPoint{1920 - 240 - 16, 1050 - 135 - 16}));
}

TEST(CameraPreviewWindow, EqualDistanceGoesToTheLowerCorner)
{
    // A screen where all four corners lie 50 pt from the bubble's origin.
    const QSizeF size(100, 100);
    const std::vector<DisplayInfo> small = {display(1, GlobalRect(0, 0, 232, 232), GlobalRect(0, 0, 232, 232))};
    EXPECT_EQ(W::nearestCorner(small, GlobalRect(GlobalPoint{66, 66}, size)), 0);
    // Strictly nearer to the top right: that one.
    EXPECT_EQ(W::nearestCorner(small, GlobalRect(GlobalPoint{67, 67}, size)), 3);
}

TEST(CameraPreviewWindow, OpensAtTheSavedOriginOrAboveTheBar)
{
    const QSizeF size(240, 135);
    const GlobalRect bar(700, 100, 520, 56);
    // Above the bar, centred on it.
    const GlobalRect fresh = W::defaultFrame(layout, size, std::nullopt, bar);
    EXPECT_EQ(fresh.bottom(), bar.top() + W::barGap);
    EXPECT_EQ(fresh.center().x, bar.center().x);
    EXPECT_EQ(fresh.size(), size);
    // A saved origin on a display is used as it is.
    EXPECT_EQ(W::defaultFrame(layout, size, GlobalPoint{-1000, 600}, bar).bottomLeft(), (GlobalPoint{-1000, 600}));
    // One whose probe point lies on no display is ignored.
    EXPECT_EQ(W::defaultFrame(layout, size, GlobalPoint{-1291, 600}, bar), fresh);
    EXPECT_EQ(W::defaultFrame(layout, size, GlobalPoint{100, -11}, bar), fresh);
    // A bar at the very top: the bubble stays on screen.
    const GlobalRect highBar(700, 1000, 520, 40);
    EXPECT_EQ(W::defaultFrame(layout, size, std::nullopt, highBar).bottom(), 1050 - 135 - W::margin);
    // No bar: somewhere on the first display.
    EXPECT_TRUE(primaryVisible.contains(W::defaultFrame(layout, size, std::nullopt, std::nullopt)));
}
