#include "app/SettingsResetNotice.h"
#include "platform/core/UserDefaults.h"
#include "platform/core/XdgPaths.h"
#include "support/English.h"
#include "support/TempHome.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QMessageBox>
#include <QPointer>

#include <gtest/gtest.h>

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
