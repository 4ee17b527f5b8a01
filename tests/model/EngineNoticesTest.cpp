#include "capture/CameraCapture.h"
#include "engine/EngineLines.h"
#include "model/EngineNotices.h"

#include <gtest/gtest.h>

#include <QFile>
#include <QRegularExpression>
#include <QSet>

namespace corvessa {
namespace {

using Effect = EngineNotices::Effect;

// Every line the engine and the camera send, as sent (values filled in), goes
// through the table to the effect the model owes it. A line reworded in the
// engine, or a new one, fails here rather than turning silent.
TEST(EngineNoticesTest, EveryEngineLineReachesItsEffect)
{
    struct Row {
        const char* name;
        EngineLine line;
        Effect effect;
    };
#define LINE(name, effect) Row{#name, EngineLines::name, Effect::effect}
    const std::vector<Row> rows{
        LINE(noMicPermission, screenNotice), LINE(systemAudioFailed, screenNotice), LINE(started, none),
        LINE(paused, none), LINE(eco, none), LINE(deep, none), LINE(resumed, none), LINE(resumeFailed, none),
        LINE(resumeFilled, none), LINE(videoSync, none), LINE(micDead, trackLeftOut), LINE(lowDisk, stopWithNotice),
        LINE(micFormat, none), LINE(screenLost, screenUnavailable), LINE(screenRestored, clearScreenNotice), LINE(areaMoved, screenNotice),
        LINE(windowClosed, stopWithNotice),
        LINE(micGone, trackLeftOut), LINE(micCouldNotConnect, trackLeftOut), LINE(videoWriteFailed, none),
        LINE(writeError, screenNotice), LINE(formatChanged, screenNotice),
        LINE(saveFailed, saveFailed), LINE(soundDropped, soundMissing), LINE(soundMissing, soundMissing),
        LINE(cameraSoundMissing, soundMissing),
        LINE(audioSync, none),
        LINE(micGap, screenNotice), LINE(systemGap, screenNotice),
        LINE(completed, none), LINE(fileMoved, none), LINE(cameraSizeChanged, cameraNotice), LINE(cameraWriteFailed, cameraNotice),
        LINE(cameraNotCreated, cameraNotice), LINE(cameraNotStarted, cameraNotice),
    };
#undef LINE
    QSet<QString> walked;
    for (const Row& row : rows) {
        walked << QString::fromLatin1(row.name);
        const QString sent = row.line({QStringLiteral("Microphone"), QStringLiteral("2"), QStringLiteral("3"),
                                       QStringLiteral("4"), QStringLiteral("5")});
        EXPECT_EQ(EngineNotices::classify(sent), row.effect) << sent.toStdString();
    }
    for (const char* lost : {CameraCapture::cannotOpenDeviceLine, CameraCapture::cannotAddInputLine,
                             CameraCapture::cannotConfigureFormatLine, CameraCapture::cannotAddOutputLine,
                             CameraCapture::cannotConfigureDeviceLine, CameraCapture::disconnectedLine})
        EXPECT_EQ(EngineNotices::classify(QString::fromLatin1(lost)), Effect::cameraDisconnected) << lost;

    // The walk covers every line the engine declares.
    QFile header(QStringLiteral(CORVESSA_SOURCE_DIR "/Recorder/engine/EngineLines.h"));
    ASSERT_TRUE(header.open(QIODevice::ReadOnly));
    QSet<QString> declared;
    const QRegularExpression declaration(QStringLiteral("static constexpr EngineLine (\\w+)"));
    for (auto it = declaration.globalMatch(QString::fromUtf8(header.readAll())); it.hasNext();)
        declared << it.next().captured(1);
    EXPECT_EQ(walked, declared);
}

} // namespace
} // namespace corvessa
