#include "engine/compositor/PenBoard.h"
#include "tools/PenInput.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

using namespace corvessa;

namespace {

class PenInputTest : public ::testing::Test {
protected:
    void SetUp() override { board.attach(GlobalRect(0, 0, 400, 300), 1); }

    PenInput input(int tool, double width = 4)
    {
        return PenInput(board, [tool, width] { return PenInput::Settings{tool, 5, width}; });
    }
    // Alpha of the bitmap at a global point (y up; the bitmap's top row is the top).
    int alphaAt(const QPointF& g)
    {
        const auto snap = board.snapshotForCompositor();
        if (!snap || !snap->ink)
            return 0;
        return qAlpha(snap->ink->pixel(int(g.x()), int(300 - g.y())));
    }

    PenBoard board;
};

} // namespace

TEST(PenInput, PressureAndEraserRadius)
{
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const std::pair<std::optional<double>, double> cases[] = {
        {std::nullopt, 1}, {0.0, PenStroke::kMinPressure}, {0.5, 0.5}, {3.0, 1}, {-1.0, PenStroke::kMinPressure}, {nan, 1}};
    for (const auto& [device, taken] : cases)
        EXPECT_EQ(PenInput::pressureOf(device), taken);
    EXPECT_EQ(PenInput::eraserRadius(2), 10);
    EXPECT_EQ(PenInput::eraserRadius(13), 26);
}

TEST_F(PenInputTest, EachToolReachesTheBoardAsItsKindOfStroke)
{
    // Raw values past the tools draw with the pencil.
    for (int raw : {0, 1, 2, 3, 4, 9}) {
        SCOPED_TRACE(raw);
        board.attach(GlobalRect(0, 0, 400, 300), 1);
        PenInput in = input(raw);
        const PenTool tool = PenTools::fromRawValueOrPencil(raw);
        EXPECT_FALSE(in.press({100, 100}, 0.5).isEmpty());
        const GlobalRect dragged = in.drag({200, 150}, 0.8);
        EXPECT_TRUE(dragged.contains(GlobalPoint{200, 150}));
        EXPECT_EQ(board.strokes(), 1);
        const auto live = board.snapshotForCompositor();
        ASSERT_TRUE(live);
        EXPECT_EQ(live->shape.has_value(), PenTools::isShape(tool));
        if (live->shape) {
            EXPECT_EQ(live->shape->tool, tool);
            EXPECT_EQ(live->shape->color, 5);
            EXPECT_EQ(live->shape->pts.back(), (GlobalPoint{200, 150}));
        }
        in.release();
        EXPECT_FALSE(in.stroking());
        EXPECT_TRUE(board.hasInk());
        EXPECT_FALSE(board.snapshotForCompositor()->shape);
        // The end of each stroke, or the ellipse's right-most point.
        EXPECT_GT(alphaAt(tool == PenTool::ellipse ? QPointF(200, 125) : QPointF(200, 150)), 0);
    }
}

TEST_F(PenInputTest, EraserClearsWithoutStrokesAndDragsNeedAPress)
{
    PenInput pencil = input(0, 4);
    pencil.drag({50, 50}, std::nullopt);
    EXPECT_EQ(board.strokes(), 0) << "a drag that began elsewhere draws nothing";
    pencil.press({50, 50}, std::nullopt);
    pencil.drag({150, 50}, std::nullopt);
    pencil.release();
    ASSERT_GT(alphaAt({100, 50}), 0);

    PenInput eraser = input(5, 4);
    eraser.hover({20, 20});
    ASSERT_TRUE(eraser.ring());
    eraser.press({90, 50}, std::nullopt);
    eraser.drag({110, 50}, std::nullopt);
    eraser.release();
    EXPECT_EQ(alphaAt({100, 50}), 0);
    EXPECT_GT(alphaAt({140, 50}), 0) << "only the band within the radius goes";
    EXPECT_EQ(board.strokes(), 1);
    EXPECT_EQ(*eraser.ring(), (GlobalPoint{110, 50}));
}
