#include "platform/MovieTestSupport.h"

#include "platform/ffmpeg/FFmpegMovieWriter.h"
#include "platform/ffmpeg/MovieProbe.h"

#include <gtest/gtest.h>

using namespace corvessa;
using namespace corvessa::test;
using Input = MovieWriter::Input;

namespace {

void writeSeconds(const QString& path, int seconds)
{
    FFmpegMovieWriter w(movieSettings(path, 64, 48, 30));
    ASSERT_TRUE(w.startWriting());
    const MediaTime start = hostBase();
    w.startSession(start);
    for (int i = 0; i < seconds * 30; ++i) {
        ASSERT_TRUE(appendWhenReady(w, Input::Video, *MediaTime::image(testPicture(64, 48, PixelFormat::BGRA, i), start + MediaTime(i, 30), MediaTime(1, 30))));
        ASSERT_TRUE(appendWhenReady(w, Input::Audio, tone(i * 1600, 1600, start + MediaTime(i * 1600, 48000))));
    }
    w.endSession(start + MediaTime(seconds, 1));
    ASSERT_TRUE(finishAndWait(w));
    ASSERT_EQ(w.status(), MovieWriter::Status::Completed);
}

} // namespace

TEST(MovieProbe, WhatIsNotAMovieDoesNotPlay)
{
    QTemporaryDir dir;
    const auto missing = MovieProbe::probe(dir.filePath(QStringLiteral("missing.mov")));
    EXPECT_FALSE(missing.opened);
    EXPECT_FALSE(missing.playable);
    EXPECT_FALSE(missing.error.isEmpty());
    EXPECT_EQ(missing.seconds, 0);

    const QString text = dir.filePath(QStringLiteral("text.mov"));
    QFile f(text);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write("this is not a movie at all, only some words in a file.\n");
    f.close();
    const auto notMovie = MovieProbe::probe(text);
    EXPECT_FALSE(notMovie.playable);
    EXPECT_EQ(notMovie.seconds, 0);
}

TEST(MovieProbe, AMovieWithoutSamplesDoesNotPlay)
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("empty.mov"));
    FFmpegMovieWriter w(movieSettings(path, 64, 48, 30));
    ASSERT_TRUE(w.startWriting());
    // What a crash in the first seconds leaves: the header and nothing else.
    const auto header = MovieProbe::probe(path);
    EXPECT_FALSE(header.playable);
    EXPECT_EQ(header.seconds, 0);
    w.startSession(hostBase());
    ASSERT_TRUE(finishAndWait(w));
    const auto empty = MovieProbe::probe(path);
    EXPECT_TRUE(empty.opened);
    EXPECT_FALSE(empty.playable);
    EXPECT_EQ(empty.seconds, 0);
    EXPECT_EQ(empty.streams.size(), 2u);
}

TEST(MovieProbe, ATornMovieCountsOnlyWhatIsWhole)
{
    MovieFolder folder(QStringLiteral("MovieProbe"));
    const QString whole = folder.file(QStringLiteral("whole.mov"));
    writeSeconds(whole, 7);
    const auto full = MovieProbe::probe(whole);
    ASSERT_TRUE(full.playable);
    EXPECT_NEAR(full.seconds, 7.0, 0.03);

    // Cut the file in the middle of its fifth fragment (they are about a second
    // long), as a crash would.
    QFile in(whole);
    ASSERT_TRUE(in.open(QIODevice::ReadOnly));
    const QByteArray bytes = in.readAll();
    int moof = -1;
    for (int i = 0; i < 5; ++i)
        moof = int(bytes.indexOf("moof", moof + 1));
    ASSERT_GT(moof, 0);
    const int nextMoof = int(bytes.indexOf("moof", moof + 1));
    ASSERT_GT(nextMoof, moof);
    const QString torn = folder.file(QStringLiteral("torn.mov"));
    QFile out(torn);
    ASSERT_TRUE(out.open(QIODevice::WriteOnly | QIODevice::Truncate));
    out.write(bytes.left((moof + nextMoof) / 2));
    out.close();

    const auto cut = MovieProbe::probe(torn);
    ASSERT_TRUE(cut.opened) << cut.error.toStdString();
    EXPECT_TRUE(cut.playable);
    // Four whole fragments, perhaps some of the fifth, never the whole movie.
    // Fed faster than real time, the sound is encoded ahead of the picture and
    // the cuts follow it, so four fragments may hold up to the muxer's
    // interleaving window (0.5 s) less than 4 s of picture.
    EXPECT_GE(cut.seconds, 2.5);
    EXPECT_LT(cut.seconds, 6.0);
}
