// The camera bubble on a real X server with openbox and the synthetic camera:
// where it opens, that the compositor's layout matches the window, the corner
// snap after a drag, the saved place across a relaunch and its context menu.
// The test program's own Qt runs offscreen, so the check runs in a second run
// of the program on the private server (the disabled test below).
#include "capture/CameraPreview.h"
#include "model/CameraControl.h"
#include "model/RecorderModel.h"
#include "model/Stealth.h"
#include "platform/CameraService.h"
#include "platform/PlatformLoader.h"
#include "platform/core/UserDefaults.h"
#include "prefs/Prefs.h"
#include "support/Artifacts.h"
#include "support/DrivenTest.h"
#include "support/OnServerTest.h"
#include "support/TempHome.h"
#include "support/WindowManager.h"
#include "support/XvfbTest.h"
#include "tools/CameraPreviewWindow.h"
#include "tools/PreviewView.h"

#include <QAction>
#include <QDir>
#include <QGuiApplication>
#include <QMenu>
#include <QPushButton>
#include <QScreen>
#include <QWidget>
#include <QProcess>
#include <QImage>
#include <QWindow>

#include <gtest/gtest.h>

#include <X11/Xlib.h>
#include <X11/extensions/XTest.h>

namespace corvessa::test {
namespace {

class CameraPreviewWindowXvfb : public XvfbTest {};

TEST_F(CameraPreviewWindowXvfb, OpensAboveTheBarSnapsToCornersAndFeedsTheCompositor)
{
    runOnServer(QStringLiteral("CameraBubbleOnX.DISABLED_Bubble"), {QStringLiteral("CORVESSA_CAMERA=synthetic")});
}

TEST_F(CameraPreviewWindowXvfb, TheMovieShowsTheCompositedBubbleWhereTheWindowIs)
{
    runOnServer(QStringLiteral("CameraBubbleOnX.DISABLED_Movie"), {QStringLiteral("CORVESSA_CAMERA=synthetic")});
}

class CameraBubbleOnX : public OnServerTest {
protected:
    void SetUp() override
    {
        OnServerTest::SetUp();
        if (IsSkipped() || HasFatalFailure())
            return;
        CameraService::setCurrent(nullptr);
        Prefs::resetShared();
        UserDefaults& d = UserDefaults::standard();
        d.setBool(QStringLiteral("micOn"), false);
        d.setBool(QStringLiteral("systemAudio"), false);
        Prefs::shared().setCameraShape(0);
        Prefs::shared().setCameraPreviewW(240);

        RecorderModelDependencies deps = RecorderModelDependencies::platform();
        deps.stealth = m_stealth;
        deps.terminate = [] {};
        m_model = std::make_unique<RecorderModel>(std::move(deps));
        ASSERT_FALSE(m_model->cameraDevices().empty());
        m_model->useCamera(m_model->cameraDevices().front().id);
        ASSERT_TRUE(waitFor([&] { return m_model->cameraLive(); }));
    }

    void TearDown() override
    {
        m_bubble.reset();
        m_model.reset();
        OnServerTest::TearDown();
    }

    // A bubble as the program makes it, over a toolbar bar at `bar`.
    void open()
    {
        CameraPreviewWindow::Setup setup;
        setup.kit = FloatingKit(PlatformLoader::loadFloatingSurfaces(),
                                [stealth = m_stealth](QWindow* w) { stealth->track(w); });
        setup.barRect = [this] { return std::optional<GlobalRect>(m_bar); };
        m_bubble = std::make_unique<CameraPreviewWindow>(*m_model, Prefs::shared(), UserDefaults::standard(),
                                                         std::move(setup));
        // The session comes up on the camera queue; the model's next change
        // would show the bubble, asking again does too.
        ASSERT_TRUE(waitFor([&] {
            m_bubble->updatePreview();
            return m_bubble->isVisible() && m_bubble->window()->windowHandle()->isExposed();
        }));
    }

    void pointer(QPoint p, std::optional<bool> down = std::nullopt)
    {
        XTestFakeMotionEvent(m_x, -1, p.x(), p.y(), CurrentTime);
        if (down)
            XTestFakeButtonEvent(m_x, 1, *down ? True : False, CurrentTime);
        XFlush(m_x);
        spin(30);
    }

    TempHome home;
    std::shared_ptr<Stealth> m_stealth = std::make_shared<Stealth>();
    std::unique_ptr<RecorderModel> m_model;
    std::unique_ptr<CameraPreviewWindow> m_bubble;
    GlobalRect m_bar{440, 120, 400, 56};
};

ON_SERVER_TEST_F(CameraBubbleOnX, Bubble)
{
    open();
    // 240 × 135, centred on the bar, 14 pt above it.
    const GlobalRect f = m_bubble->frame();
    EXPECT_EQ(f.size(), QSizeF(240, 135));
    EXPECT_EQ(f.bottom(), m_bar.top() + CameraPreviewWindow::barGap);
    EXPECT_EQ(f.center().x, m_bar.center().x);
    // The compositor draws the bubble where the window is.
    const auto overlay = m_model->dependencies().camera->overlay();
    EXPECT_TRUE(overlay->layout().visible);
    EXPECT_EQ(overlay->layout().frame, f);
    EXPECT_EQ(overlay->layout().shape, 0);
    // The camera's pictures reach the view.
    EXPECT_TRUE(waitFor([&] { return !m_bubble->view()->preview()->image().isNull(); }));
    screenshot(QStringLiteral("camera-bubble-above-bar.png"));

    // The menu carries its identifiers, checked as the state is.
    QMenu* menu = m_bubble->menu();
    ASSERT_TRUE(menu);
    auto* fullScreen = menu->findChild<QAction*>(QStringLiteral("camera-full-screen"));
    auto* mirror = menu->findChild<QAction*>(QStringLiteral("camera-mirror"));
    ASSERT_TRUE(fullScreen && mirror);
    EXPECT_FALSE(fullScreen->isChecked());
    EXPECT_EQ(mirror->isChecked(), Prefs::shared().cameraMirrored());
    // The full-screen shortcut's default binding, control + option + V.
    EXPECT_EQ(fullScreen->shortcut(), QKeySequence(QStringLiteral("Ctrl+Alt+V")));

    // Dragged to 60 pt from the bottom-left corner place, it snaps there.
    const QRect screen = QGuiApplication::primaryScreen()->geometry();
    QWidget* w = m_bubble->window();
    const QPoint grip = w->mapToGlobal(w->rect().center());
    pointer(grip, true);
    const QPoint target(16 + 60 + w->width() / 2, screen.bottom() + 1 - 16 - 60 - w->height() / 2);
    for (int i = 1; i <= 10; ++i)
        pointer(grip + (target - grip) * i / 10);
    pointer(target, false);
    ASSERT_TRUE(waitFor([&] { return m_bubble->previewCorner() == 0 && !m_bubble->settlePending(); }));
    ASSERT_TRUE(waitFor([&] { return m_bubble->frame().bottomLeft() == GlobalPoint{16, 16}; }))
        << m_bubble->frame().x() << "," << m_bubble->frame().y();
    EXPECT_EQ(w->geometry().topLeft(), QPoint(16, screen.bottom() + 1 - 16 - 135));
    EXPECT_EQ(overlay->layout().frame, m_bubble->frame());
    UserDefaults& d = UserDefaults::standard();
    EXPECT_EQ(d.doubleValue(CameraPreviewWindow::xKey()), 16);
    EXPECT_EQ(d.doubleValue(CameraPreviewWindow::yKey()), 16);
    screenshot(QStringLiteral("camera-bubble-snapped.png"));

    // A larger size keeps the bubble in its corner.
    m_bubble->resizePreview(CameraPreviewWindow::largeWidth);
    ASSERT_TRUE(waitFor([&] { return m_bubble->frame().width() == 360; }));
    EXPECT_EQ(m_bubble->frame().bottomLeft(), (GlobalPoint{16, 16}));
    EXPECT_EQ(overlay->layout().frame, m_bubble->frame());
    m_bubble->resizePreview(CameraPreviewWindow::mediumWidth);
    ASSERT_TRUE(waitFor([&] { return m_bubble->frame().width() == 240; }));

    // A relaunch opens it where it was left.
    m_bubble.reset();
    open();
    EXPECT_EQ(m_bubble->frame().bottomLeft(), (GlobalPoint{16, 16}));
    w = m_bubble->window();
    fullScreen = m_bubble->menu()->findChild<QAction*>(QStringLiteral("camera-full-screen"));

    // Full screen covers the display and comes back to the corner.
    ASSERT_TRUE(waitFor([&] { return m_model->cameraReady(); }));
    m_model->toggleCameraFullScreen();
    m_bubble->updatePreview();
    ASSERT_TRUE(m_bubble->isFullScreen());
    EXPECT_TRUE(waitFor([&] { return w->geometry() == screen; }));
    EXPECT_TRUE(fullScreen->isChecked());
    EXPECT_TRUE(m_bubble->view()->exitFullScreenButton()->isVisible());
    screenshot(QStringLiteral("camera-bubble-full-screen.png"));
    m_model->exitCameraFullScreen();
    m_bubble->updatePreview();
    EXPECT_FALSE(m_bubble->isFullScreen());
    EXPECT_EQ(m_bubble->frame(), GlobalRect(16, 16, 240, 135));
    EXPECT_EQ(d.doubleValue(CameraPreviewWindow::xKey()), 16);

    // Hidden: the compositor is told, with the mirror setting kept.
    m_model->setCameraPreviewHidden(true);
    m_bubble->updatePreview();
    EXPECT_FALSE(m_bubble->isVisible());
    EXPECT_FALSE(overlay->layout().visible);
    EXPECT_EQ(overlay->layout().frame, GlobalRect());
    EXPECT_EQ(overlay->layout().mirrored, Prefs::shared().cameraMirrored());
}

// A display recording: the camera is in the movie where the bubble is on
// screen, drawn by the compositor (our own windows are left out).
ON_SERVER_TEST_F(CameraBubbleOnX, Movie)
{
    open();
    const GlobalRect bubble = m_bubble->frame();
    QDir().mkpath(home.file(QStringLiteral("Movies")));
    ASSERT_TRUE(Prefs::shared().setSaveFolder(home.file(QStringLiteral("Movies"))));
    m_model->record();
    ASSERT_TRUE(waitFor([&] { return m_model->phase().is(RecorderPhase::Kind::recording); }))
        << "phase " << int(m_model->phase().kind);
    spin(2000);
    m_model->stop();
    ASSERT_TRUE(waitFor([&] { return m_model->phase().is(RecorderPhase::Kind::saved); }));
    const QString movie = m_model->phase().url;
    const QString frame = home.file(QStringLiteral("frame.png"));
    ASSERT_EQ(QProcess::execute(QStringLiteral("ffmpeg"),
                                {QStringLiteral("-loglevel"), QStringLiteral("error"), QStringLiteral("-y"),
                                 QStringLiteral("-sseof"), QStringLiteral("-1"), QStringLiteral("-i"), movie,
                                 QStringLiteral("-frames:v"), QStringLiteral("1"), frame}),
              0);
    const QImage picture(frame);
    ASSERT_FALSE(picture.isNull());
    WindowManager::keepScreenshot(QStringLiteral("camera-bubble-recording.png"));
    if (const QString kept = Artifacts::path(QStringLiteral("camera-bubble-movie-frame.png")); !kept.isEmpty())
        picture.save(kept);
    // The bubble's centre in the movie's pixels (the primary screen fills it).
    const QRect screen = QGuiApplication::primaryScreen()->geometry();
    const double sx = double(picture.width()) / screen.width(), sy = double(picture.height()) / screen.height();
    const QPointF centre(bubble.center().x, screen.height() - bubble.center().y);
    int lit = 0;
    for (int dy = -20; dy <= 20; dy += 10)
        for (int dx = -40; dx <= 40; dx += 10)
            lit += picture.pixelColor(int((centre.x() + dx) * sx), int((centre.y() + dy) * sy)).lightness() > 40;
    EXPECT_GT(lit, 20) << "no camera picture where the bubble is";
    // Far from the bubble the desktop (black) shows.
    EXPECT_LT(picture.pixelColor(5, 5).lightness(), 20);
}

} // namespace
} // namespace corvessa::test
