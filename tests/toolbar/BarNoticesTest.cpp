// Every text the bar shows is readable whole: each event line the engine and
// the camera send, as the model turns it into a notice or a failure, each hint
// and each failure the model says itself, in English and in German, on the
// rows that show them. Kept as pictures in $CORVESSA_TEST_ARTIFACTS.
#include "support/ModelHarness.h"

#include "capture/CameraCapture.h"
#include "model/EngineNotices.h"
#include "prefs/Loc.h"
#include "toolbar/BarSideCard.h"
#include "toolbar/BarView.h"
#include "toolbar/ToolbarGrab.h"
#include "toolbar/kit/TileButton.h"

#include <QFile>
#include <QFontMetricsF>
#include <QLabel>
#include <QRegularExpression>

namespace corvessa::test {
namespace {

class BarNoticesTest : public ModelHarness {
protected:
    // Every line EngineLines declares, as written there (values as "%@").
    static QStringList engineLines()
    {
        QFile header(QStringLiteral(CORVESSA_SOURCE_DIR "/Recorder/engine/EngineLines.h"));
        if (!header.open(QIODevice::ReadOnly))
            return {};
        const QString source = QString::fromUtf8(header.readAll());
        QStringList lines;
        const QRegularExpression declaration(QStringLiteral("static constexpr EngineLine \\w+\\{(.*?)\\};"),
                                             QRegularExpression::DotMatchesEverythingOption);
        const QRegularExpression piece(QStringLiteral("\"((?:[^\"\\\\]|\\\\.)*)\""));
        for (auto it = declaration.globalMatch(source); it.hasNext();) {
            QString line;
            for (auto p = piece.globalMatch(it.next().captured(1)); p.hasNext();)
                line += p.next().captured(1);
            lines << line;
        }
        return lines;
    }

    // The line as sent, its values filled in with those a user meets.
    static QString sent(const QString& line)
    {
        if (line.startsWith(QLatin1String("Save failed")))
            return Loc::fill(line, QStringLiteral("The movie file was moved or removed while recording: No such "
                                                  "file or directory"));
        return Loc::fill(line, QStringLiteral("Microphone"), QStringLiteral("Disk quota exceeded"),
                         QStringLiteral("3"), QStringLiteral("4"), QStringLiteral("5"));
    }

    // No text of the bar is cut: on a screen 1024 and one 1920 pixels wide,
    // each label holds its lines, within the card, which fits the screen.
    void expectWhole(BarView& bar, const QString& picture)
    {
        for (const int width : {1024, 1920}) {
            SCOPED_TRACE(width);
            screen = width;
            bar.rebuild();
            grabKept(bar, picture + QLatin1Char('-') + QString::number(width));
            const QRectF card = bar.cardRect();
            int texts = 0;
            for (QLabel* label : bar.findChildren<QLabel*>()) {
                if (!label->isVisibleTo(&bar) || label->text().isEmpty())
                    continue;
                ++texts;
                SCOPED_TRACE(label->text().toStdString());
                const QRect inside = label->contentsRect();
                const QFontMetricsF metrics(label->font());
                const QRectF needed = label->wordWrap()
                    ? metrics.boundingRect(QRectF(0, 0, inside.width(), 1e6), Qt::TextWordWrap, label->text())
                    : QRectF(0, 0, metrics.horizontalAdvance(label->text()), metrics.height());
                EXPECT_LE(needed.width(), inside.width() + 0.5);
                EXPECT_LE(needed.height(), inside.height() + 0.5) << "lines cut: " << label->height() << " px for "
                                                                  << needed.height();
                const QRect onBar(label->mapTo(&bar, QPoint(0, 0)), label->size());
                EXPECT_TRUE(card.contains(QRectF(onBar))) << "outside the card";
            }
            EXPECT_GT(texts, 0);
            EXPECT_LE(card.width(), width - 2 * BarSideCard::edgeInset) << "off the screen's edge";
        }
    }

    BarView::Services services()
    {
        BarView::Services s;
        s.screenWidth = [this] { return screen; };
        return s;
    }
    int screen = 1920;
};

TEST_F(BarNoticesTest, EveryNoticeEventLineAndFailureIsShownWholeInEnglishAndGerman)
{
    make();
    BarView bar(*model, prefs(), services());
    const QString movie = home.file(QStringLiteral("movie.mov"));
    const QStringList lines = engineLines();
    ASSERT_GT(lines.size(), 20);
    QStringList said = lines;
    for (const char* line : {CameraCapture::cannotOpenDeviceLine, CameraCapture::disconnectedLine})
        said << QString::fromLatin1(line);
    const QString restored = sent(lines.filter(QStringLiteral("Screen restored")).value(0));

    Loc::setTableDirectory(QStringLiteral(":/lang"));
    for (const QString language : {QStringLiteral("en"), QStringLiteral("de")}) {
        SCOPED_TRACE(language.toStdString());
        ASSERT_TRUE(Loc::choose(language));
        int shown = 0;
        for (const QString& line : said) {
            const QString text = sent(line);
            SCOPED_TRACE(text.toStdString());
            const QString picture = QStringLiteral("notice-%1-%2").arg(language).arg(shown);
            using Effect = EngineNotices::Effect;
            switch (EngineNotices::classify(text)) {
            case Effect::none:
            case Effect::clearScreenNotice:
            case Effect::cameraDisconnected:
                continue;
            case Effect::saveFailed:
                model->setPhase(RecorderPhase::finishing());
                model->handleEvent(text);
                ASSERT_TRUE(model->phase().is(RecorderPhase::Kind::failed));
                expectWhole(bar, picture + QStringLiteral("-failed"));
                break;
            case Effect::soundMissing:
                // Said as the movie is finished; the saved row shows it.
                model->setPhase(RecorderPhase::finishing());
                model->handleEvent(text);
                ASSERT_TRUE(model->soundNotice());
                model->setPhase(RecorderPhase::saved(movie));
                expectWhole(bar, picture + QStringLiteral("-saved"));
                break;
            default:
                model->handleEvent(restored);
                model->setCameraNotice(std::nullopt);
                model->setPhase(RecorderPhase::recording());
                model->handleEvent(text);
                ASSERT_TRUE(model->screenNotice() || model->cameraNotice());
                model->setPhase(RecorderPhase::recording());
                expectWhole(bar, picture + QStringLiteral("-recording"));
                model->setPhase(RecorderPhase::saved(movie));
                expectWhole(bar, picture + QStringLiteral("-saved"));
                break;
            }
            ++shown;
        }
        EXPECT_GT(shown, 15);
        model->handleEvent(restored);
        model->setCameraNotice(std::nullopt);

        // What the model says itself.
        for (const char* failure : {"Save location is not configured", "Save Failed"}) {
            model->setPhase(RecorderPhase::failed(Loc::text(QString::fromLatin1(failure))));
            expectWhole(bar, QStringLiteral("failure-%1-%2").arg(language, QString::fromLatin1(failure)));
        }
        model->setPhase(RecorderPhase::ready());
        model->flash(Loc::text(QStringLiteral("No screen available to record")));
        expectWhole(bar, QStringLiteral("hint-") + language + QStringLiteral("-no-screen"));
        model->tell(Loc::text(QStringLiteral("This is a Wayland session: recordings show only X11 windows.")));
        expectWhole(bar, QStringLiteral("hint-") + language + QStringLiteral("-wayland"));
        model->dismissHint();
    }
    Loc::choose(QStringLiteral("en"));
}

// A notice that holds until read stays until the user closes it; a passing
// hint neither replaces it nor outlives its seven seconds.
TEST_F(BarNoticesTest, AToldHintStaysUntilDismissedAndAFlashedOneGoes)
{
    make();
    BarView bar(*model, prefs(), services());
    model->flash(QStringLiteral("passing"));
    scheduler.advance(RecorderModel::hintSeconds + 1);
    EXPECT_FALSE(model->hint());

    model->tell(QStringLiteral("standing"));
    model->flash(QStringLiteral("passing"));
    scheduler.advance(10 * RecorderModel::hintSeconds);
    EXPECT_EQ(model->hint(), QStringLiteral("standing"));
    bar.rebuild();
    auto* dismiss = bar.findChild<QWidget*>(QStringLiteral("dismissHint"));
    ASSERT_TRUE(dismiss);
    static_cast<TileButton*>(dismiss)->click();
    EXPECT_FALSE(model->hint());
    bar.rebuild();
    EXPECT_FALSE(bar.findChild<QWidget*>(QStringLiteral("dismissHint")));
}

} // namespace
} // namespace corvessa::test
