#include "support/ModelHarness.h"

#include "engine/EngineLines.h"

#include "support/VirtualScheduler.h"

#include "toolbar/BarView.h"
#include "toolbar/TipView.h"
#include "toolbar/TipWindow.h"
#include "toolbar/kit/IconTile.h"
#include "toolbar/kit/SymbolView.h"
#include "toolbar/kit/TileButton.h"

#include <QApplication>
#include <QCoreApplication>
#include <QDir>
#include <QEnterEvent>
#include <QFile>
#include <QFontMetricsF>
#include <QLabel>
#include <QLayout>
#include <QTest>
#include <QWindow>

namespace corvessa::test {
namespace {

class BarViewTest : public ModelHarness {
protected:
    BarView& bar()
    {
        if (!view) {
            BarView::Services services;
            services.reveal = [this](const QStringList& paths, std::function<void(bool)> done) {
                revealed = paths;
                revealDone = std::move(done);
            };
            services.confirmDiscard = [this](bool restart) { discards << restart; };
            services.tips = tips;
            view = std::make_unique<BarView>(*model, prefs(), std::move(services));
        }
        return *view;
    }
    void settle()
    {
        QCoreApplication::processEvents();
        QCoreApplication::processEvents();
    }
    // The named controls the row holds now, in the order of the row's layout.
    QStringList controls()
    {
        QStringList names;
        for (QWidget* w : bar().findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
            if (w->isVisibleTo(&bar()) && !w->objectName().isEmpty() && w->parentWidget() == &bar())
                names << w->objectName();
        }
        return names;
    }
    TileButton* button(const char* name) { return bar().findChild<TileButton*>(QLatin1String(name)); }
    // A symbol of that name shows on the bar.
    bool showsSymbol(const QString& name)
    {
        for (QWidget* w : bar().findChildren<QWidget*>()) {
            auto* symbol = dynamic_cast<SymbolView*>(w);
            if (symbol && symbol->isVisibleTo(&bar()) && symbol->symbol() == name)
                return true;
        }
        return false;
    }

    void TearDown() override
    {
        view.reset();
        ModelHarness::TearDown();
    }

    TipWindow* tips = nullptr; // given to the bar when set before it is made
    std::unique_ptr<BarView> view;
    QStringList revealed;
    std::function<void(bool shown)> revealDone;
    QList<bool> discards;
};

TEST_F(BarViewTest, EachPhaseShowsItsOwnRow)
{
    make();
    struct Case {
        RecorderPhase phase;
        bool compact;
        BarView::Row row;
        QStringList has;
        QStringList lacks;
    };
    const QString movie = QStringLiteral("/tmp/movie.mov");
    const std::vector<Case> cases{
        {RecorderPhase::ready(), false, BarView::Row::ready,
         {"close", "display", "window", "area", "record", "camera", "mic", "system", "magnifier", "pen", "penColor",
          "prompter", "settings"},
         {"pause", "stop"}},
        {RecorderPhase::countdown(3), false, BarView::Row::countdown, {"placeholder"}, {"record", "pause"}},
        {RecorderPhase::recording(), false, BarView::Row::recording,
         {"layout", "status", "pause", "stop", "restart", "cancel", "camera", "mic", "system", "magnifier"},
         {"record", "tools"}},
        {RecorderPhase::paused(), true, BarView::Row::compact,
         {"layout", "status", "pause", "stop", "compactMic", "compactSystem", "tools"},
         {"restart", "cancel", "camera", "magnifier"}},
        {RecorderPhase::finishing(), false, BarView::Row::finishing, {"saving"}, {"pause", "record"}},
        {RecorderPhase::saved(movie), false, BarView::Row::saved, {"showInFolder", "close"}, {"record", "notice"}},
        {RecorderPhase::failed(QStringLiteral("Disk full")), false, BarView::Row::failed, {"message", "close"},
         {"record"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(int(c.row));
        prefs().setCompactRecordingBar(c.compact);
        model->setPhase(c.phase);
        settle();
        bar().rebuild();
        EXPECT_EQ(bar().row(), c.row);
        for (const QString& name : c.has)
            EXPECT_TRUE(bar().findChild<QWidget*>(name)) << name.toStdString();
        for (const QString& name : c.lacks)
            EXPECT_FALSE(bar().findChild<QWidget*>(name) && bar().findChild<QWidget*>(name)->isVisibleTo(&bar()))
                << name.toStdString();
        // The card is the row padded 6 pt above and below, nothing more: each
        // of these rows is one control high, the countdown's placeholder too.
        int tallest = 0;
        for (int i = 0; i < bar().layout()->count(); ++i)
            if (QWidget* w = bar().layout()->itemAt(i)->widget())
                tallest = std::max(tallest, w->height());
        EXPECT_EQ(tallest, IconTile::height);
        EXPECT_EQ(bar().cardRect().height(), 6 + tallest + 6);
        EXPECT_EQ(bar().height(), 2 * BarView::margin + 6 + tallest + 6);
    }
}

TEST_F(BarViewTest, SavedAndFailedRowsOfferTheirWayOut)
{
    make();
    engine->cameraFiles = {};
    model->setPhase(RecorderPhase::saved(QStringLiteral("/tmp/a.mov")));
    model->setCameraNotice(QStringLiteral("camera note"));
    settle();
    bar().rebuild();
    auto* notice = bar().findChild<QLabel*>(QStringLiteral("notice"));
    ASSERT_TRUE(notice);
    EXPECT_EQ(notice->text(), QStringLiteral("camera note"));
    EXPECT_EQ(button("close")->accessibleName(), QStringLiteral("Close"));
    ASSERT_TRUE(button("showInFolder")->click());
    EXPECT_EQ(revealed, QStringList{QStringLiteral("/tmp/a.mov")});
    ASSERT_TRUE(revealDone);
    revealDone(true);
    EXPECT_TRUE(model->phase().is(RecorderPhase::Kind::ready));

    model->setPhase(RecorderPhase::failed(QStringLiteral("Disk full")));
    settle();
    bar().rebuild();
    EXPECT_EQ(button("close")->accessibleName(), QStringLiteral("OK"));
    button("close")->click();
    EXPECT_TRUE(model->phase().is(RecorderPhase::Kind::ready));
}

// A full disk stops the recording; what the save then runs into (a track that
// broke, the sound it could not write) must not pass for the reason, and a
// movie missing sound is no plain success: the first cause, then the seconds.
TEST_F(BarViewTest, SavedRowKeepsTheFirstCauseAndWarnsOfMissingSound)
{
    QDir(home.path()).mkpath(QStringLiteral("Videos"));
    prefs().setSaveFolder(home.file(QStringLiteral("Videos")));
    make();
    const QString disk = EngineLines::lowDisk({QStringLiteral("4")});
    const QString missing = EngineLines::soundMissing({QStringLiteral("2.4")});
    for (const bool soundLost : {true, false}) {
        SCOPED_TRACE(soundLost);
        engine->linesAtStop = {EngineLines::writeError({QStringLiteral("Mixed audio"), QStringLiteral("No space")})};
        if (soundLost)
            engine->linesAtStop.push_back(missing);
        model->record();
        scheduler.advance(3.5);
        runBackground();
        ASSERT_TRUE(model->phase().is(RecorderPhase::Kind::recording));
        QFile(engine->config.outputURL).open(QIODevice::WriteOnly);
        model->handleEvent(disk);
        runBackground();
        ASSERT_TRUE(model->phase().is(RecorderPhase::Kind::saved));
        settle();
        bar().rebuild();
        auto* notice = bar().findChild<QLabel*>(QStringLiteral("notice"));
        ASSERT_TRUE(notice);
        EXPECT_TRUE(notice->text().startsWith(disk)) << notice->text().toStdString();
        EXPECT_EQ(notice->text().contains(missing), soundLost) << notice->text().toStdString();
        EXPECT_EQ(showsSymbol(QStringLiteral("exclamationmark.triangle.fill")), soundLost);
        EXPECT_EQ(showsSymbol(QStringLiteral("checkmark.circle.fill")), !soundLost);
        model->backToReady();
    }
}

// A movie saved after the microphone was left out of it (none there, or it
// went quiet) warns instead of showing a plain success; the next one without
// that is a plain success again.
TEST_F(BarViewTest, AMovieSavedWithoutItsMicrophoneIsNoPlainSuccess)
{
    QDir(home.path()).mkpath(QStringLiteral("Videos"));
    prefs().setSaveFolder(home.file(QStringLiteral("Videos")));
    make();
    for (const bool leftOut : {true, false}) {
        SCOPED_TRACE(leftOut);
        model->record();
        scheduler.advance(3.5);
        runBackground();
        ASSERT_TRUE(model->phase().is(RecorderPhase::Kind::recording));
        QFile(engine->config.outputURL).open(QIODevice::WriteOnly);
        if (leftOut)
            model->handleEvent(EngineLines::micDead());
        model->stop();
        runBackground();
        ASSERT_TRUE(model->phase().is(RecorderPhase::Kind::saved));
        settle();
        bar().rebuild();
        EXPECT_EQ(showsSymbol(QStringLiteral("exclamationmark.triangle.fill")), leftOut);
        EXPECT_EQ(showsSymbol(QStringLiteral("checkmark.circle.fill")), !leftOut);
        EXPECT_EQ(bar().findChild<QLabel*>(QStringLiteral("notice")) != nullptr, leftOut);
        model->backToReady();
    }
}

// Neither a file manager nor a folder handler showed the files: the saved row
// stays and says so, in place of its notice; a late answer for a row the user
// has left changes nothing.
TEST_F(BarViewTest, SavedRowSaysWhenTheFolderCouldNotBeOpened)
{
    make();
    engine->cameraFiles = {};
    const QString movie = QStringLiteral("/tmp/Movies/a.mov");
    model->setPhase(RecorderPhase::saved(movie));
    model->setCameraNotice(QStringLiteral("camera note"));
    settle();
    bar().rebuild();
    ASSERT_TRUE(button("showInFolder")->click());
    ASSERT_TRUE(revealDone);
    revealDone(false);
    settle();
    EXPECT_TRUE(model->phase().is(RecorderPhase::Kind::saved));
    auto* said = bar().findChild<QLabel*>(QStringLiteral("revealFailed"));
    ASSERT_TRUE(said);
    EXPECT_TRUE(said->text().contains(QStringLiteral("/tmp/Movies"))) << said->text().toStdString();
    EXPECT_FALSE(bar().findChild<QLabel*>(QStringLiteral("notice")));

    // Tried again, shown: back to the ready row.
    ASSERT_TRUE(button("showInFolder")->click());
    revealDone(true);
    EXPECT_TRUE(model->phase().is(RecorderPhase::Kind::ready));

    // The next recording's saved row has nothing to say; an answer that comes
    // after the user moved on does nothing.
    model->setPhase(RecorderPhase::saved(QStringLiteral("/tmp/Movies/b.mov")));
    settle();
    bar().rebuild();
    EXPECT_FALSE(bar().findChild<QLabel*>(QStringLiteral("revealFailed")));
    ASSERT_TRUE(button("showInFolder")->click());
    model->backToReady();
    model->setPhase(RecorderPhase::saved(QStringLiteral("/tmp/Movies/c.mov")));
    revealDone(true);
    EXPECT_TRUE(model->phase().is(RecorderPhase::Kind::saved));
}

TEST_F(BarViewTest, TargetButtonsAndDiscardControlsFollowTheirRules)
{
    make();
    bar();
    // Window mode with no window picked: only the selected target shows orange.
    model->setPhase(RecorderPhase::ready());
    model->chooseRange(RangeMode::window);
    settle();
    bar().rebuild();
    EXPECT_TRUE(button("window")->isSelected());
    EXPECT_FALSE(button("display")->isSelected());

    // Restart and cancel go through the shell's confirmation, only while live.
    model->setPhase(RecorderPhase::recording());
    settle();
    bar().rebuild();
    button("restart")->click();
    button("cancel")->click();
    EXPECT_EQ(discards, (QList<bool>{true, false}));
}

// A status change between a button's press and its release must not cost the click.
TEST_F(BarViewTest, AClickSurvivesARowChangeBetweenPressAndRelease)
{
    make();
    model->setPhase(RecorderPhase::recording());
    bar().show();
    settle();
    bar().rebuild();
    settle();
    // Through the window, as the server delivers it: the press picks the
    // control under the pointer.
    QWindow* window = bar().windowHandle();
    const QPoint at = button("restart")->mapTo(&bar(), button("restart")->rect().center());
    QTest::mouseMove(window, at);
    QTest::mousePress(window, Qt::LeftButton, {}, at);
    prefs().setCompactRecordingBar(true);
    settle();
    QTest::mouseRelease(window, Qt::LeftButton, {}, at);
    settle();
    EXPECT_EQ(discards, (QList<bool>{true}));
    // The row follows once the button is up.
    EXPECT_TRUE(QTest::qWaitFor([&] { return bar().row() == BarView::Row::compact; }));
}

// Source names fit their 54-104 pt or end in "…"; a device's name is cut to
// six characters and "…" whatever the room.
TEST_F(BarViewTest, SourceNamesFitOrEndInAnEllipsis)
{
    QFont font = QApplication::font();
    font.setPointSizeF(BarView::namePoints);
    for (const QString& text : {QStringLiteral("Camera"), QStringLiteral("System Audio"),
                                QStringLiteral("Systemaudio nicht verfügbar"), QStringLiteral("Not Connected"),
                                QString(60, QLatin1Char('W'))}) {
        SCOPED_TRACE(text.toStdString());
        for (const int width : {54, 80, 104}) {
            const BarView::FittedName fitted = BarView::fitName(text, font, width);
            QFont shown = font;
            shown.setPointSizeF(fitted.points);
            EXPECT_LE(QFontMetricsF(shown).horizontalAdvance(fitted.text), width - 2);
            EXPECT_GE(fitted.points, BarView::smallestNamePoints);
            EXPECT_TRUE(fitted.text == text || (fitted.text.endsWith(QChar(0x2026)) && fitted.text.size() > 1))
                << fitted.text.toStdString();
        }
    }

    // On the bar, with names the platform's font cannot fit at 12 pt.
    make();
    model->useMic(QStringLiteral("built_in"));
    bar().rebuild();
    for (const char* item : {"camera", "mic", "system"}) {
        QLabel* label = bar().findChild<QWidget*>(QLatin1String(item))->findChild<QLabel*>();
        ASSERT_TRUE(label) << item;
        EXPECT_LE(label->fontMetrics().horizontalAdvance(label->text()), label->width()) << item;
        EXPECT_FALSE(label->text().isEmpty());
    }
    EXPECT_EQ(bar().findChild<QWidget*>(QStringLiteral("mic"))->findChild<QLabel*>()->text(),
              QStringLiteral("Built-") + QChar(0x2026));
}

// Each row change is one resize of the window: a row that grew control by
// control sent the window manager a dozen sizes, which it could apply out of turn.
TEST_F(BarViewTest, ARowTakesItsSizeAtOnce)
{
    make();
    bar().show();
    settle();
    for (const RecorderPhase& phase : {RecorderPhase::recording(), RecorderPhase::paused(), RecorderPhase::ready()}) {
        model->setPhase(phase);
        bar().rebuild();
        const QSize built = bar().size();
        settle();
        EXPECT_EQ(bar().size(), built) << int(phase.kind);
    }
}

// Started from the hot key, the pause button came in under the resting
// pointer and kept its tip while the pointer went elsewhere; so did the record
// button after the saved row was closed with its ×.
TEST_F(BarViewTest, ARowChangedUnderARestingPointerShowsNoTipUntilThePointerMoves)
{
    make();
    VirtualScheduler clock;
    QPoint pointer(-1000, -1000);
    TipWindow tipWindow(clock, {}, [](HotKeyAction) { return std::nullopt; }, [&] { return pointer; });
    tips = &tipWindow;
    const struct {
        RecorderPhase before, after;
        const char* control;
    } cases[] = {
        {RecorderPhase::ready(), RecorderPhase::recording(), "pause"},
        {RecorderPhase::saved(QStringLiteral("/tmp/a.mov")), RecorderPhase::ready(), "record"},
    };
    bar().show();
    const auto showRow = [&](const RecorderPhase& phase) {
        model->setPhase(phase);
        settle();
        bar().rebuild();
        settle();
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.control);
        showRow(c.after);
        QWidget* w = bar().findChild<QWidget*>(QLatin1String(c.control));
        ASSERT_TRUE(w);
        const QPoint at = w->mapToGlobal(w->rect().center());
        showRow(c.before);
        pointer = at;
        clock.advance(5);
        showRow(c.after);
        w = bar().findChild<QWidget*>(QLatin1String(c.control));
        ASSERT_TRUE(w && w->rect().contains(w->mapFromGlobal(at)));
        // Qt tells a control shown under the pointer that the pointer entered it.
        QEnterEvent entered(w->mapFromGlobal(QPointF(at)), w->mapFromGlobal(QPointF(at)), QPointF(at));
        QCoreApplication::sendEvent(w, &entered);
        clock.advance(5);
        EXPECT_EQ(tipWindow.view(), nullptr) << "a tip for a control the pointer never moved onto";

        pointer += QPoint(1, 1);
        clock.advance(TipWindow::pointerCheck + TipWindow::delay + 0.01);
        ASSERT_NE(tipWindow.view(), nullptr) << "no tip after a move and a rest on the control";

        // The pointer goes off the bar into another window, with no leave.
        pointer = QPoint(-1000, -1000);
        clock.advance(TipWindow::pointerCheck + 0.01);
        EXPECT_EQ(tipWindow.view(), nullptr);
    }
    view.reset();
}

} // namespace
} // namespace corvessa::test
