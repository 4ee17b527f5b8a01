#include "platform/core/XdgPaths.h"
#include "support/TempHome.h"

#include <QDir>
#include <QFile>

#include <gtest/gtest.h>

using namespace corvessa;

TEST(XdgPaths, DefaultsBelowHome)
{
    test::TempHome home;
    const QString h = QDir::cleanPath(home.path());
    EXPECT_EQ(XdgPaths::home(), h);
    EXPECT_EQ(XdgPaths::defaultsFile(), h + "/.config/Recorder/defaults.json");
    EXPECT_EQ(XdgPaths::logFile(), h + "/.local/state/Recorder/recorder.log");
    EXPECT_EQ(XdgPaths::recoveryDir(), h + "/.local/share/Recorder/Recovery");
    EXPECT_EQ(XdgPaths::profilesDir(), h + "/.local/share/Recorder/Profiles");
    EXPECT_EQ(XdgPaths::videosDir(), h + "/Videos");
}

TEST(XdgPaths, VariablesWinButOnlyWhenAbsolute)
{
    test::TempHome home;
    qputenv("XDG_STATE_HOME", "/tmp/state-x");
    qputenv("XDG_DATA_HOME", "relative/path"); // ignored, as the base-directory rules say
    EXPECT_EQ(XdgPaths::logFile(), QStringLiteral("/tmp/state-x/Recorder/recorder.log"));
    EXPECT_EQ(XdgPaths::dataHome(), QDir::cleanPath(home.path()) + "/.local/share");
}

TEST(XdgPaths, VideosFolderFromUserDirs)
{
    test::TempHome home;
    QDir().mkpath(home.file(".config"));
    QFile f(home.file(".config/user-dirs.dirs"));
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write("# comment\nXDG_DESKTOP_DIR=\"$HOME/Desktop\"\nXDG_VIDEOS_DIR=\"$HOME/Filme\"\n");
    f.close();
    EXPECT_EQ(XdgPaths::videosDir(), QDir::cleanPath(home.path()) + "/Filme");
}
