#include "platform/core/ScreenCoordinates.h"
#include "prefs/Loc.h"
#include "support/ModelHarness.h"
#include "toolbar/BarPlacement.h"
#include "toolbar/ToolbarPanel.h"
#include "tools/CameraPreviewWindow.h"
#include "tools/ShortcutHintController.h"
#include "tools/ShortcutHints.h"

#include <QGuiApplication>
#include <QScreen>

#include <gtest/gtest.h>

namespace corvessa::test {
namespace {

class ShortcutHintControllerTest : public ModelHarness {
protected:
    std::optional<ServiceScope> displayScope;
};

TEST_F(ShortcutHintControllerTest, FollowsThePhaseStacksOnTheEchoCardAndGivesWayToQuestions)
{
    RecorderModel& m = make(false);
    const QRectF screen = QRectF(QGuiApplication::primaryScreen()->geometry());
    displays->setDisplays({SyntheticDisplayList::makeDisplay(QStringLiteral("DP-1"), GlobalRect(GlobalPoint(), screen.size()))});
    displayScope.emplace(displays);
    ToolbarPanel panel(new QWidget, nullptr);
    panel.setFrame(GlobalRect(100, 100, 400, 120), false);
    panel.show();
    QWidget echo;
    echo.resize(200, 50);
    bool asking = false;
    ShortcutHintController hints(panel, m, prefs(), {FloatingKit(), [&] { return asking; }, [&] { return &echo; }});
    const auto cardBottom = [&] { return ToolbarPanel::coordinates().toGlobalRect(QRectF(hints.card()->geometry())).bottom(); };
    const double barTop = BarPlacement::barOf(panel.frame()).top();

    hints.refresh();
    ASSERT_TRUE(hints.card() && hints.card()->isVisible());
    EXPECT_EQ(hints.shown(), ShortcutHints::rows(m, prefs()));
    EXPECT_EQ(cardBottom(), barTop + ShortcutHintController::gap);

    echo.show();
    hints.refresh();
    EXPECT_EQ(cardBottom(), barTop + ShortcutHintController::gap + 50 + ShortcutHintController::echoGap);

    asking = true;
    hints.refresh();
    EXPECT_FALSE(hints.card()->isVisible()) << "a confirmation hides it";
    asking = false;
    hints.refresh();
    EXPECT_TRUE(hints.card()->isVisible());

    m.setPhase(RecorderPhase::saved(QStringLiteral("/tmp/a.mov")));
    EXPECT_FALSE(hints.card()->isVisible()) << "no rows after a recording";
    m.setPhase(RecorderPhase::ready());
    EXPECT_TRUE(hints.card()->isVisible());

    // It follows the bar: out with it for a countdown, back when it returns,
    // though the phase that wants hints began while the bar was away.
    panel.setWindowOpacity(0);
    EXPECT_FALSE(hints.card()->isVisible());
    panel.hide();
    m.setPhase(RecorderPhase::recording());
    panel.show();
    EXPECT_FALSE(hints.card()->isVisible()) << "the bar is still faded out";
    panel.setWindowOpacity(1);
    EXPECT_TRUE(hints.card()->isVisible());

    prefs().setShowShortcutHints(false);
    EXPECT_FALSE(hints.card()->isVisible());
}

// Rows run to over 1,100 pixels in some languages: on a narrow screen they go
// on over more lines instead of off the screen's edges.
TEST_F(ShortcutHintControllerTest, FitsOnANarrowScreenInEveryLanguage)
{
    RecorderModel& m = make(false);
    const GlobalRect screen(0, 0, 640, 480);
    displays->setDisplays({SyntheticDisplayList::makeDisplay(QStringLiteral("DP-1"), screen)});
    displayScope.emplace(displays);
    ToolbarPanel panel(new QWidget, nullptr);
    panel.setFrame(GlobalRect(120, 100, 400, 120), false);
    panel.show();
    ShortcutHintController hints(panel, m, prefs(), {FloatingKit(), {}, {}});
    Loc::setTableDirectory(QStringLiteral(":/lang"));
    for (const Loc::Lang& language : Loc::available()) {
        ASSERT_TRUE(Loc::choose(language.code));
        for (const RecorderPhase& phase : {RecorderPhase::ready(), RecorderPhase::recording(), RecorderPhase::paused()}) {
            m.setPhase(phase);
            hints.refresh();
            ASSERT_TRUE(hints.card() && hints.card()->isVisible());
            const GlobalRect card = ToolbarPanel::coordinates().toGlobalRect(QRectF(hints.card()->geometry()));
            EXPECT_TRUE(screen.contains(card)) << language.code.toStdString() << " " << card.width();
        }
    }
    Loc::choose(QStringLiteral("en"));
}

// Hints are there to be read: at the default places of the bar and of the
// camera bubble (centred above the bar), on the common screens, whatever the
// phase and tools, no hint lies under the bubble or the bar, and the card stays
// on the screen; it follows the bubble when the bubble moves onto it.
TEST_F(ShortcutHintControllerTest, NoHintLiesUnderTheCameraBubbleOrTheBar)
{
    RecorderModel& m = make(false);
    const QSizeF barSize(930, 52);
    for (const QSize size : {QSize(1280, 720), QSize(1366, 768), QSize(1920, 1080), QSize(2560, 1440)}) {
        SCOPED_TRACE(std::to_string(size.width()) + "x" + std::to_string(size.height()));
        const GlobalRect screen(0, 0, size.width(), size.height());
        displays->setDisplays({SyntheticDisplayList::makeDisplay(QStringLiteral("DP-1"), screen)});
        displayScope.emplace(displays);
        const std::vector<DisplayInfo> list = displays->displays();
        BarPlacement::Placement placement;
        placement.anchor = BarPlacement::defaultAnchor(list);
        const GlobalRect bar = BarPlacement::barRect(list, placement, barSize);
        ToolbarPanel panel(new QWidget, nullptr);
        panel.setFrame(BarPlacement::panelOf(bar), false);
        panel.show();
        const QSizeF bubbleSize = CameraPreviewWindow::previewSize(prefs().cameraShape(), prefs().cameraPreviewW());
        const GlobalRect bubbleAt = CameraPreviewWindow::defaultFrame(list, bubbleSize, std::nullopt, bar);
        QWidget bubble;
        bubble.setGeometry(ToolbarPanel::coordinates().fromGlobal(bubbleAt).toRect());
        bubble.show();
        ShortcutHintController hints(panel, m, prefs(), {FloatingKit(), {}, {}, [&] { return std::vector<QWidget*>{&bubble}; }});
        const auto check = [&](const char* what) {
            SCOPED_TRACE(what);
            hints.refresh();
            ASSERT_TRUE(hints.card() && hints.card()->isVisible());
            const QRect card = hints.card()->geometry();
            EXPECT_FALSE(card.intersects(bubble.geometry())) << "under the bubble";
            EXPECT_FALSE(card.intersects(ToolbarPanel::coordinates().fromGlobal(bar).toRect())) << "under the bar";
            EXPECT_TRUE(ToolbarPanel::coordinates().fromGlobal(screen).toRect().contains(card)) << "off the screen";
        };
        for (const RecorderPhase& phase : {RecorderPhase::ready(), RecorderPhase::recording(), RecorderPhase::paused()}) {
            m.setPhase(phase);
            check(phase.is(RecorderPhase::Kind::ready) ? "ready" : phase.is(RecorderPhase::Kind::recording) ? "recording" : "paused");
            m.setFocusOn(true);
            check("magnifier");
            m.setPenOn(true);
            check("magnifier and pen");
            m.setPenOn(false);
            m.setFocusOn(false);
        }
        // The user drags the bubble aside, and back over the card.
        bubble.move(10, 10);
        check("bubble aside");
        bubble.move(hints.card()->geometry().center() - QPoint(bubble.width() / 2, bubble.height() / 2));
        EXPECT_FALSE(hints.card()->geometry().intersects(bubble.geometry())) << "the card did not follow";
        m.setPhase(RecorderPhase::ready());
    }
}

} // namespace
} // namespace corvessa::test
