#include "app/SettingsWriteNotice.h"
#include "platform/core/UserDefaults.h"
#include "platform/core/XdgPaths.h"
#include "support/English.h"
#include "support/Immutable.h"
#include "support/TempHome.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMessageBox>
#include <QPointer>
#include <QScopeGuard>

#include <gtest/gtest.h>

#include <cstring>

#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace corvessa;

namespace {

const QByteArray kSettings = "{\n    \"saveFolder\": \"/home/someone/Movies\"\n}\n";

// Keeps the settings folder from being written: its permission bits for a
// user, the immutable flag for root, whom the bits do not stop. The errno it
// gives writes, or 0 where neither works here.
int lockFolder(const QString& folder, bool on)
{
    const QByteArray name = QFile::encodeName(folder);
    if (geteuid() != 0)
        return chmod(name.constData(), on ? 0555 : 0755) == 0 ? EACCES : 0;
    return test::setImmutable(folder, on) ? EPERM : 0;
}

QByteArray fileBytes(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

QList<QMessageBox*> notices()
{
    QList<QMessageBox*> found;
    for (QWidget* w : QApplication::topLevelWidgets()) {
        if (auto* box = qobject_cast<QMessageBox*>(w);
            box && box->objectName() == QLatin1String("settingsWriteNotice") && box->isVisible())
            found << box;
    }
    return found;
}

void closeNotices()
{
    for (QMessageBox* box : notices())
        box->close();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

class SettingsWriteNoticeTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        test::useEnglish();
        m_path = XdgPaths::defaultsFile();
        m_folder = QFileInfo(m_path).absolutePath();
        QDir().mkpath(m_folder);
        QFile f(m_path);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(kSettings);
    }
    void TearDown() override
    {
        if (m_locked)
            lockFolder(m_folder, false);
        closeNotices();
    }
    // The system's words for what stops the writes, empty when nothing can.
    QString lock()
    {
        const int error = lockFolder(m_folder, true);
        m_locked = error != 0;
        return error ? QString::fromLocal8Bit(std::strerror(error)) : QString();
    }
    QByteArray told() const
    {
        return "[app] told the user changes to the settings cannot be kept: cannot write " + QFile::encodeName(m_path);
    }
    static QByteArray logText()
    {
        QFile f(XdgPaths::logFile());
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    }

    test::TempHome m_home;
    QString m_path;
    QString m_folder;
    bool m_locked = false;
};

// The first change that cannot be written is said on screen, once, with the
// file and the reason; the changes after it say nothing more.
TEST_F(SettingsWriteNoticeTest, TheFirstChangeThatCannotBeKeptIsToldOnce)
{
    UserDefaults defaults(m_path);
    SettingsWriteNotice notice(defaults);
    EXPECT_FALSE(notice.told()) << "nothing to say while it can be written";
    const QString reason = lock();
    if (reason.isEmpty())
        GTEST_SKIP() << "the settings folder cannot be locked here";

    defaults.setString(QStringLiteral("saveFolder"), QStringLiteral("/elsewhere"));
    QPointer<QMessageBox> box = notice.box();
    ASSERT_TRUE(box);
    EXPECT_TRUE(box->isVisible());
    EXPECT_FALSE(box->isModal());
    EXPECT_EQ(box->windowTitle(), QStringLiteral("Your settings can't be kept"));
    EXPECT_TRUE(box->text().contains(reason)) << box->text().toStdString();
    EXPECT_TRUE(box->text().endsWith(m_path)) << box->text().toStdString();
    EXPECT_EQ(logText().count(told() + ": " + reason.toUtf8()), 1) << logText().toStdString();

    box->close();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    defaults.setBool(QStringLiteral("micOn"), true);
    defaults.remove(QStringLiteral("saveFolder"));
    EXPECT_TRUE(notices().isEmpty()) << "said once";
    EXPECT_EQ(logText().count(told()), 1);
    EXPECT_EQ(fileBytes(m_path), kSettings) << "the file there is left as it was";
}

// A start that finds the folder locked says so at once, before any change,
// and only once however many changes follow.
TEST_F(SettingsWriteNoticeTest, AStartThatFindsTheSettingsLockedTellsAtOnce)
{
    const QString reason = lock();
    if (reason.isEmpty())
        GTEST_SKIP() << "the settings folder cannot be locked here";
    UserDefaults defaults(m_path);
    SettingsWriteNotice notice(defaults);
    ASSERT_TRUE(notice.told());
    ASSERT_EQ(notices().size(), 1);
    EXPECT_TRUE(notices().first()->text().contains(reason));
    defaults.setString(QStringLiteral("saveFolder"), QStringLiteral("/elsewhere"));
    EXPECT_EQ(notices().size(), 1);
    EXPECT_EQ(logText().count(told()), 1);
    EXPECT_EQ(fileBytes(m_path), kSettings);
}

} // namespace
