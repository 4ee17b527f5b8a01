#include "app/SettingsResetNotice.h"
#include "platform/core/UserDefaults.h"
#include "platform/core/XdgPaths.h"
#include "support/English.h"
#include "support/TempHome.h"
#include "support/Unprivileged.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QMessageBox>
#include <QPointer>

#include <gtest/gtest.h>

#include <sys/stat.h>

using namespace corvessa;

// A settings file that could not be read is said once, with where it went.
TEST(SettingsResetNotice, SaysOnceWhereTheOldSettingsWent)
{
    test::TempHome home;
    test::useEnglish();
    const QString path = XdgPaths::defaultsFile();
    QDir().mkpath(QFileInfo(path).absolutePath());
    {
        QFile f(path);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write("{ \"saveFolder\": ");
    }
    UserDefaults defaults(path);
    const QStringList kept = QDir(QFileInfo(path).absolutePath()).entryList({QStringLiteral("defaults.json.corrupt-*")});
    ASSERT_EQ(kept.size(), 1);

    QPointer<QMessageBox> box = SettingsResetNotice::showIfPending(defaults);
    ASSERT_TRUE(box);
    EXPECT_TRUE(box->isVisible());
    EXPECT_FALSE(box->isModal());
    EXPECT_EQ(box->windowTitle(), QStringLiteral("Your settings were reset"));
    EXPECT_TRUE(box->text().endsWith(QFileInfo(path).absolutePath() + QLatin1Char('/') + kept.first()))
        << box->text().toStdString();
    box->close();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_FALSE(box) << "gone once closed";

    EXPECT_FALSE(SettingsResetNotice::showIfPending(defaults)) << "said once";
    UserDefaults again(path);
    EXPECT_FALSE(SettingsResetNotice::showIfPending(again)) << "nor at the start after";
}

// A broken file that may not be set aside (its folder is not the user's to
// change) is kept, and said at every start, since every start runs on defaults.
TEST(SettingsResetNotice, SaysAtEveryStartThatAFileStuckInPlaceIsNotRead)
{
    test::TempHome home;
    test::useEnglish();
    const QString path = XdgPaths::defaultsFile();
    const QString folder = QFileInfo(path).absolutePath();
    QDir().mkpath(folder);
    {
        QFile f(path);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write("{ \"saveFolder\": ");
    }
    // Open to the unprivileged child, except the file's own folder.
    for (QString dir = folder; dir.startsWith(home.path()); dir = QFileInfo(dir).absolutePath())
        ASSERT_EQ(chmod(QFile::encodeName(dir).constData(), 0755), 0);
    ASSERT_EQ(chmod(QFile::encodeName(path).constData(), 0666), 0);
    ASSERT_EQ(chmod(QFile::encodeName(folder).constData(), 0555), 0);
    test::runUnprivileged([&] {
        for (int start = 0; start < 2; ++start) {
            UserDefaults defaults(path);
            QPointer<QMessageBox> box = SettingsResetNotice::showIfPending(defaults);
            ASSERT_TRUE(box) << "start " << start;
            EXPECT_EQ(box->windowTitle(), QStringLiteral("Your settings could not be read"));
            EXPECT_TRUE(box->text().endsWith(path)) << box->text().toStdString();
            box->close();
            QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        }
    });
    ASSERT_EQ(chmod(QFile::encodeName(folder).constData(), 0755), 0);
    QFile kept(path);
    ASSERT_TRUE(kept.open(QIODevice::ReadOnly));
    EXPECT_EQ(kept.readAll(), QByteArray("{ \"saveFolder\": ")) << "kept as it was";
}
