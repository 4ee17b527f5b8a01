#include "engine/WriterInputGuard.h"

#include "capture/AudioNormalizer.h"
#include "engine/AudioTimelineMixer.h"
#include "platform/synthetic/RecordingMovieWriter.h"

#include <gtest/gtest.h>

#include <QStringList>

using namespace corvessa;

namespace {

constexpr int64_t second = 48000;
const MediaTime origin(1000, 1);

struct GuardRig {
    GuardRig()
    {
        MovieWriter::Settings settings;
        settings.path = QStringLiteral("/nonexistent/guard.mov");
        settings.audio = MovieWriter::AudioSettings{48000, 2, 128000};
        writer = std::make_shared<RecordingMovieWriter>(settings);
        writer->setCreatesFile(false);
        writer->startWriting();
        writer->startSession(origin);
    }
    // The drain at `frames`: what the guard skipped.
    int64_t drain(int64_t frames, bool ready)
    {
        writer->setReady(MovieWriter::Input::Audio, ready);
        return guard.appendSound(*writer, mixer, frames, origin, false, QStringLiteral("Mixed audio"));
    }

    QStringList lines;
    WriterInputGuard guard{[this](const QString& line) { lines << line; }};
    AudioTimelineMixer mixer;
    std::shared_ptr<RecordingMovieWriter> writer;
};

} // namespace

// Two seconds of sound that come due at once (a busy engine, a source no
// longer waited for) go to a writer that takes them in its own time: nothing
// is skipped, nor told as heavy load.
TEST(WriterInputGuard, ABurstThatTheWriterTakesInTimeIsWrittenWhole)
{
    GuardRig r;
    EXPECT_EQ(r.drain(2 * second, false), 0);
    EXPECT_EQ(r.drain(2 * second + 9600, false), 0);
    EXPECT_EQ(r.drain(2 * second + 19200, true), 0);
    EXPECT_EQ(r.mixer.cursor(), 2 * second + 19200);
    EXPECT_EQ(int64_t(r.writer->appendedAudioFrames()), 2 * second + 19200);
    EXPECT_TRUE(r.lines.isEmpty());
}

// A writer that stays behind its backlog bound for overloadSeconds of sound
// loses the oldest past the bound, and goes on losing it while it stays
// there; once it took sound again, a new burst is waited for again.
TEST(WriterInputGuard, OnlyAWriterThatStaysBehindHasSoundSkipped)
{
    GuardRig r;
    const auto bound = int64_t(WriterInputGuard::maxSoundBacklogSeconds * second);
    const auto overload = int64_t(WriterInputGuard::overloadSeconds * second);
    const int64_t first = 2 * second; // behind from here on
    EXPECT_EQ(r.drain(first, false), 0);
    EXPECT_EQ(r.drain(first + overload - 480, false), 0);
    EXPECT_EQ(r.drain(first + overload, false), first + overload - bound);
    EXPECT_EQ(r.mixer.cursor(), first + overload - bound);
    EXPECT_EQ(r.drain(first + overload + 4800, false), 4800) << "still overloaded: the backlog stays bounded";
    EXPECT_EQ(r.writer->appendedAudioFrames(), 0u);
    // It takes sound again: caught up, and the next burst is waited for anew.
    EXPECT_EQ(r.drain(first + overload + 9600, true), 0);
    const int64_t caughtUp = r.mixer.cursor();
    EXPECT_EQ(caughtUp, first + overload + 9600);
    EXPECT_EQ(r.drain(caughtUp + 2 * second, false), 0);
}
