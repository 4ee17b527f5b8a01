// The toolbar on a real X server with openbox, with and without a compositing
// manager: where it appears, dragging and docking, its menus and outside
// clicks, and a recording driven by the mouse alone that never shows the bar.
// The test program's own Qt runs offscreen, so each check runs in a second run
// of the program on the private server (the disabled tests below).
#include "model/RecorderModel.h"
#include "model/Stealth.h"
#include "platform/DialogPlacement.h"
#include "platform/FileReveal.h"
#include "platform/PlatformLoader.h"
#include "platform/synthetic/SyntheticAudioInput.h"
#include "platform/core/UserDefaults.h"
#include "prefs/HotKeyCenter.h"
#include "prefs/Prefs.h"
#include "support/Artifacts.h"
#include "support/DrivenTest.h"
#include "support/OnServerTest.h"
#include "support/ServiceScope.h"
#include "support/TempHome.h"
#include "support/XvfbTest.h"
#include "toolbar/BarDocking.h"
#include "toolbar/Confirm.h"
#include "toolbar/EchoHintController.h"
#include "toolbar/FloatingMenu.h"
#include "toolbar/ReopenGuard.h"
#include "toolbar/ToolActions.h"
#include "toolbar/ToolbarHost.h"
#include "toolbar/ToolbarPanel.h"
#include "toolbar/HintView.h"
#include "toolbar/TipView.h"
#include "toolbar/TipWindow.h"
#include "toolbar/kit/GlassBackground.h"

#include <QAbstractButton>
#include <QApplication>
#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <QProcess>
#include <QScreen>
#include <QTimer>

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/keysym.h>

namespace corvessa::test {
namespace {

class ToolbarXvfb : public XvfbTest, public ::testing::WithParamInterface<bool> {
protected:
    void run(const char* name)
    {
        runOnServer(QStringLiteral("ToolbarOnX.DISABLED_") + QLatin1String(name),
                    {QStringLiteral("CORVESSA_TEST_COMPOSITOR=") + (GetParam() ? QLatin1String("1") : QLatin1String("0"))});
    }
};

TEST_P(ToolbarXvfb, AppearsDragsDocksAndComesBackAfterARelaunch) { run("Placement"); }
TEST_P(ToolbarXvfb, SourceMenusOpenBesideTheirItemAndCloseOnOutsideClicks) { run("Menus"); }
TEST_P(ToolbarXvfb, RecordsWithTheMouseAloneAndNeverShowsInTheMovie) { run("Recording"); }
TEST_P(ToolbarXvfb, EveryFloatingSurfaceIsOneGlassLegibleOverABusyDesktop) { run("Glass"); }
TEST_P(ToolbarXvfb, AQuestionIsADialogWithoutMinimiseOrMaximise) { run("Question"); }
TEST_P(ToolbarXvfb, ATipShowsOnlyWhileThePointerRestsOnItsControl) { run("Tips"); }
INSTANTIATE_TEST_SUITE_P(Compositor, ToolbarXvfb, ::testing::Values(false, true),
                         [](const auto& info) { return info.param ? "WithCompositor" : "WithoutCompositor"; });

// Files the reveal requests instead of asking a file manager.
class RecordedReveal : public FileReveal {
public:
    void showItems(const QStringList& paths, Done done) override
    {
        shown = paths;
        if (done)
            done(true);
    }
    void openFolder(const QString&, Done) override {}
    QStringList shown;
};

class ToolbarOnX : public OnServerTest {
protected:
    void SetUp() override
    {
        OnServerTest::SetUp();
        if (IsSkipped() || HasFatalFailure())
            return;
        // Devices of our own: the sound server of the machine (or none, or one
        // still being spawned) must not decide whether the mic menu opens.
        m_input.emplace(std::make_shared<SyntheticAudioInput>());
        Prefs::resetShared();
        UserDefaults& d = UserDefaults::standard();
        d.setBool(QStringLiteral("micOn"), false);
        d.setBool(QStringLiteral("systemAudio"), false);
        d.setBool(QStringLiteral("cameraOn"), false);
        QDir().mkpath(home.file(QStringLiteral("Movies")));
        Prefs::shared().setSaveFolder(home.file(QStringLiteral("Movies")));
        m_reveal = std::make_shared<RecordedReveal>();
        m_revealScope.emplace(m_reveal);
        build();
    }

    void TearDown() override
    {
        m_host.reset();
        m_model.reset();
        OnServerTest::TearDown();
    }

    // The model over the program's own services and the toolbar over it.
    void build()
    {
        const auto track = [stealth = m_stealth](QWindow* w) { stealth->track(w); };
        RecorderModelDependencies deps = RecorderModelDependencies::platform();
        deps.stealth = m_stealth;
        m_confirm = std::make_shared<Confirm>(track);
        deps.confirm = m_confirm;
        deps.terminate = [] {};
        m_model = std::make_unique<RecorderModel>(std::move(deps));
        ToolbarHost::Setup setup;
        setup.kit = FloatingKit(PlatformLoader::loadFloatingSurfaces(), track);
        setup.clicks = PlatformLoader::loadOutsideClickMonitor();
        setup.bar.tools = ToolActions::forModel(*m_model);
        setup.bar.reveal = [](const QStringList& paths, FileReveal::Done done) {
            FileReveal::current()->showItems(paths, std::move(done));
        };
        setup.bar.confirmDiscard = [this](bool restart) {
            const bool ok = restart ? m_model->askPaused(QStringLiteral("Restart Recording?"), {}, QStringLiteral("Restart"))
                                    : m_model->askPaused(QStringLiteral("Cancel Recording?"), {}, QStringLiteral("Delete"));
            if (ok)
                m_model->discard(restart);
        };
        m_host = std::make_unique<ToolbarHost>(*m_model, Prefs::shared(), std::move(setup));
        m_model->onCountdown = [this](bool starting) { m_host->countdown(starting); };
        m_host->setVisible(true);
        ASSERT_TRUE(waitFor([&] { return m_host->panel().windowHandle()->isExposed(); }));
        spin(300);
    }

    QWidget* control(const char* name) { return m_host->bar().findChild<QWidget*>(QLatin1String(name)); }
    void clickControl(const char* name)
    {
        // The bar comes back after a countdown; wait until it is on screen.
        ASSERT_TRUE(waitFor([&] {
            QWidget* w = control(name);
            return w && w->isVisible() && m_host->panel().windowHandle()->isExposed()
                && m_host->panel().windowOpacity() > 0.99 && settledOnServer(&m_host->panel());
        })) << name << ": " << serverGeometry(&m_host->panel());
        spin(100);
        QWidget* w = control(name);
        click(w->mapToGlobal(w->rect().center()));
    }
    // The visible bar in Qt coordinates.
    QRect barOnScreen()
    {
        QWidget& p = m_host->panel();
        return QRect(p.mapToGlobal(QPoint(0, 0)), p.size()).adjusted(BarView::margin, BarView::margin,
                                                                     -BarView::margin, -BarView::margin);
    }
    // The whole screen, kept as <test>-toolbar-<name>.png in $CORVESSA_TEST_ARTIFACTS.
    QImage screenshot(const QString& name)
    {
        return OnServerTest::screenshot(QStringLiteral("toolbar-") + name + (m_compositor ? "-cm" : "") + QStringLiteral(".png"));
    }

    TempHome home;
    std::shared_ptr<Stealth> m_stealth = std::make_shared<Stealth>();
    std::shared_ptr<Confirm> m_confirm;
    std::optional<ServiceScope> m_input, m_revealScope;
    std::shared_ptr<RecordedReveal> m_reveal;
    std::unique_ptr<RecorderModel> m_model;
    std::unique_ptr<ToolbarHost> m_host;
};

ON_SERVER_TEST_F(ToolbarOnX, Placement)
{
    const QRect screen = QGuiApplication::primaryScreen()->geometry();
    QRect bar = barOnScreen();
    // Centred, its top 180 pt above the bottom of the primary screen.
    EXPECT_NEAR(bar.center().x(), screen.center().x(), 1);
    EXPECT_EQ(screen.bottom() + 1 - bar.top(), 180);
    const QImage shot = screenshot(QStringLiteral("ready"));
    // The margin around the card shows the desktop, never a black or grey box.
    const QColor corner = shot.pixelColor(bar.topLeft() - QPoint(BarView::margin - 2, BarView::margin - 2));
    const QColor desktop = shot.pixelColor(5, 5);
    EXPECT_LE(std::abs(corner.lightness() - desktop.lightness()), 24) << "margin shows " << corner.name().toStdString();

    // Dragged by its background (the padding left of the first control) to
    // near the top-left corner, it docks there.
    const QPoint grip(bar.left() + 5, bar.center().y());
    move(grip);
    button(true);
    for (int i = 1; i <= 10; ++i)
        move(grip + (QPoint(60, 40) - grip) * i / 10);
    button(false);
    ASSERT_TRUE(waitFor([&] { return !m_host->docking().barDragging() && m_host->docking().barDock(); }));
    EXPECT_EQ(int(*m_host->docking().barDock()), int(ToolbarMagnet::Dock::topLeft));
    ASSERT_TRUE(waitFor([&] { return barOnScreen().topLeft() == screen.topLeft() + QPoint(16, 16); }))
        << barOnScreen().x() << "," << barOnScreen().y();
    UserDefaults& d = UserDefaults::standard();
    EXPECT_EQ(d.integer(QStringLiteral("barDock")), 6);
    EXPECT_TRUE(d.contains(QStringLiteral("barDockDisplay")));
    EXPECT_TRUE(d.doubleValue(QStringLiteral("barMidX")) && d.doubleValue(QStringLiteral("barTop")));
    screenshot(QStringLiteral("docked"));

    // A relaunch finds it where it was left.
    m_host.reset();
    m_model.reset();
    build();
    ASSERT_TRUE(m_host->docking().barDock());
    EXPECT_EQ(barOnScreen().topLeft(), screen.topLeft() + QPoint(16, 16));
}

ON_SERVER_TEST_F(ToolbarOnX, Menus)
{
    FloatingMenu& menu = m_host->menu();
    // Another program's window, which must still get the click that closes the menu.
    Window other = XCreateSimpleWindow(m_x, DefaultRootWindow(m_x), 100, 100, 300, 200, 0, 0, 0x808080);
    XSelectInput(m_x, other, ButtonPressMask);
    XMapRaised(m_x, other);
    XSync(m_x, False);
    spin(300);

    QWidget* mic = control("mic");
    ASSERT_TRUE(mic);
    const QRect anchor(mic->mapToGlobal(QPoint(0, 0)), mic->size());
    clickControl("mic");
    ASSERT_TRUE(waitFor([&] { return menu.isVisible(); }));
    // Beside its item: above the bar, which sits low on the screen, and over it horizontally.
    const QRect card = menu.panel()->geometry().adjusted(26, 26, -26, -26);
    EXPECT_LT(card.bottom(), barOnScreen().top());
    EXPECT_TRUE(card.left() <= anchor.center().x() && anchor.center().x() <= card.right());
    screenshot(QStringLiteral("mic-menu"));

    // The window manager placed the other window where it liked.
    int ox = 0, oy = 0;
    Window child = None;
    XTranslateCoordinates(m_x, other, DefaultRootWindow(m_x), 150, 100, &ox, &oy, &child);
    click(QPoint(ox, oy));
    ASSERT_TRUE(waitFor([&] { return !menu.isVisible(); }));
    bool reached = false;
    while (XPending(m_x)) {
        XEvent e;
        XNextEvent(m_x, &e);
        reached = reached || (e.type == ButtonPress && e.xbutton.window == other);
    }
    EXPECT_TRUE(reached) << "the outside click never reached the other window";

    // A second press on the item closes its menu and does not reopen it. (First
    // past the guard that keeps the closing press from reopening the menu.)
    spin(2 * int(ReopenGuard::window * 1000));
    clickControl("mic");
    ASSERT_TRUE(waitFor([&] { return menu.isVisible(); }));
    clickControl("mic");
    spin(300);
    EXPECT_FALSE(menu.isVisible());

    // Escape closes a menu, though the keyboard focus is elsewhere: the menu
    // never takes it. The key is ours only while the menu is open.
    {
        HotKeyCenter keys(PlatformLoader::loadGlobalHotKeys());
        menu.closeOnEscape(keys);
        spin(2 * int(ReopenGuard::window * 1000));
        clickControl("mic");
        ASSERT_TRUE(waitFor([&] { return menu.isVisible(); }));
        EXPECT_TRUE(keys.isEscapeRegistered());
        key(XK_Escape);
        EXPECT_TRUE(waitFor([&] { return !menu.isVisible(); }, 5000)) << "Escape left the menu open";
        EXPECT_FALSE(keys.isEscapeRegistered());
        menu.dismiss();
        menu.onOpenChanged = nullptr;
    }
    XDestroyWindow(m_x, other);
}

ON_SERVER_TEST_F(ToolbarOnX, Recording)
{
    const QRect bar = barOnScreen();
    clickControl("record");
    ASSERT_TRUE(waitFor([&] { return m_model->phase().is(RecorderPhase::Kind::recording); }, 20000))
        << "phase " << int(m_model->phase().kind);
    ASSERT_TRUE(waitFor([&] { return control("pause") != nullptr; }));
    screenshot(QStringLiteral("recording"));
    clickControl("pause");
    ASSERT_TRUE(waitFor([&] { return m_model->phase().is(RecorderPhase::Kind::paused); }));
    screenshot(QStringLiteral("paused"));
    clickControl("layout");
    ASSERT_TRUE(waitFor([&] { return control("compactMic") != nullptr; }));
    screenshot(QStringLiteral("compact"));
    clickControl("layout");
    ASSERT_TRUE(waitFor([&] { return control("restart") != nullptr; }));
    clickControl("pause");
    ASSERT_TRUE(waitFor([&] { return m_model->phase().is(RecorderPhase::Kind::recording); }));
    spin(1500);

    // Stop asks first; the dialog's own button is clicked with the mouse too.
    const auto answerDialog = [this](const QString& ok) {
        // Looks for the question until it shows, then clicks its button.
        auto* poll = new QTimer(qApp);
        poll->setInterval(100);
        QObject::connect(poll, &QTimer::timeout, [this, ok, poll] {
            for (QWidget* w : QApplication::topLevelWidgets()) {
                for (QAbstractButton* b : w->findChildren<QAbstractButton*>()) {
                    if (b->isVisible() && b->text() == ok && b->window()->windowHandle()->isExposed()) {
                        poll->deleteLater();
                        poll->stop();
                        click(b->mapToGlobal(b->rect().center()));
                        return;
                    }
                }
            }
        });
        poll->start();
    };
    answerDialog(QStringLiteral("Stop and Save"));
    const QPoint pointer = control("stop")->mapToGlobal(control("stop")->rect().center());
    clickControl("stop");
    ASSERT_TRUE(waitFor([&] { return m_model->phase().is(RecorderPhase::Kind::saved); }, 30000))
        << "phase " << int(m_model->phase().kind);
    ASSERT_TRUE(waitFor([&] { return control("showInFolder") != nullptr; }));
    screenshot(QStringLiteral("saved"));
    const QString movie = m_model->phase().url;

    // No pixel of the bar in the movie: where it stood, the desktop shows
    // (and the drawn pointer, last seen on the stop button).
    const QString frame = home.file(QStringLiteral("frame.png"));
    ASSERT_EQ(QProcess::execute(QStringLiteral("ffmpeg"), {QStringLiteral("-loglevel"), QStringLiteral("error"),
                                                           QStringLiteral("-y"), QStringLiteral("-sseof"),
                                                           QStringLiteral("-1"), QStringLiteral("-i"), movie,
                                                           QStringLiteral("-frames:v"), QStringLiteral("1"), frame}),
              0);
    const QImage picture(frame);
    ASSERT_FALSE(picture.isNull());
    if (const QString stem = Artifacts::path(QStringLiteral("toolbar-recorded") + (m_compositor ? "-cm" : ""));
        !stem.isEmpty()) {
        QFile::remove(stem + QStringLiteral(".mov"));
        QFile::copy(movie, stem + QStringLiteral(".mov"));
        picture.save(stem + QStringLiteral("-last-frame.png"));
    }
    const QSize screen = QGuiApplication::primaryScreen()->geometry().size();
    const double sx = double(picture.width()) / screen.width(), sy = double(picture.height()) / screen.height();
    // The desktop is one colour: black, or the compositing manager's grey.
    const int desktop = picture.pixelColor(int(std::max(0, bar.left() - 8) * sx), int(bar.center().y() * sy)).lightness();
    int differing = 0;
    for (int y = bar.top(); y <= bar.bottom(); y += 3)
        for (int x = bar.left(); x <= bar.right(); x += 3)
            if ((QPoint(x, y) - pointer).manhattanLength() > 90)
                differing += std::abs(picture.pixelColor(int(x * sx), int(y * sy)).lightness() - desktop) > 40;
    EXPECT_EQ(differing, 0) << "the bar shows in " << movie.toStdString();

    clickControl("showInFolder");
    EXPECT_EQ(m_reveal->shown.value(0), movie);
    ASSERT_TRUE(waitFor([&] { return m_model->phase().is(RecorderPhase::Kind::ready); }));

    // Restart and cancel, answered with the mouse as well.
    clickControl("record");
    ASSERT_TRUE(waitFor([&] { return m_model->phase().is(RecorderPhase::Kind::recording); }, 20000));
    ASSERT_TRUE(waitFor([&] { return control("restart") != nullptr; }));
    answerDialog(QStringLiteral("Restart"));
    clickControl("restart");
    ASSERT_TRUE(waitFor([&] { return m_model->phase().is(RecorderPhase::Kind::recording) && control("cancel"); }, 20000));
    answerDialog(QStringLiteral("Delete"));
    clickControl("cancel");
    ASSERT_TRUE(waitFor([&] { return m_model->phase().is(RecorderPhase::Kind::ready); }, 20000))
        << "phase " << int(m_model->phase().kind) << (m_confirm->isShowing() ? ", question open" : "");
    // Only the stopped recording stayed.
    EXPECT_EQ(QDir(home.file(QStringLiteral("Movies"))).entryList({QStringLiteral("*.mov")}).size(), 1);
}

// Every floating surface is the one glass: over a busy desktop of black and
// white stripes, what shows through the bar, a menu, a tip and the hint card
// beside the bar is bounded alike (a tenth of the desktop's contrast with a
// compositing manager, nothing without one), so the menu that opens over the
// hint card stays legible. Each surface is sampled on its card's padding, once
// over the stripes and once over the stripes swapped.
ON_SERVER_TEST_F(ToolbarOnX, Glass)
{
    QRect screen = QGuiApplication::primaryScreen()->geometry();
    constexpr int stripe = 12;
    std::vector<std::pair<Window, bool>> stripes;
    for (int x = screen.left(), i = 0; x < screen.right(); x += stripe, ++i) {
        const bool white = i % 2 == 0;
        stripes.emplace_back(foreignWindow(QRect(x, screen.top(), stripe, screen.height()),
                                           white ? 0xffffff : 0x000000, true), white);
    }
    const auto swapStripes = [&] {
        for (auto& [w, white] : stripes) {
            white = !white;
            XSetWindowBackground(m_x, w, white ? 0xffffff : 0x000000);
            XClearWindow(m_x, w);
        }
        XSync(m_x, False);
    };

    // The hint card beside the bar, the mic menu over it, a tip beside the gear.
    EchoHintController echo(m_host->panel(), {FloatingKit(PlatformLoader::loadFloatingSurfaces(), {})});
    echo.update({Hint{QStringLiteral("headphones"), QStringLiteral("Speakers are on; microphone will pick up echo. "
                                                                   "Please wear headphones.")}},
                true, false);
    ASSERT_TRUE(waitFor([&] { return echo.card() && echo.card()->windowHandle()->isExposed(); }));
    clickControl("mic");
    FloatingMenu& menu = m_host->menu();
    ASSERT_TRUE(waitFor([&] { return menu.isVisible() && menu.panel()->windowHandle()->isExposed(); }));
    QWidget* gear = control("settings");
    ASSERT_TRUE(gear);
    const QRect gearRect(gear->mapToGlobal(QPoint(0, 0)), gear->size());
    // A tip shows only with the pointer on its control.
    move(gearRect.center());
    m_host->tips().schedule(QStringLiteral("Settings"), std::nullopt, [gearRect] { return std::optional(gearRect); });
    ASSERT_TRUE(waitFor([&] {
        const QWidget* tip = m_host->tips().view();
        return tip && tip->windowHandle() && tip->windowHandle()->isExposed();
    }));

    struct Surface {
        const char* name;
        QPoint sample; // on the card's padding, clear of text and edge
    };
    const QRect bar = barOnScreen();
    const QRect menuCard = menu.panel()->geometry().adjusted(26, 26, -26, -26);
    const TipView* tip = m_host->tips().view();
    const QRect tipCard = tip->cardRect().toRect().translated(tip->geometry().topLeft());
    const QRect echoCard = echo.view()->cardRect().toRect().translated(echo.card()->geometry().topLeft());
    const std::vector<Surface> surfaces{
        {"bar", QPoint(bar.left() + 6, bar.center().y())},
        {"menu", QPoint(menuCard.center().x(), menuCard.top() + 4)},
        {"tip", QPoint(tipCard.left() + 5, tipCard.center().y())},
        {"hint card", QPoint(echoCard.left() + 5, echoCard.center().y())},
    };
    spin(500);
    const QImage first = screenshot(QStringLiteral("glass"));
    swapStripes();
    spin(500);
    const QImage second = screenshot(QStringLiteral("glass-swapped"));

    std::vector<int> through;
    for (const Surface& s : surfaces) {
        SCOPED_TRACE(s.name);
        const QColor a = first.pixelColor(s.sample), b = second.pixelColor(s.sample);
        // The stripes beneath are 255 apart; what reaches the screen of them.
        const int contrast = std::abs(qGray(a.rgb()) - qGray(b.rgb()));
        through.push_back(contrast);
        EXPECT_GT(std::min(a.lightness(), b.lightness()), 150) << "a card shows black or dark: "
                                                               << a.name().toStdString() << " " << b.name().toStdString();
        if (s.name == std::string("menu"))
            EXPECT_LE(contrast, 4) << "a menu covers the cards beneath it wholly, their text too";
        else if (m_compositor)
            EXPECT_LE(contrast, int(std::ceil(255 * (1 - GlassBackground::opacity))) + 4);
        else
            EXPECT_LE(contrast, 4) << "nothing is blended without a compositing manager";
    }
    through.erase(through.begin() + 1); // the menu's base is opaque
    const auto [low, high] = std::minmax_element(through.begin(), through.end());
    EXPECT_LE(*high - *low, 4) << "the surfaces are not one glass: bar " << through[0] << ", tip " << through[1]
                               << ", hint card " << through[2];
    if (m_compositor)
        EXPECT_GT(*low, 4) << "with a compositing manager the desktop shows through the glass";
    menu.dismiss();
    m_host->tips().hide();
}

// A tip shows while the pointer rests on its control and goes when the pointer
// moves into another window of ours past the window manager, as the pen's
// overlay is; after the row is rebuilt under the resting pointer, the control
// that came in under it shows no tip until the pointer moves.
ON_SERVER_TEST_F(ToolbarOnX, Tips)
{
    const QRect screen = QGuiApplication::primaryScreen()->geometry();
    QWidget other;
    other.setWindowFlags(Qt::Window | Qt::FramelessWindowHint | Qt::X11BypassWindowManagerHint
                         | Qt::WindowDoesNotAcceptFocus);
    other.setGeometry(QRect(screen.topLeft() + QPoint(40, 40), QSize(300, 200)));
    other.show();
    ASSERT_TRUE(waitFor([&] { return other.windowHandle() && other.windowHandle()->isExposed(); }));

    TipWindow& tips = m_host->tips();
    const auto tipShown = [&] {
        const QWidget* tip = tips.view();
        return tip && tip->windowHandle() && tip->windowHandle()->isExposed();
    };
    ASSERT_TRUE(waitFor([&] {
        QWidget* gear = control("settings");
        return gear && gear->isVisible() && settledOnServer(&m_host->panel());
    }));
    QWidget* gear = control("settings");
    const QRect anchor(gear->mapToGlobal(QPoint(0, 0)), gear->size());
    move(anchor.center());
    ASSERT_TRUE(waitFor(tipShown));
    EXPECT_LT(tips.view()->geometry().bottom(), anchor.top()) << "the tip stands above the gear";
    screenshot(QStringLiteral("tip"));

    move(other.geometry().center());
    EXPECT_TRUE(waitFor([&] { return !tips.view() && !tips.isPending(); }))
        << "the tip stayed with the pointer in another window";
    spin(int(TipWindow::delay * 1000) + 500);
    EXPECT_FALSE(tips.view()) << "the tip came back";
    screenshot(QStringLiteral("tip-gone"));

    move(anchor.center());
    ASSERT_TRUE(waitFor(tipShown));
    m_host->bar().rebuild();
    EXPECT_FALSE(tips.view()) << "the controls were swapped: the old tip goes at once";
    spin(int(TipWindow::delay * 1000) + 500);
    EXPECT_FALSE(tips.view()) << "a tip for a control the pointer never moved onto";
    // Then straight into another window: nothing shows there either.
    move(other.geometry().center());
    EXPECT_TRUE(waitFor([&] { return !tips.view() && !tips.isPending(); }))
        << "the swapped-in control's tip stayed with the pointer elsewhere";
    spin(int(TipWindow::delay * 1000) + 500);
    EXPECT_FALSE(tips.view()) << "the swapped-in control's tip showed with the pointer elsewhere";
    screenshot(QStringLiteral("tip-after-swap"));

    // Back to the very spot the pointer rested on: a move all the same.
    move(anchor.center());
    EXPECT_TRUE(waitFor(tipShown)) << "no tip after the pointer moved and rested on the gear";
    tips.hide();
}

// A question is a dialog of a fixed size whose frame offers no minimise or
// maximise button.
ON_SERVER_TEST_F(ToolbarOnX, Question)
{
    DialogPlacement::setWindowHints(PlatformLoader::loadWindowHints());
    std::vector<unsigned long> type, motif, allowed;
    std::optional<QSize> minimum, maximum;
    QTimer::singleShot(100, [&] {
        QWidget* dialog = nullptr;
        waitFor([&] {
            for (QWidget* w : QApplication::topLevelWidgets())
                if (w->isVisible() && w->windowHandle() && w->windowHandle()->isExposed()
                    && w->windowType() == Qt::Dialog)
                    dialog = w;
            // The window manager has taken it when it has told what it allows.
            return dialog
                && !listProperty(m_x, Window(dialog->winId()), "_NET_WM_ALLOWED_ACTIONS", XA_ATOM).empty();
        });
        if (dialog) {
            const Window w = Window(dialog->winId());
            type = listProperty(m_x, w, "_NET_WM_WINDOW_TYPE", XA_ATOM);
            motif = listProperty(m_x, w, "_MOTIF_WM_HINTS", AnyPropertyType);
            allowed = listProperty(m_x, w, "_NET_WM_ALLOWED_ACTIONS", XA_ATOM);
            XSizeHints hints{};
            long supplied = 0;
            if (XGetWMNormalHints(m_x, w, &hints, &supplied) && (hints.flags & PMinSize) && (hints.flags & PMaxSize)) {
                minimum = QSize(hints.min_width, hints.min_height);
                maximum = QSize(hints.max_width, hints.max_height);
            }
            screenshot(QStringLiteral("question"));
        }
        m_confirm->abort();
    });
    EXPECT_FALSE(m_confirm->ask(QStringLiteral("Stop Recording and Save?"), QStringLiteral("The recording is paused."),
                                QStringLiteral("Stop and Save"), QStringLiteral("Continue")));
    EXPECT_TRUE(hasAtom(m_x, type, "_NET_WM_WINDOW_TYPE_DIALOG"));
    // Motif hints: flags, functions, decorations. Neither minimise (bit 3 of
    // the functions, 5 of the decorations) nor maximise (4; 6), nor a title bar
    // (decoration bit 3), where some managers put both buttons on any dialog.
    ASSERT_GE(motif.size(), 3u);
    EXPECT_EQ(motif[1] & ((1ul << 3) | (1ul << 4)), 0ul) << "functions " << motif[1];
    EXPECT_EQ(motif[2] & ((1ul << 3) | (1ul << 5) | (1ul << 6)), 0ul) << "decorations " << motif[2];
    EXPECT_NE(motif[1] & (1ul << 5), 0ul) << "it can still be closed";
    ASSERT_TRUE(minimum && maximum);
    EXPECT_EQ(*minimum, *maximum) << "a question's size is fixed";
    EXPECT_FALSE(hasAtom(m_x, allowed, "_NET_WM_ACTION_MAXIMIZE_HORZ") || hasAtom(m_x, allowed, "_NET_WM_ACTION_MAXIMIZE_VERT"));
    EXPECT_FALSE(hasAtom(m_x, allowed, "_NET_WM_ACTION_RESIZE"));
}

} // namespace
} // namespace corvessa::test
