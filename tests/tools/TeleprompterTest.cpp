#include "platform/core/UserDefaults.h"
#include "support/TempHome.h"
#include "tools/PrompterEditor.h"
#include "tools/Teleprompter.h"

#include <QClipboard>
#include <QFileInfo>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QScrollBar>
#include <QTest>
#include <QTextEdit>

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>

using namespace corvessa;

namespace {

class TeleprompterTest : public ::testing::Test {
protected:
    test::TempHome home;
};

// A shown panel with `lines` lines of script, laid out.
void showScript(Teleprompter& t, int lines)
{
    QString text;
    for (int i = 0; i < lines; ++i)
        text += QStringLiteral("Line %1 of the script\n").arg(i);
    t.setText(text);
    t.show();
    t.panel()->editor()->setPlainText(text);
    t.panel()->resize(400, 200);
    t.panel()->editor()->verticalScrollBar()->setValue(0);
}

} // namespace

TEST_F(TeleprompterTest, FirstLaunchDefaultsAndRegistration)
{
    {
        Teleprompter t;
        EXPECT_EQ(t.speed(), 40);
        EXPECT_EQ(t.opacity(), 0.85);
        EXPECT_EQ(t.fontSize(), 26);
        EXPECT_TRUE(t.text().isEmpty());
        EXPECT_FALSE(t.isShown());
        EXPECT_EQ(TeleprompterServices::shared(), &t);
        TeleprompterServices::assignSpeed(120);
        EXPECT_EQ(t.speed(), 120);
    }
    EXPECT_EQ(TeleprompterServices::shared(), nullptr);
    EXPECT_EQ(Teleprompter().speed(), 120) << "the setter stored it";
}

TEST_F(TeleprompterTest, ScrollsByElapsedTimeKeepingFractionsAndStopsAtTheEnd)
{
    Teleprompter t;
    std::vector<bool> shown;
    t.onShownChanged = [&](bool s) { shown.push_back(s); };
    showScript(t, 200);
    QScrollBar* bar = t.panel()->editor()->verticalScrollBar();
    ASSERT_GT(bar->maximum(), 200);
    t.setPlaying(true);
    // 0.67 pt a tick at 40 pt/s: one second of ticks makes 40 pt.
    for (int i = 0; i < 60; ++i)
        t.advance(1.0 / 60);
    EXPECT_NEAR(t.scrollOffset(), 40, 1e-6);
    EXPECT_NEAR(bar->value(), 40, 1);
    EXPECT_TRUE(t.playing());
    // Rewind while playing goes on playing from the top.
    t.rewind();
    EXPECT_EQ(bar->value(), 0);
    EXPECT_TRUE(t.playing());
    // A late tick moves by its real length, at most to the end, and stops there.
    t.advance(1e6);
    EXPECT_EQ(t.scrollOffset(), bar->maximum());
    EXPECT_FALSE(t.playing());
    // Playing again at the end stops at the first tick.
    t.setPlaying(true);
    t.advance(1.0 / 60);
    EXPECT_FALSE(t.playing());

    t.hide();
    EXPECT_EQ(shown, (std::vector<bool>{true, false}));
}

TEST_F(TeleprompterTest, PanelKeepsItsFrameAcrossLaunches)
{
    const QRect moved(120, 90, 520, 260);
    {
        Teleprompter t;
        t.show();
        t.panel()->setGeometry(moved);
        t.hide();
    }
    Teleprompter again;
    again.show();
    EXPECT_EQ(again.panel()->geometry(), moved);
}

TEST_F(TeleprompterTest, ScriptShorterThanTheViewStopsAtTheFirstTick)
{
    Teleprompter t;
    showScript(t, 1);
    t.setPlaying(true);
    t.advance(1.0 / 60);
    EXPECT_FALSE(t.playing());
    EXPECT_EQ(t.scrollOffset(), 0);
}

TEST_F(TeleprompterTest, NonsenseValuesAreHeldToVisibleOnesAndOthersKept)
{
    constexpr double nan = std::numeric_limits<double>::quiet_NaN();
    constexpr double inf = std::numeric_limits<double>::infinity();
    UserDefaults& d = UserDefaults::standard();
    d.setDouble(Teleprompter::speedKey, 500); // beyond the slider: kept
    d.setDouble(Teleprompter::opacityKey, 0);
    d.setDouble(Teleprompter::fontSizeKey, -3);
    Teleprompter t;
    EXPECT_EQ(t.speed(), 500);
    EXPECT_GT(t.opacity(), 0);
    EXPECT_GT(t.fontSize(), 0);

    struct Case {
        double value;
        double speed, opacity, font;
    };
    const Case cases[] = {
        {nan, 40, 0.85, 26},
        {inf, 40, 0.85, 26},
        {-inf, 40, 0.85, 26},
        {-1, 0, Teleprompter::minOpacity, Teleprompter::minFontSize},
        {0, 0, Teleprompter::minOpacity, Teleprompter::minFontSize},
        {0.2, 0.2, 0.2, Teleprompter::minFontSize},
        {5, 5, 1, 6},
        {100, 100, 1, 100},
        {1e9, 1e9, 1, Teleprompter::maxFontSize},
    };
    for (const Case& c : cases) {
        t.setSpeed(c.value);
        t.setOpacity(c.value);
        t.setFontSize(c.value);
        EXPECT_EQ(t.speed(), c.speed) << c.value;
        EXPECT_EQ(t.opacity(), c.opacity) << c.value;
        EXPECT_EQ(t.fontSize(), c.font) << c.value;
        EXPECT_EQ(d.doubleValue(Teleprompter::fontSizeKey), c.font) << "stored as used";
    }
    // Time that runs backwards or is no number does not move the script.
    showScript(t, 200);
    t.setPlaying(true);
    t.advance(-5);
    t.advance(nan);
    EXPECT_EQ(t.scrollOffset(), 0);
}

// A paste far beyond the script's limit is cut to it before anything is laid
// out, and the panel says so; typing at the limit is refused the same way.
TEST_F(TeleprompterTest, APasteBeyondTheLimitIsCutAndSaid)
{
    Teleprompter t;
    t.show();
    PrompterEditor* editor = t.panel()->editor();
    QLabel* notice = t.panel()->notice();
    const qsizetype limit = Teleprompter::maxTextLength;

    QGuiApplication::clipboard()->setText(QStringLiteral("Good evening.\n"));
    editor->paste();
    EXPECT_EQ(editor->toPlainText(), QStringLiteral("Good evening.\n"));
    EXPECT_FALSE(notice->isVisibleTo(t.panel())) << "a paste that fits says nothing";

    QGuiApplication::clipboard()->setText(QString(5 * limit, QLatin1Char('w')));
    editor->paste();
    EXPECT_EQ(editor->length(), limit);
    EXPECT_EQ(t.text().size(), limit);
    EXPECT_TRUE(notice->isVisibleTo(t.panel()));
    EXPECT_EQ(notice->text(), PrompterPanel::cutNotice());
    EXPECT_TRUE(notice->text().contains(QString::number(limit)));
    // Laid out in time that grows with its length: no run without a place to break a line is longer than allowed.
    qsizetype run = 0;
    qsizetype longest = 0;
    for (const QChar c : editor->toPlainText()) {
        run = c.isSpace() || c == PrompterEditor::breakOpportunity ? 0 : run + 1;
        longest = std::max(longest, run);
    }
    EXPECT_LE(longest, PrompterEditor::longestRun);

    notice->hide();
    QKeyEvent key(QEvent::KeyPress, Qt::Key_A, Qt::NoModifier, QStringLiteral("a"));
    QCoreApplication::sendEvent(editor, &key);
    EXPECT_EQ(editor->length(), limit) << "typing stops at the limit";
    EXPECT_TRUE(notice->isVisibleTo(t.panel()));

    // A selection makes room for what replaces it.
    editor->selectAll();
    QGuiApplication::clipboard()->setText(QStringLiteral("Short.\x01"));
    editor->paste();
    EXPECT_EQ(editor->toPlainText(), QStringLiteral("Short.")) << "control characters are left out";
}

// Whatever the script holds, its stored form stays far below the settings
// file's limit, and it is stored once the edits pause, not at every keystroke.
TEST_F(TeleprompterTest, TheStoredScriptIsBoundedWhateverItHolds)
{
    const qsizetype many = 3 * Teleprompter::maxTextLength;
    const QString pair = QString::fromUtf8("\xF0\x9F\x8E\xAC"); // a surrogate pair
    const QChar nul(0);
    const struct {
        const char* name;
        QString text;
    } inputs[] = {
        {"control characters", QStringLiteral("a\x01\x02\x1b").repeated(many)},
        {"nul characters", (QStringLiteral("b") + nul).repeated(many)},
        {"quotes and backslashes", QStringLiteral("c\"\\").repeated(many)},
        {"surrogate pairs", pair.repeated(many)},
        {"lone surrogates", (QStringLiteral("d") + QChar(0xD800)).repeated(many)},
        {"line separators", (QStringLiteral("e") + QChar(0x2028)).repeated(many)},
        {"carriage returns", QStringLiteral("f\r\n\r").repeated(many)},
    };
    UserDefaults& d = UserDefaults::standard();
    for (const auto& input : inputs) {
        SCOPED_TRACE(input.name);
        {
            Teleprompter t;
            t.setText(input.text);
            EXPECT_NE(d.string(Teleprompter::textKey), Teleprompter::storable(input.text)) << "not yet";
        } // stored as the program ends
        const QFileInfo file(d.path());
        EXPECT_LT(file.size(), UserDefaults::maximumFileBytes / 8);
        UserDefaults again(d.path());
        const QString stored = again.string(Teleprompter::textKey).value_or(QString());
        EXPECT_FALSE(stored.isEmpty());
        EXPECT_LE(stored.size(), Teleprompter::maxTextLength);
        EXPECT_FALSE(std::any_of(stored.begin(), stored.end(), [](QChar c) {
            return c.category() == QChar::Other_Control && c != QLatin1Char('\n') && c != QLatin1Char('\t');
        }));
        EXPECT_FALSE(stored.back().isHighSurrogate()) << "no half pair at the end";
        EXPECT_EQ(Teleprompter().text(), stored) << "read back as stored";
    }

    // Typing is stored after a pause, or when the panel is hidden.
    Teleprompter t;
    t.show();
    t.setText(QStringLiteral("Typed"));
    EXPECT_NE(d.string(Teleprompter::textKey), QStringLiteral("Typed"));
    EXPECT_TRUE(QTest::qWaitFor([&] { return d.string(Teleprompter::textKey) == QStringLiteral("Typed"); }, 30000));
    t.setText(QStringLiteral("Typed more"));
    t.hide();
    EXPECT_EQ(d.string(Teleprompter::textKey), QStringLiteral("Typed more"));
}
