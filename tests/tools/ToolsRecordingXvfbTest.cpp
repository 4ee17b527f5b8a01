// The on-screen tools around a display recording, on a real X server with
// openbox, with and without a compositing manager: the magnifier in
// follow-cursor mode zooms the movie where the pointer goes, and the
// teleprompter, the zoom badge, the lens outline, the shortcut hints and the
// pen palette are on the screen but in no frame of the movie. The model and
// the tools are put together as the program does; the checks run in a second
// run of the program on the private server.
#include "model/RecorderModel.h"
#include "model/Stealth.h"
#include "platform/PlatformLoader.h"
#include "platform/core/UserDefaults.h"
#include "platform/synthetic/SyntheticAudioInput.h"
#include "prefs/Prefs.h"
#include "support/Artifacts.h"
#include "support/DrivenTest.h"
#include "support/MoviePictures.h"
#include "support/OnServerTest.h"
#include "support/ServiceScope.h"
#include "support/TempHome.h"
#include "support/XvfbTest.h"
#include "toolbar/Confirm.h"
#include "toolbar/ToolActions.h"
#include "toolbar/ToolbarHost.h"
#include "toolbar/ToolbarPanel.h"
#include "tools/LensOutlineView.h"
#include "tools/LensOverlay.h"
#include "tools/PenPalettePanel.h"
#include "tools/PrompterPanel.h"
#include "tools/RangeDimOverlay.h"
#include "tools/DimTarget.h"
#include "tools/DimView.h"
#include "tools/TargetPicker.h"
#include "tools/ProgramTools.h"
#include "tools/ShortcutHintController.h"
#include "tools/ZoomBadge.h"
#include "tools/ZoomHUD.h"

#include <QApplication>
#include <QDir>
#include <algorithm>
#include <QGuiApplication>
#include <QJsonArray>
#include <QRegion>
#include <QScreen>
#include <QStandardPaths>
#include <QWindow>

#include <gtest/gtest.h>

// X11 last: its macros clash with names in Qt and GoogleTest.
#include <X11/Xlib.h>


namespace corvessa::test {
namespace {

class ToolsRecordingXvfb : public XvfbTest, public ::testing::WithParamInterface<bool> {
protected:
    void run(const char* name)
    {
        runOnServer(QStringLiteral("ToolsRecordingOnX.DISABLED_") + QLatin1String(name),
                    {QStringLiteral("CORVESSA_TEST_COMPOSITOR=") + (GetParam() ? QLatin1String("1") : QLatin1String("0"))});
    }
};

TEST_P(ToolsRecordingXvfb, TheMagnifierFollowsThePointerInTheMovie) { run("Follow"); }
TEST_P(ToolsRecordingXvfb, ToolWindowsAreOnScreenAndInNoFrame) { run("Unrecorded"); }
INSTANTIATE_TEST_SUITE_P(Compositor, ToolsRecordingXvfb, ::testing::Values(false, true),
                         [](const auto& info) { return info.param ? "WithCompositor" : "WithoutCompositor"; });

// Under a compositing manager that draws a shadow around every window, ours
// included, the shadows are in no frame either.
class ToolsRecordingShadowsXvfb : public XvfbTest {};
// A plain desktop has no compositor to frame an area; the shaped frame goes around it.
TEST_F(ToolsRecordingShadowsXvfb, AnAreaOverThePlainRootKeepsItsColour)
{
    runOnServer(QStringLiteral("ToolsRecordingOnX.DISABLED_PlainArea"), {QStringLiteral("CORVESSA_TEST_COMPOSITOR=0")});
}

TEST_F(ToolsRecordingShadowsXvfb, ToolWindowsAndTheirShadowsAreInNoFrame)
{
    runOnServer(QStringLiteral("ToolsRecordingOnX.DISABLED_Unrecorded"), {QStringLiteral("CORVESSA_TEST_COMPOSITOR=picom")});
}

class ToolsRecordingOnX : public OnServerTest {
protected:
    void SetUp() override
    {
        OnServerTest::SetUp();
        if (IsSkipped() || HasFatalFailure())
            return;
        if (QStandardPaths::findExecutable(QStringLiteral("ffmpeg")).isEmpty())
            GTEST_SKIP() << "ffmpeg is needed";
        m_input.emplace(std::make_shared<SyntheticAudioInput>());
        Prefs::resetShared();
        UserDefaults& d = UserDefaults::standard();
        for (const char* key : {"micOn", "systemAudio", "cameraOn"})
            d.setBool(QLatin1String(key), false);
        QDir().mkpath(home.file(QStringLiteral("Movies")));
        Prefs& prefs = Prefs::shared();
        prefs.setSaveFolder(home.file(QStringLiteral("Movies")));
        prefs.setCountdown(false);
        prefs.setCursorTheme(2); // no pointer drawn in the movie
        prefs.setFocusMode(0);

        const auto track = [stealth = m_stealth](QWindow* w) { stealth->track(w); };
        RecorderModelDependencies deps = RecorderModelDependencies::platform();
        deps.stealth = m_stealth;
        m_tools = std::make_shared<ProgramTools>(&RecorderModelDependencies::otherWindows, deps.log, nullptr,
                                                 FloatingKit(PlatformLoader::loadFloatingSurfaces(), track));
        m_tools->setRecordingActive([stealth = m_stealth] { return stealth->active(); });
        deps.tools = m_tools;
        deps.confirm = std::make_shared<Confirm>(track);
        deps.terminate = [] {};
        m_model = std::make_unique<RecorderModel>(std::move(deps));
        m_tools->teleprompter().onShownChanged = [model = m_model.get()](bool shown) { model->setPrompterShown(shown); };
    }

    void TearDown() override
    {
        PenPalettePanel::shared().dismiss();
        m_hints.reset();
        m_host.reset();
        m_model.reset();
        m_tools.reset();
        OnServerTest::TearDown();
    }

    // Another program's plain window beneath everything, past the window manager.
    void paint(const QRect& r, QRgb colour)
    {
        foreignWindow(r, colour & 0xffffff, true);
        const auto grab = [&] { return QGuiApplication::primaryScreen()->grabWindow(0).toImage(); };
        ASSERT_TRUE(waitFor([&] { return (grab().pixel(r.center()) & 0xffffff) == (colour & 0xffffff); }));
    }

    // The toolbar and the shortcut hints beside it, as the program shows them.
    void showBar()
    {
        const FloatingKit kit(PlatformLoader::loadFloatingSurfaces(),
                              [stealth = m_stealth](QWindow* w) { stealth->track(w); });
        ToolbarHost::Setup setup;
        setup.kit = kit;
        setup.clicks = PlatformLoader::loadOutsideClickMonitor();
        setup.bar.tools = ToolActions::forModel(*m_model);
        m_host = std::make_unique<ToolbarHost>(*m_model, Prefs::shared(), std::move(setup));
        m_host->setVisible(true);
        m_hints = std::make_unique<ShortcutHintController>(m_host->panel(), *m_model, Prefs::shared(),
                                                           ShortcutHintController::Setup{kit, {}, {}});
        ASSERT_TRUE(waitFor([&] { return m_host->panel().windowHandle()->isExposed(); }));
    }

    void record()
    {
        m_model->record();
        ASSERT_TRUE(waitFor([&] { return m_model->phase().is(RecorderPhase::Kind::recording); }))
            << "phase " << int(m_model->phase().kind);
    }

    QString stopAndSave()
    {
        m_model->stop();
        EXPECT_TRUE(waitFor([&] { return m_model->phase().is(RecorderPhase::Kind::saved); }))
            << "phase " << int(m_model->phase().kind);
        return m_model->phase().url;
    }

    static bool shown(const QWidget* w) { return w && w->isVisible() && w->windowHandle() && w->windowHandle()->isExposed(); }
    QString suffix() const
    {
        if (qEnvironmentVariable("CORVESSA_TEST_COMPOSITOR") == QLatin1String("picom"))
            return QStringLiteral("-shadows.png");
        return m_compositor ? QStringLiteral("-cm.png") : QStringLiteral(".png");
    }

    TempHome home;
    std::optional<ServiceScope> m_input;
    std::shared_ptr<Stealth> m_stealth = std::make_shared<Stealth>();
    std::shared_ptr<ProgramTools> m_tools;
    std::unique_ptr<RecorderModel> m_model;
    std::unique_ptr<ToolbarHost> m_host;
    std::unique_ptr<ShortcutHintController> m_hints;
};

ON_SERVER_TEST_F(ToolsRecordingOnX, Follow)
{
    // Red on the left third, grey between, blue on the right third.
    const QSize screen = QGuiApplication::primaryScreen()->geometry().size();
    const int third = screen.width() / 3;
    const QColor red(0xd02020), blue(0x2040d0);
    paint(QRect(0, 0, third, screen.height()), red.rgb());
    paint(QRect(third, 0, screen.width() - 2 * third, screen.height()), 0x808080);
    paint(QRect(screen.width() - third, 0, third, screen.height()), blue.rgb());
    const double frac = 0.5;
    Prefs::shared().setFocusFrac(frac);

    move(QPoint(60, screen.height() / 2));
    record();
    m_model->toggleFocus();
    ASSERT_TRUE(m_model->focusOn());
    spin(3000);
    for (int i = 1; i <= 10; ++i)
        move(QPoint(60 + (screen.width() - 120) * i / 10, screen.height() / 2));
    spin(3000);
    const QString movie = stopAndSave();

    // Held at the left edge, the view shows the red third enlarged 1/frac
    // times: `zoomed` of its width; unzoomed it would be a third.
    const double zoomed = std::min(1.0, third / (frac * screen.width()));
    std::vector<double> reds, blues;
    const QSize small(screen / 4);
    const int pictures = MoviePictures::each(movie, small, [&](const QImage& picture) {
        int r = 0, b = 0;
        for (int y = 0; y < small.height(); ++y) {
            for (int x = 0; x < small.width(); ++x) {
                const QColor c = picture.pixelColor(x, y);
                r += MoviePictures::distance(c, red) < 90 ? 1 : 0;
                b += MoviePictures::distance(c, blue) < 90 ? 1 : 0;
            }
        }
        reds.push_back(double(r) / (small.width() * small.height()));
        blues.push_back(double(b) / (small.width() * small.height()));
    });
    ASSERT_GT(pictures, 10);
    const auto redPeak = std::max_element(reds.begin(), reds.end()) - reds.begin();
    const auto bluePeak = std::max_element(blues.begin(), blues.end()) - blues.begin();
    EXPECT_NEAR(reds[size_t(redPeak)], zoomed, 0.08) << "the pointer's part is enlarged";
    EXPECT_NEAR(blues[size_t(bluePeak)], zoomed, 0.08);
    EXPECT_NEAR(blues.back(), zoomed, 0.08) << "the view stays with the pointer at the right";
    EXPECT_LT(redPeak, bluePeak) << "the view follows the pointer from left to right";
    EXPECT_LT(reds.back(), 0.05);
}

ON_SERVER_TEST_F(ToolsRecordingOnX, Unrecorded)
{
    // A plain desktop: anything else in a frame is a window of ours.
    const QRect screen = QGuiApplication::primaryScreen()->geometry();
    const QColor desk(0x60a0a0);
    paint(screen, desk.rgb());
    Prefs::shared().setFocusFrac(0.8);
    Prefs::shared().setShowShortcutHints(true);
    move(screen.center());
    showBar();
    record();

    // The teleprompter on the left, clear of the badge at the top.
    UserDefaults::standard().setArray(Teleprompter::frameKey, QJsonArray{40, screen.height() - 380, 360, 260});
    m_model->togglePrompter();
    m_model->toggleFocus();
    const QRect bar = m_host->panel().geometry();
    PenPalettePanel::shared().show(QRect(bar.right() - 80, bar.top() + 10, 20, 20));
    const std::vector<std::pair<const char*, std::function<QWidget*()>>> windows{
        {"zoom badge", [&] { return static_cast<QWidget*>(m_tools->zoomHUD().badge()); }},
        {"teleprompter", [&] { return static_cast<QWidget*>(m_tools->teleprompter().panel()); }},
        {"lens outline", [&] { return static_cast<QWidget*>(m_tools->lensOverlay().view()); }},
        {"pen palette", [] { return PenPalettePanel::shared().window(); }},
        {"shortcut hints", [&] { return m_hints->card(); }},
        {"toolbar", [&] { return &m_host->panel(); }},
    };
    const auto allShown = [&] {
        return std::all_of(windows.begin() + 1, windows.end(), [](const auto& w) { return shown(w.second()); });
    };
    ASSERT_TRUE(waitFor(allShown)) << "not up: " << [&] {
        std::string missing;
        for (auto w = windows.begin() + 1; w != windows.end(); ++w)
            missing += shown(w->second()) ? "" : std::string(w->first) + "; ";
        return missing;
    }();
    // How many pixels of `picture` in `r` differ from the desktop's.
    const auto offDesk = [&](const QImage& picture, const QRect& r) {
        int ours = 0;
        for (int y = r.top(); y <= r.bottom(); ++y)
            for (int x = r.left(); x <= r.right(); ++x)
                ours += MoviePictures::distance(picture.pixelColor(x, y), desk) > 60 ? 1 : 0;
        return ours;
    };
    // How many pixels other than the desktop's the window `i` shows in `shot`
    // where no other one covers it (the lens outline goes around them all),
    // with the windows where they were when it was taken.
    const auto seen = [&](const QImage& shot, const std::vector<QRect>& frames, size_t i) {
        const QRect frame = frames[i] & screen;
        QRegion own(frame);
        for (size_t j = 0; j < frames.size(); ++j)
            own -= j == i || frames[j].contains(frame) ? QRegion() : QRegion(frames[j]);
        int ours = 0;
        for (const QRect& r : own)
            ours += offDesk(shot, r);
        return ours;
    };
    const auto frames = [&] {
        std::vector<QRect> r;
        for (const auto& w : windows)
            r.push_back(w.second()->frameGeometry());
        return r;
    };
    // The badge goes after a second: shown last, just before the picture. A
    // slow machine may let it go first, or take the picture while the lens
    // outline still glides to the new size: then once more.
    std::vector<int> counts(windows.size());
    for (int attempt = 0; attempt < 3 && std::any_of(counts.begin(), counts.end(), [](int n) { return n <= 100; });
         ++attempt) {
        m_model->zoomFocus(-1);
        spin(500);
        ASSERT_TRUE(waitFor([&] { return shown(windows[0].second()); }));
        const std::vector<QRect> before = frames();
        const QImage shot = screenshot(QStringLiteral("tools-recording") + suffix());
        if (frames() != before)
            continue;
        for (size_t i = 0; i < windows.size(); ++i)
            counts[i] = seen(shot, before, i);
    }
    for (size_t i = 0; i < windows.size(); ++i)
        EXPECT_GT(counts[i], 100) << windows[i].first << " is not on the screen";
    spin(1500);
    // Unzoomed too, so no corner of the screen is outside the frames.
    m_model->toggleFocus();
    m_model->zoomFocus(-1);
    spin(1500);
    const QString movie = stopAndSave();

    int worst = 0;
    QImage worstPicture;
    const int count = MoviePictures::each(movie, screen.size(), [&](const QImage& picture) {
        const int ours = offDesk(picture, picture.rect());
        if (ours > worst) {
            worst = ours;
            worstPicture = picture;
        }
    });
    ASSERT_GT(count, 10);
    if (const QString kept = Artifacts::path(QStringLiteral("worst-frame.png")); !worstPicture.isNull() && !kept.isEmpty())
        worstPicture.save(kept);
    EXPECT_EQ(worst, 0) << "a frame shows a window of ours";
}

// An area dragged over a desktop that the root paints in one colour
// (xsetroot -solid), with another program's window in it: the movie shows the
// root's colour and that window as the screen does, with the frame around
// the area on the screen only.
ON_SERVER_TEST_F(ToolsRecordingOnX, PlainArea)
{
    const QColor desk(0xc04020), other(0x20c040);
    const Window root = DefaultRootWindow(m_x);
    XSetWindowBackground(m_x, root, desk.rgb() & 0xffffff);
    XClearWindow(m_x, root);
    const QRect area(200, 150, 800, 500);
    const QRect inside(300, 250, 200, 150);
    paint(inside, other.rgb());

    m_model->chooseRange(RangeMode::area);
    ASSERT_TRUE(waitFor([&] { return !keyboardFree(); })) << "the picker holds the keyboard";
    move(area.topLeft());
    spin(100);
    button(true);
    move(area.topLeft() + QPoint(area.width(), area.height()));
    spin(300);
    button(false);
    ASSERT_TRUE(waitFor([&] { return m_model->areaPick().has_value(); })) << "no area picked";
    ASSERT_EQ(m_model->areaPick()->rect.toRect(), area);
    RangeDimOverlay dim({FloatingKit(PlatformLoader::loadFloatingSurfaces(),
                                     [stealth = m_stealth](QWindow* w) { stealth->track(w); }),
                         {}, {}});
    dim.set(DimTarget::forModel(*m_model, true)); // as with the bar up before the start
    ASSERT_TRUE(waitFor([&] {
        for (QWidget* w : QApplication::topLevelWidgets())
            if (auto* d = dynamic_cast<DimView*>(w); d && shown(d) && d->hole())
                return true;
        return false;
    })) << "no frame around the area";
    move(QPoint(1200, 750)); // the pointer out of the area
    spin(300);
    screenshot(QStringLiteral("plain-area.png"));
    record();
    dim.set(DimTarget::forModel(*m_model, false));
    spin(2000);
    const QString movie = stopAndSave();
    dim.set({});

    const QSize size = area.size();
    const QRect core = inside.adjusted(2, 2, -2, -2);
    const QRect edges = inside.adjusted(-2, -2, 2, 2);
    int worst = size.width() * size.height();
    int worstOther = worst;
    QImage worstPicture;
    const int count = MoviePictures::each(movie, size, [&](const QImage& picture) {
        int onDesk = 0, onOther = 0;
        for (int y = 0; y < size.height(); ++y)
            for (int x = 0; x < size.width(); ++x) {
                const QPoint p = area.topLeft() + QPoint(x, y);
                if (edges.contains(p) && !core.contains(p))
                    continue; // the encoder blends colours across an edge
                const bool theirs = core.contains(p);
                const QColor c = picture.pixelColor(x, y);
                (theirs ? onOther : onDesk) += MoviePictures::distance(c, theirs ? other : desk) < 40 ? 1 : 0;
            }
        if (onDesk < worst)
            worstPicture = picture;
        worst = std::min(worst, onDesk);
        worstOther = std::min(worstOther, onOther);
    });
    XSetWindowBackground(m_x, root, 0);
    XClearWindow(m_x, root);
    ASSERT_GT(count, 3);
    if (const QString kept = Artifacts::path(QStringLiteral("plain-area-worst.png")); !worstPicture.isNull() && !kept.isEmpty())
        worstPicture.save(kept);
    const int deskPixels = size.width() * size.height() - edges.width() * edges.height();
    EXPECT_GE(worst, deskPixels * 995 / 1000) << "of " << deskPixels << " desktop pixels";
    EXPECT_GE(worstOther, core.width() * core.height() * 995 / 1000);
}

} // namespace
} // namespace corvessa::test
