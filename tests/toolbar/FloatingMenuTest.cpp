#include "model/GainMap.h"
#include "platform/synthetic/SyntheticFloatingSurfaces.h"
#include "platform/synthetic/SyntheticOutsideClickMonitor.h"
#include "support/VirtualScheduler.h"
#include "toolbar/FloatingMenu.h"
#include "toolbar/FloatingMenuItem.h"
#include "toolbar/FloatingMenuView.h"
#include "toolbar/kit/GainSlider.h"
#include "toolbar/GainSliderRow.h"
#include "toolbar/PopupMenuArea.h"

#include <QCoreApplication>
#include <QEnterEvent>
#include <QLabel>
#include <QScrollArea>
#include <QSlider>
#include <QtTest/QTest>

#include <gtest/gtest.h>

#include <memory>

using namespace corvessa;

namespace {

// One menu on a virtual clock with the synthetic surfaces and click monitor,
// counting the windows it registers.
struct Menu {
    VirtualScheduler clock{50};
    std::shared_ptr<SyntheticFloatingSurfaces> surfaces = std::make_shared<SyntheticFloatingSurfaces>();
    std::shared_ptr<SyntheticOutsideClickMonitor> clicks = std::make_shared<SyntheticOutsideClickMonitor>();
    int registered = 0;
    FloatingMenu menu{clock, FloatingKit(surfaces, [this](QWindow*) { ++registered; }), clicks};
};

const QRect anchor(380, 300, 40, 36);

MenuRows rows(int n, bool checked = false)
{
    MenuRows specs;
    for (int i = 0; i < n; ++i)
        specs.push_back(MenuRow::item(QStringLiteral("Row %1").arg(i), checked && i == 0, true, false, [] {}));
    return specs;
}

void hover(QWidget* w)
{
    QEnterEvent e(QPointF(3, 3), QPointF(3, 3), w->mapToGlobal(QPointF(3, 3)));
    QCoreApplication::sendEvent(w, &e);
}

} // namespace

TEST(FloatingMenu, SignatureNamesTitlesTextsAndFlagsButNeverClosuresOrSliderValues)
{
    const MenuRows example{MenuRow::item(QStringLiteral("A"), true, true, false, [] {}), MenuRow::separator(),
                            MenuRow::note(QStringLiteral("n"))};
    EXPECT_EQ(FloatingMenu::signatureOf(example), QStringLiteral("item|A|true|true|false/-/note|n"));
    EXPECT_EQ(FloatingMenu::signatureOf({}), QString());

    int ran = 0;
    const MenuRows otherAction{MenuRow::item(QStringLiteral("A"), true, true, false, [&] { ++ran; }),
                                MenuRow::separator(), MenuRow::note(QStringLiteral("n"))};
    EXPECT_EQ(FloatingMenu::signatureOf(otherAction), FloatingMenu::signatureOf(example));
    const auto slider = [](double dB) {
        return MenuRows{MenuRow::slider(QStringLiteral("Level"), [dB] { return dB; }, [](double) {})};
    };
    EXPECT_EQ(FloatingMenu::signatureOf(slider(-48)), FloatingMenu::signatureOf(slider(6)));
    EXPECT_EQ(FloatingMenu::signatureOf(slider(0)), QStringLiteral("slider|Level"));
    EXPECT_EQ(ran, 0) << "the signature never runs an action";

    // Every flag of an item counts.
    const QString base = FloatingMenu::signatureOf({MenuRow::item(QStringLiteral("A"), false, true, false, {})});
    for (const MenuRow& changed : {MenuRow::item(QStringLiteral("A"), true, true, false, {}),
                                    MenuRow::item(QStringLiteral("A"), false, false, false, {}),
                                    MenuRow::item(QStringLiteral("A"), false, true, true, {}),
                                    MenuRow::item(QStringLiteral("B"), false, true, false, {})})
        EXPECT_NE(FloatingMenu::signatureOf({changed}), base);
}

TEST(FloatingMenu, PlacementOpensAboveOnTiesKeepsTheCardInsideAndScrollsWhenTooTall)
{
    const QRect visible(0, 0, 1000, 800);
    const QSize size(262, 200); // card 210 × 148 inside the 26 pt margin
    const int m = FloatingMenuView::margin;
    const int gap = FloatingMenu::gap;

    // Equal room above and below: above, the card's bottom 8 pt over the anchor.
    const QRect middle(480, 380, 40, 40);
    QPoint at = FloatingMenu::placedOrigin(visible, middle, middle, size);
    EXPECT_EQ(at.y() + size.height() - m, middle.top() - gap);
    EXPECT_EQ(at.x() + size.width() / 2, middle.x() + middle.width() / 2) << "centred on the anchor";
    // More room below: the card's top 8 pt under the anchor.
    const QRect high(480, 100, 40, 40);
    at = FloatingMenu::placedOrigin(visible, high, high, size);
    EXPECT_EQ(at.y() + m, high.bottom() + 1 + gap);
    // The avoided rectangle, not the anchor, decides and is kept clear.
    const QRect toolbar(300, 60, 400, 100);
    at = FloatingMenu::placedOrigin(visible, high, toolbar, size);
    EXPECT_EQ(at.y() + m, toolbar.bottom() + 1 + gap);

    // Near an edge the card sits 8 pt inside: panel x = left − 18.
    at = FloatingMenu::placedOrigin(visible, QRect(2, 400, 20, 20), middle, size);
    EXPECT_EQ(at.x(), visible.left() - (m - gap));
    at = FloatingMenu::placedOrigin(visible, QRect(990, 400, 20, 20), middle, size);
    EXPECT_EQ(at.x() + size.width() - m, visible.right() + 1 - gap);
    // Wider than the screen allows: from the left edge.
    at = FloatingMenu::placedOrigin(QRect(0, 0, 200, 800), middle, middle, size);
    EXPECT_EQ(at.x(), -(m - gap));

    // Scroll: the larger room less 8 pt decides; the rows get that less 16, at least 44.
    const QRect low(480, 700, 40, 40); // 700 above, 60 below
    EXPECT_EQ(FloatingMenu::scrollHeight(visible, low, 692), std::nullopt);
    EXPECT_EQ(FloatingMenu::scrollHeight(visible, low, 693), 692 - 16);
    const QRect tall(480, 20, 40, 770); // 20 above, 10 below
    EXPECT_EQ(FloatingMenu::scrollHeight(visible, tall, 100), FloatingMenu::minimumScrollHeight);
    EXPECT_EQ(FloatingMenu::scrollHeight(QRect(), tall, 100), FloatingMenu::minimumScrollHeight)
        << "no screen: the arithmetic still answers";
}

TEST(FloatingMenu, ShowClosesTheOpenMenuAndPreparesAStealthyPopUpSurface)
{
    Menu m;
    EXPECT_FALSE(m.menu.isVisible());
    m.menu.dismiss(); // safe when closed
    m.menu.show(rows(2), {}, anchor, std::nullopt);
    QWidget* first = m.menu.panel();
    ASSERT_TRUE(first && m.menu.isVisible());
    const SurfaceStack::Entry* surface = m.surfaces->surface(first);
    ASSERT_NE(surface, nullptr);
    EXPECT_EQ(surface->options.level, SurfaceLevel::popUpMenu);
    EXPECT_TRUE(surface->options.overrideRedirect);
    EXPECT_TRUE(surface->visible.boundingRect().contains(m.menu.view()->cardRect().toRect().adjusted(1, 1, -1, -1)));
    EXPECT_FALSE(surface->visible.contains(QPoint(2, 2))) << "the shadow margin is not part of the shape";
    EXPECT_EQ(m.registered, 1);
    EXPECT_EQ(m.clicks->observerCount(), 1);
    const QRect visible = FloatingMenu::visibleFrameFor(anchor);
    EXPECT_EQ(first->geometry().topLeft(), FloatingMenu::placedOrigin(visible, anchor, anchor, first->size()));
    EXPECT_GE(m.menu.view()->cardRect().width(), FloatingMenuView::minimumCardWidth);

    const QRect second(100, 100, 30, 30);
    m.menu.show(rows(3), {}, second, std::nullopt);
    EXPECT_FALSE(first->isVisible());
    EXPECT_NE(m.menu.panel(), first);
    EXPECT_EQ(m.menu.anchorRect(), second);
    EXPECT_EQ(m.clicks->observerCount(), 1) << "the first menu's monitor went with it";
    EXPECT_EQ(m.registered, 2);

    EXPECT_FALSE(m.menu.dismissIfShowing(anchor)) << "another control's anchor";
    EXPECT_TRUE(m.menu.isVisible());
    EXPECT_TRUE(m.menu.dismissIfShowing(second.adjusted(5, 5, 5, 5)));
    EXPECT_FALSE(m.menu.isVisible());
    EXPECT_EQ(m.clicks->observerCount(), 0);
    EXPECT_TRUE(m.menu.outsideClose().blocks(m.clock.now() + 0.1, second));
    EXPECT_TRUE(m.menu.signature().isEmpty());
}

TEST(FloatingMenu, TooManyRowsScrollInTheRoomLeft)
{
    Menu m;
    const QRect visible = FloatingMenu::visibleFrameFor(anchor);
    m.menu.show(rows(60), {}, anchor, std::nullopt);
    ASSERT_NE(m.menu.view()->scrollArea(), nullptr);
    const int room = std::max(anchor.top() - visible.top(), visible.bottom() - anchor.bottom()) - FloatingMenu::gap;
    EXPECT_EQ(m.menu.view()->scrollArea()->height(), std::max(room - 16, FloatingMenu::minimumScrollHeight));
    m.menu.show(rows(2), {}, anchor, std::nullopt);
    EXPECT_EQ(m.menu.view()->scrollArea(), nullptr);
}

TEST(FloatingMenu, RefreshRebuildsOnlyWhenTheRowsChangedAndNeverWithoutProvider)
{
    Menu m;
    bool muted = false;
    double gain = -6;
    std::vector<double> written;
    const MenuProvider provider = [&] {
        return MenuRows{MenuRow::item(QStringLiteral("Mute"), muted, true, false, [&] { muted = !muted; }),
                         MenuRow::slider(QStringLiteral("Level"), [&] { return gain; },
                                          [&](double dB) { written.push_back(dB); })};
    };
    m.menu.show(provider(), provider, anchor, std::nullopt);
    FloatingMenuView* shown = m.menu.view();
    QWidget* panel = m.menu.panel();
    ASSERT_EQ(m.menu.contentBuilds(), 1);

    auto* slider = dynamic_cast<GainSliderRow*>(shown->rows()[1]);
    ASSERT_NE(slider, nullptr);
    EXPECT_DOUBLE_EQ(slider->position(), GainSlider::position(-6));
    slider->slider()->setValue(GainSlider::resolution / 2);
    ASSERT_EQ(written.size(), 1u);
    EXPECT_EQ(written[0], GainMap::dB(0.5));
    EXPECT_EQ(slider->valueLabel()->text(), GainSlider::valueText(GainMap::dB(0.5)));
    gain = written[0];

    m.menu.refresh();
    EXPECT_EQ(m.menu.contentBuilds(), 1) << "only the slider's value changed";
    EXPECT_EQ(m.menu.view(), shown);

    muted = true;
    m.menu.refresh();
    EXPECT_EQ(m.menu.contentBuilds(), 2);
    EXPECT_NE(m.menu.view(), shown);
    EXPECT_EQ(m.menu.panel(), panel) << "the same window, new content";
    EXPECT_TRUE(static_cast<FloatingMenuItem*>(m.menu.view()->rows()[0])->showsCheckMark());
    EXPECT_EQ(m.registered, 1);

    m.menu.show(rows(1), {}, anchor, std::nullopt);
    muted = false;
    m.menu.refresh();
    EXPECT_EQ(m.menu.contentBuilds(), 3) << "no provider: never rebuilt";
    m.menu.dismiss();
    m.menu.refresh();
    EXPECT_EQ(m.menu.contentBuilds(), 3);
}

TEST(FloatingMenu, ChoosingAnItemClosesFirstAndADisabledItemDoesNothing)
{
    Menu m;
    bool openWhenRun = true;
    int disabledRuns = 0;
    m.menu.show({MenuRow::item(QStringLiteral("Go"), false, true, false, [&] { openWhenRun = m.menu.isVisible(); }),
                 MenuRow::item(QStringLiteral("Off"), false, false, false, [&] { ++disabledRuns; }),
                 MenuRow::item(QStringLiteral("Dim"), false, true, true, {})},
                {}, anchor, std::nullopt);
    auto* enabled = static_cast<FloatingMenuItem*>(m.menu.view()->rows()[0]);
    auto* disabled = static_cast<FloatingMenuItem*>(m.menu.view()->rows()[1]);
    auto* dim = static_cast<FloatingMenuItem*>(m.menu.view()->rows()[2]);
    const QColor primary = FloatingMenuView::primaryColour(enabled->palette());
    const QColor secondary = FloatingMenuView::secondaryColour(enabled->palette());
    EXPECT_EQ(enabled->foreground(), primary);
    EXPECT_EQ(disabled->foreground(), secondary);
    EXPECT_EQ(dim->foreground(), secondary);

    hover(disabled);
    EXPECT_TRUE(disabled->isHovered());
    EXPECT_FALSE(disabled->highlighted());
    EXPECT_EQ(disabled->foreground(), secondary);
    QTest::mouseClick(disabled, Qt::LeftButton, {}, QPoint(5, 5));
    EXPECT_EQ(disabledRuns, 0);
    EXPECT_TRUE(m.menu.isVisible());

    hover(enabled);
    EXPECT_TRUE(enabled->highlighted());
    EXPECT_EQ(enabled->foreground(), QColor(Qt::white));
    QTest::mouseClick(enabled, Qt::LeftButton, {}, QPoint(5, 5));
    EXPECT_FALSE(openWhenRun) << "the menu closes before the action runs";
    EXPECT_FALSE(m.menu.isVisible());
}

TEST(FloatingMenu, OutsidePressClosesAndRecordsInsidePressAndScrollingDoNot)
{
    Menu m;
    m.menu.show(rows(2), {}, anchor, std::nullopt);
    const QRect frame = m.menu.panel()->frameGeometry();
    m.clicks->press(frame.center());
    m.clicks->press(QPointF(frame.left() + 1, frame.top() + 1), 3); // the shadow margin is still the menu
    m.clicks->press(QPointF(5, 5), 4); // wheel
    EXPECT_TRUE(m.menu.isVisible());

    m.clock.advance(1);
    m.clicks->press(QPointF(anchor.center()));
    EXPECT_FALSE(m.menu.isVisible());
    EXPECT_EQ(m.menu.outsideClose().closedAt(), m.clock.now());
    EXPECT_EQ(m.menu.outsideClose().closedAnchor(), QRectF(anchor));
    EXPECT_EQ(m.clicks->observerCount(), 0);
}

TEST(FloatingMenu, PressOnAnotherControlSwitchesMenusAndTheMonitorsEchoKeepsTheNewOne)
{
    Menu m;
    QWidget toolbar;
    toolbar.setGeometry(200, 500, 300, 60);
    const auto area = [&](int x, const QString& title) {
        // Opened tight beside the control, so a press low on it is outside the menu.
        auto* a = new PopupMenuArea(m.menu, m.clock, [&m, title](const QRect& at, const QRect&) {
            m.menu.show({MenuRow::note(title)}, {}, at, std::nullopt);
        }, title, &toolbar);
        a->setGeometry(x, 10, 40, 36);
        return a;
    };
    PopupMenuArea* mic = area(20, QStringLiteral("mic"));
    PopupMenuArea* camera = area(120, QStringLiteral("camera"));
    toolbar.show();

    // The monitor's report of the opening press may come after the menu is up
    // (a busy main thread reads our window's event first).
    const QPoint low(5, 30);
    QTest::mousePress(mic, Qt::LeftButton, {}, low);
    ASSERT_TRUE(m.menu.isVisible());
    EXPECT_EQ(m.menu.anchorRect(), mic->globalRect());
    ASSERT_FALSE(m.menu.panel()->frameGeometry().contains(mic->mapToGlobal(low)));
    m.clicks->press(mic->mapToGlobal(QPointF(low)));
    EXPECT_TRUE(m.menu.isVisible()) << "the late echo of the press that opened it";

    // Our window sees the press first: it closes the mic menu as an outside
    // click, then the camera control opens its own.
    QTest::mousePress(camera, Qt::LeftButton, {}, low);
    ASSERT_TRUE(m.menu.isVisible());
    EXPECT_EQ(m.menu.anchorRect(), camera->globalRect());
    ASSERT_FALSE(m.menu.panel()->frameGeometry().contains(camera->mapToGlobal(low)));
    // The screen-wide monitor reports the same press afterwards.
    m.clicks->press(camera->mapToGlobal(QPointF(low)));
    EXPECT_TRUE(m.menu.isVisible()) << "the echo of the press that opened it";

    // A second press on the camera control closes its menu and does not reopen.
    QTest::mousePress(camera, Qt::LeftButton, {}, QPoint(6, 6));
    EXPECT_FALSE(m.menu.isVisible());
    m.clock.advance(0.05);
    m.clicks->press(camera->mapToGlobal(QPointF(6, 6)));
    EXPECT_FALSE(m.menu.isVisible());
}

// The menu never has the keyboard focus, so Escape reaches it only as a hot
// key held while a menu is open: the holder hears of each opening and of the
// last closing, however the menu went, and never of a menu replaced by another.
TEST(FloatingMenu, TellsWhenAMenuIsOpenSoThatEscapeClosesIt)
{
    Menu m;
    std::vector<bool> told;
    m.menu.onOpenChanged = [&](bool open) { told.push_back(open); };
    m.menu.show(rows(2), {}, anchor, std::nullopt);
    m.menu.show(rows(3), {}, anchor.translated(100, 0), std::nullopt);
    EXPECT_EQ(told, (std::vector<bool>{true}));
    m.menu.dismiss(); // what Escape does
    m.menu.dismiss();
    EXPECT_EQ(told, (std::vector<bool>{true, false}));
    EXPECT_FALSE(m.menu.isVisible());

    m.menu.show(rows(2), {}, anchor, std::nullopt);
    m.clock.advance(1);
    m.clicks->press(QPointF(5, 5));
    EXPECT_EQ(told, (std::vector<bool>{true, false, true, false}));
}

// A menu opens over the hint card beside the bar: its base hides the card's
// text wholly, with a compositing manager too.
TEST(FloatingMenu, TheCardIsOpaque)
{
    Menu m;
    m.menu.show(rows(3), {}, anchor, std::nullopt);
    FloatingMenuView* view = m.menu.view();
    ASSERT_TRUE(view);
    QImage image(view->size(), QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    view->render(&image, QPoint(), QRegion(), QWidget::DrawWindowBackground);
    const QRect card = view->cardRect().toRect().adjusted(12, 12, -12, -12);
    for (const QPoint p : {card.topLeft(), card.center(), card.bottomRight()})
        EXPECT_EQ(qAlpha(image.pixel(p)), 255) << p.x() << "," << p.y();
}
