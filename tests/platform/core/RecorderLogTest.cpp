#include "platform/core/RecorderLog.h"
#include "platform/core/XdgPaths.h"
#include "support/TempHome.h"

#include <QDir>
#include <QFile>
#include <QRegularExpression>

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <thread>
#include <vector>

using namespace corvessa;

namespace {

QByteArray readLog()
{
    QFile f(XdgPaths::logFile());
    if (!f.open(QIODevice::ReadOnly))
        return {};
    return f.readAll();
}

void writeLog(const QByteArray& bytes)
{
    QDir().mkpath(XdgPaths::logDir());
    QFile f(XdgPaths::logFile());
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(bytes);
}

const QRegularExpression kLine(QStringLiteral("^\\d{4}-\\d\\d-\\d\\dT\\d\\d:\\d\\d:\\d\\dZ (.*)$"));

} // namespace

TEST(RecorderLog, FirstLineCreatesFolderAndFile)
{
    test::TempHome home;
    RecorderLog::write(QStringLiteral("[hotkeys] registered 15, failed 0"));
    const QString text = QString::fromUtf8(readLog());
    ASSERT_TRUE(text.endsWith('\n'));
    const QStringList lines = text.chopped(1).split('\n');
    ASSERT_EQ(lines.size(), 1);
    const auto m = kLine.match(lines[0]);
    ASSERT_TRUE(m.hasMatch()) << lines[0].toStdString();
    EXPECT_EQ(m.captured(1), QStringLiteral("[hotkeys] registered 15, failed 0"));
}

TEST(RecorderLog, MessagesAreVerbatim)
{
    test::TempHome home;
    RecorderLog::write(QStringLiteral("two\nlines"));
    RecorderLog::write(QString());
    RecorderLog::write(QStringLiteral("Ünïcødé ✓"));
    const QStringList lines = QString::fromUtf8(readLog()).split('\n');
    ASSERT_EQ(lines.size(), 5); // four physical lines and the empty rest after the last line feed
    EXPECT_TRUE(lines[0].endsWith(" two"));
    EXPECT_EQ(lines[1], QStringLiteral("lines"));
    EXPECT_TRUE(kLine.match(lines[2]).hasMatch());
    EXPECT_TRUE(lines[2].endsWith("Z ")); // empty message: stamp and a space
    EXPECT_TRUE(lines[3].endsWith(" Ünïcødé ✓"));
}

TEST(RecorderLog, ResetsOnlyPastTheLimit)
{
    test::TempHome home;
    writeLog(QByteArray(RecorderLog::sizeLimit, 'x'));
    RecorderLog::write(QStringLiteral("kept"));
    QByteArray log = readLog();
    EXPECT_GT(log.size(), RecorderLog::sizeLimit); // exactly at the limit: appended to
    EXPECT_TRUE(log.startsWith("xxxx"));

    writeLog(QByteArray(RecorderLog::sizeLimit + 1, 'x'));
    RecorderLog::write(QStringLiteral("fresh"));
    log = readLog();
    EXPECT_FALSE(log.contains("xxx"));
    EXPECT_TRUE(kLine.match(QString::fromUtf8(log).trimmed()).hasMatch());
    EXPECT_TRUE(log.endsWith(" fresh\n"));
}

TEST(RecorderLog, ConcurrentLinesNeverInterleaveAcrossAReset)
{
    test::TempHome home;
    writeLog(QByteArray(RecorderLog::sizeLimit - 1000, 'x'));
    const QString payload = QString(200, QLatin1Char('y'));
    std::vector<std::thread> threads;
    for (int t = 0; t < 8; ++t)
        threads.emplace_back([&, t] {
            for (int i = 0; i < 200; ++i)
                RecorderLog::write(QStringLiteral("t%1 i%2 %3").arg(t).arg(i).arg(payload));
        });
    for (auto& th : threads)
        th.join();
    // Every line in the file is whole: a stamp, the message, nothing torn.
    const QStringList lines = QString::fromUtf8(readLog()).split('\n', Qt::SkipEmptyParts);
    ASSERT_FALSE(lines.isEmpty());
    static const QRegularExpression whole(QStringLiteral("^\\S+Z t\\d i\\d+ y{200}$"));
    for (const auto& l : lines)
        ASSERT_TRUE(whole.match(l).hasMatch()) << l.left(80).toStdString();
    EXPECT_LE(readLog().size(), RecorderLog::sizeLimit + 300);
}

TEST(RecorderLog, UnwritableStateFolderIsSilent)
{
    test::TempHome home;
    QFile blocker(home.file("blocked"));
    ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    qputenv("XDG_STATE_HOME", home.file("blocked").toLocal8Bit()); // a file, not a folder
    RecorderLog::write(QStringLiteral("lost"));                  // must simply return
    EXPECT_FALSE(QFile::exists(XdgPaths::logFile()));
}
