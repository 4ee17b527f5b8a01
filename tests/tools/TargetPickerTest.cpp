#include "tools/ProgramTools.h"
#include "tools/TargetPicker.h"
#include "tools/TargetPickerView.h"

#include <QKeyEvent>
#include <QWidget>
#include <QtTest/QTest>

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <tuple>

using namespace corvessa;

namespace {

using Selection = ToolsFacade::Selection;

WindowInfo window(uint32_t id, const QRectF& frame, const QString& app = QStringLiteral("App"),
                  const QString& title = QStringLiteral("Doc"))
{
    WindowInfo w;
    w.id = id;
    w.ownerPid = 4000 + id;
    w.appName = app;
    w.title = title;
    w.frame = frame;
    return w;
}

// Two screens side by side in Qt points; the right one reaches lower.
const std::vector<TargetPicker::Screen> kScreens = {{11, QRectF(0, 0, 1280, 800)}, {22, QRectF(1280, 0, 1024, 900)}};

} // namespace

TEST(TargetPicker, AreaBelowTheMinimumGivesNothingAndTheRestIsDisplayLocalTopLeft)
{
    EXPECT_FALSE(TargetPicker::areaSelection(QRectF(10, 10, 99.9, 60), kScreens));
    EXPECT_FALSE(TargetPicker::areaSelection(QRectF(10, 10, 100, 59.9), kScreens));
    EXPECT_TRUE(TargetPicker::areaSelection(QRectF(10, 10, 100, 60), kScreens));

    const auto onRight = TargetPicker::areaSelection(QRectF(1400, 500, 150, 80), kScreens);
    ASSERT_TRUE(onRight);
    EXPECT_EQ(onRight->kind, Selection::Kind::area);
    EXPECT_EQ(onRight->display, 22u);
    EXPECT_EQ(onRight->rect, QRectF(120, 500, 150, 80));

    // Across both: the part on the screen holding the centre.
    const auto across = TargetPicker::areaSelection(QRectF(1200, 100, 300, 100), kScreens);
    ASSERT_TRUE(across);
    EXPECT_EQ(across->display, 22u);
    EXPECT_EQ(across->rect, QRectF(0, 100, 220, 100));
    // A drag made right to left is the same drag.
    EXPECT_EQ(TargetPicker::areaSelection(QRectF(1500, 200, -300, -100), kScreens)->rect, across->rect);
}

TEST(TargetPicker, NonsenseDragsGiveNothing)
{
    const double nan = std::numeric_limits<double>::quiet_NaN();
    EXPECT_FALSE(TargetPicker::areaSelection(QRectF(nan, nan, 200, 200), kScreens)) << "centre on no screen";
    EXPECT_FALSE(TargetPicker::areaSelection(QRectF(0, 0, nan, 200), kScreens));
    EXPECT_FALSE(TargetPicker::areaSelection(QRectF(0, 850, 300, 200), {kScreens[0]})) << "centre off every screen";
    EXPECT_FALSE(TargetPicker::areaSelection(QRectF(0, 0, 300, 200), {}));
}

TEST(TargetPicker, OffersOtherProgramsNormalWindowsShownNowOfAtLeast80By60)
{
    const int64_t own = 77;
    struct Row {
        WindowInfo w;
        bool offered;
    };
    std::vector<Row> rows = {{window(1, QRectF(0, 0, 80, 60)), true},
                             {window(2, QRectF(0, 0, 79.9, 60)), false},
                             {window(3, QRectF(0, 0, 80, 59.9)), false}};
    auto mine = window(4, QRectF(0, 0, 400, 300));
    mine.ownerPid = own;
    auto hidden = window(5, QRectF(0, 0, 400, 300)); // minimised or on another desktop: unmapped
    hidden.onScreen = false;
    auto dock = window(6, QRectF(0, 0, 400, 300));
    dock.layer = 20;
    auto unknownOwner = window(7, QRectF(0, 0, 400, 300));
    unknownOwner.ownerPid = 0;
    rows.push_back({mine, false});
    rows.push_back({hidden, false});
    rows.push_back({dock, false});
    rows.push_back({unknownOwner, true});
    rows.push_back({window(8, QRectF(0, 0, 400, 300)), true});
    // A window at opacity 0.01 is not offered; a little more is.
    for (const auto& [id, alpha, offered] : {std::tuple{9u, 0.01, false}, std::tuple{10u, 0.011, true}}) {
        auto faded = window(id, QRectF(0, 0, 400, 300));
        faded.alpha = alpha;
        rows.push_back({faded, offered});
    }

    std::vector<WindowInfo> all;
    std::vector<uint32_t> expected;
    for (const Row& r : rows) {
        all.push_back(r.w);
        if (r.offered)
            expected.push_back(r.w.id);
    }
    std::vector<uint32_t> got;
    for (const WindowInfo& w : TargetPicker::pickable(all, own))
        got.push_back(w.id);
    EXPECT_EQ(got, expected) << "in the given front-to-back order";
}

TEST(TargetPicker, TitlesAreClassDashNameOrTheOneThereIs)
{
    const QRectF f(0, 0, 200, 200);
    const auto titles = TargetPicker::pickable(
        {window(1, f, QStringLiteral("XTerm"), QStringLiteral("bash")), window(2, f, QStringLiteral("XTerm"), {}),
         window(3, f, {}, QStringLiteral("bash"))},
        1);
    ASSERT_EQ(titles.size(), 3u);
    EXPECT_EQ(titles[0].title, QStringLiteral("XTerm — bash"));
    EXPECT_EQ(titles[1].title, QStringLiteral("XTerm"));
    EXPECT_EQ(titles[2].title, QStringLiteral("bash"));
}

TEST(TargetPicker, FrontWindowWinsEveryEndCallsOnceAndLetsGoOfTheKeyboard)
{
    // Window 1 lies in front of window 2 where they overlap.
    const std::vector<WindowInfo> desktop = {window(1, QRectF(100, 100, 300, 200)), window(2, QRectF(50, 50, 600, 400))};
    ProgramTools tools([&] { return desktop; });
    int calls = 0;
    std::optional<Selection> last;
    const auto completion = [&](std::optional<Selection> s) {
        ++calls;
        last = s;
    };

    tools.pickRange(RangeMode::window, completion);
    TargetPicker* picker = tools.picker();
    ASSERT_TRUE(picker && picker->isOpen());
    ASSERT_FALSE(picker->views().empty());
    EXPECT_EQ(QWidget::keyboardGrabber(), picker->views().back());
    EXPECT_EQ(picker->views().front()->cursor().shape(), Qt::PointingHandCursor) << "a window is clicked";
    picker->press(QPointF(10, 10));
    EXPECT_EQ(calls, 0) << "a click on no window goes on";
    picker->press(QPointF(150, 150));
    ASSERT_EQ(calls, 1);
    ASSERT_TRUE(last);
    EXPECT_EQ(last->id, 1u);
    EXPECT_EQ(last->title, QStringLiteral("App — Doc"));
    EXPECT_EQ(last->size, QSizeF(300, 200));
    EXPECT_FALSE(picker->isOpen());
    EXPECT_FALSE(QWidget::keyboardGrabber());

    // A new pick ends the running one with nothing; Esc, a right click and the
    // end of the tools end it with nothing too, and let go of the keyboard.
    const std::vector<std::function<void()>> ends = {
        [&] { tools.pickRange(RangeMode::area, completion); },
        [&] {
            QKeyEvent esc(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
            QCoreApplication::sendEvent(picker->views().back(), &esc);
        },
        [&] { QTest::mouseClick(picker->views().front(), Qt::RightButton, {}, QPoint(5, 5)); },
    };
    for (const auto& end : ends) {
        calls = 0;
        last = Selection{};
        tools.pickRange(RangeMode::area, completion);
        EXPECT_EQ(picker->views().front()->cursor().shape(), Qt::CrossCursor) << "an area is drawn";
        end();
        EXPECT_EQ(calls, 1);
        EXPECT_FALSE(last);
        if (picker->isOpen())
            picker->finish(std::nullopt);
        EXPECT_FALSE(QWidget::keyboardGrabber());
    }
}
