#include "platform/GlobalHotKeys.h"
#include "platform/core/UserDefaults.h"
#include "platform/core/XdgPaths.h"
#include "platform/synthetic/SyntheticGlobalHotKeys.h"
#include "prefs/Loc.h"
#include "prefs/Prefs.h"
#include "prefs/ProfileStore.h"
#include "prefs/widgets/ProfilesPanel.h"
#include "support/English.h"
#include "support/TempHome.h"

#include <QApplication>
#include <QDialog>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <QToolButton>

#include <gtest/gtest.h>

#include <functional>
#include <memory>

using namespace corvessa;
using namespace Qt::StringLiterals;

namespace {

// Runs `act` on the modal dialog that the next click opens, from inside its
// event loop. Gives up (and fails) if none appears within a second, closing
// whatever is modal so the test cannot hang.
void whenModal(std::function<void(QWidget*)> act)
{
    auto tries = std::make_shared<int>(0);
    auto poll = std::make_shared<std::function<void()>>();
    *poll = [act, tries, poll] {
        if (QWidget* modal = QApplication::activeModalWidget(); modal && modal->isVisible()) {
            act(modal);
            return;
        }
        if (++*tries > 100) {
            ADD_FAILURE() << "no modal dialog appeared";
            return;
        }
        QTimer::singleShot(10, *poll);
    };
    QTimer::singleShot(0, *poll);
}

class ProfilesPanelTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        GlobalHotKeys::setCurrent(std::make_shared<SyntheticGlobalHotKeys>());
        test::useEnglish();
        Prefs::resetShared();
        ProfileStore::resetShared();
        m_panel = std::make_unique<ProfilesPanel>(ProfileStore::shared(), Prefs::shared());
        m_panel->setRevealer([this](const QString& path, bool select, std::function<void(bool)> done) {
            m_revealed << (path + (select ? u" +select"_s : u""_s));
            done(m_revealShows);
        });
        m_panel->setDialogPresenter([this](QWidget* dialog) { m_presented << dialog->objectName(); });
        m_panel->resize(520, 360);
        m_panel->show();
        settle();
    }
    void TearDown() override { m_panel.reset(); }

    static ProfileStore& profiles() { return ProfileStore::shared(); }
    static Prefs& prefs() { return Prefs::shared(); }

    // Lets deferred deletions and layout happen.
    static void settle()
    {
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QCoreApplication::processEvents();
    }

    QStringList rowNames() const
    {
        QStringList names;
        for (QWidget* row : m_panel->findChildren<QWidget*>(u"profileRow"_s))
            names << row->property("profileName").toString();
        return names;
    }

    QWidget* row(const QString& name) const
    {
        for (QWidget* row : m_panel->findChildren<QWidget*>(u"profileRow"_s)) {
            if (row->property("profileName").toString() == name)
                return row;
        }
        return nullptr;
    }

    template <typename T>
    T* child(const QString& name) const
    {
        return m_panel->findChild<T*>(name);
    }

    QAction* menuAction(const QString& profile, const QString& text) const
    {
        QWidget* r = row(profile);
        if (!r)
            return nullptr;
        auto* button = r->findChild<QToolButton*>(u"actionsButton"_s);
        if (!button || !button->menu())
            return nullptr;
        for (QAction* action : button->menu()->actions()) {
            if (action->text() == text)
                return action;
        }
        return nullptr;
    }

    QStringList menuTexts(const QString& profile) const
    {
        QStringList texts;
        for (QAction* action : row(profile)->findChild<QToolButton*>(u"actionsButton"_s)->menu()->actions())
            texts << (action->isSeparator() ? u"---"_s : action->text());
        return texts;
    }

    QString status() const
    {
        auto* label = child<QLabel>(u"statusLine"_s);
        return label ? label->text() : QString();
    }

    // Clicks "Save as New Profile…" and answers its dialog with `typed` (none
    // keeps the proposal) and the key that ends it. Returns the proposal.
    QString saveAsNew(const std::optional<QString>& typed, Qt::Key key = Qt::Key_Return)
    {
        QString proposal;
        whenModal([&](QWidget* dialog) {
            auto* field = dialog->findChild<QLineEdit*>(u"nameField"_s);
            ASSERT_NE(field, nullptr);
            proposal = field->text();
            if (typed)
                QTest::keyClicks(field, *typed); // replaces the selected proposal
            QTest::keyClick(field, key);
        });
        QTest::mouseClick(child<QPushButton>(u"saveAsNewButton"_s), Qt::LeftButton);
        settle();
        return proposal;
    }

    test::TempHome m_home;
    std::unique_ptr<ProfilesPanel> m_panel;
    QStringList m_revealed;
    bool m_revealShows = true; // whether the file manager shows what is revealed
    QStringList m_presented;
};

TEST_F(ProfilesPanelTest, RendersThePlaceholderAndTheFolderWhenEmpty)
{
    auto* placeholder = child<QLabel>(u"placeholder"_s);
    ASSERT_NE(placeholder, nullptr);
    EXPECT_TRUE(placeholder->isVisible());
    EXPECT_EQ(placeholder->text(), u"No profiles yet. Click “Save as New Profile…” in the top right."_s);
    EXPECT_TRUE(rowNames().isEmpty());
    EXPECT_EQ(child<QLabel>(u"statusLine"_s), nullptr);
    EXPECT_EQ(child<QLabel>(u"folderPath"_s)->property("displayPath").toString(),
              u"~/.local/share/Recorder/Profiles"_s);

    const QImage image = m_panel->grab().toImage();
    ASSERT_FALSE(image.isNull());
    EXPECT_GT(image.width(), 0);
}

TEST_F(ProfilesPanelTest, SaveAsNewCreatesTheTypedProfile)
{
    EXPECT_EQ(saveAsNew(u"Work"_s), u"Profile 1"_s);
    EXPECT_EQ(m_presented, QStringList{u"profileNameDialog"_s});
    EXPECT_EQ(profiles().names(), QStringList{u"Work"_s});
    EXPECT_EQ(rowNames(), QStringList{u"Work"_s});
    EXPECT_EQ(child<QLabel>(u"placeholder"_s), nullptr);
    auto* dot = row(u"Work"_s)->findChild<QLabel*>(u"activeDot"_s);
    EXPECT_TRUE(dot->property("active").toBool());
    EXPECT_EQ(dot->toolTip(), u"Currently using this profile."_s);

    // The proposal counts the listed profiles.
    EXPECT_EQ(saveAsNew(std::nullopt), u"Profile 2"_s);
    EXPECT_EQ(rowNames(), (QStringList{u"Profile 2"_s, u"Work"_s}));
    EXPECT_FALSE(row(u"Work"_s)->findChild<QLabel*>(u"activeDot"_s)->property("active").toBool());
    EXPECT_TRUE(row(u"Profile 2"_s)->findChild<QLabel*>(u"activeDot"_s)->property("active").toBool());
}

TEST_F(ProfilesPanelTest, AcceptingATakenProposalShowsTheDuplicateMessage)
{
    profiles().create(u"Profile 1"_s);
    profiles().create(u"Profile 3"_s);
    settle();
    EXPECT_EQ(saveAsNew(std::nullopt), u"Profile 3"_s);
    EXPECT_EQ(profiles().names(), (QStringList{u"Profile 1"_s, u"Profile 3"_s}));
    EXPECT_EQ(status(), u"You already have a profile named “Profile 3”. Please choose a different name."_s);
}

TEST_F(ProfilesPanelTest, CancellingEitherDialogCallsNothing)
{
    profiles().create(u"Work"_s);
    profiles().setMessage(u"before"_s);
    settle();

    saveAsNew(u"Other"_s, Qt::Key_Escape);
    EXPECT_EQ(profiles().names(), QStringList{u"Work"_s});
    EXPECT_EQ(status(), u"before"_s);

    whenModal([](QWidget* dialog) {
        for (QPushButton* button : dialog->findChildren<QPushButton*>()) {
            if (button->text() == u"Cancel"_s)
                QTest::mouseClick(button, Qt::LeftButton);
        }
    });
    menuAction(u"Work"_s, u"Rename…"_s)->trigger();
    settle();
    EXPECT_EQ(profiles().names(), QStringList{u"Work"_s});
    EXPECT_EQ(status(), u"before"_s);
}

TEST_F(ProfilesPanelTest, LoadButtonLoadsAndIsDisabledWhileRecording)
{
    prefs().setFps(48);
    profiles().create(u"Work"_s);
    prefs().setFps(10);
    settle();

    auto* load = row(u"Work"_s)->findChild<QPushButton*>(u"loadButton"_s);
    ASSERT_TRUE(load->isEnabled());
    QTest::mouseClick(load, Qt::LeftButton);
    settle();
    EXPECT_EQ(prefs().fps(), 48);
    EXPECT_EQ(status(), u"Loaded “Work”."_s);

    // The keyboard works on the focused button too.
    prefs().setFps(10);
    load = row(u"Work"_s)->findChild<QPushButton*>(u"loadButton"_s);
    load->setFocus();
    QTest::keyClick(load, Qt::Key_Space);
    settle();
    EXPECT_EQ(prefs().fps(), 48);

    prefs().setIsRecording(true);
    settle();
    EXPECT_FALSE(row(u"Work"_s)->findChild<QPushButton*>(u"loadButton"_s)->isEnabled());

    // Updating stays available while recording and writes the current settings.
    prefs().setFps(24);
    profiles().setActiveName(std::nullopt);
    settle();
    QAction* update = menuAction(u"Work"_s, u"Update with Current Settings"_s);
    ASSERT_NE(update, nullptr);
    EXPECT_TRUE(update->isEnabled());
    update->trigger();
    settle();
    EXPECT_EQ(status(), u"Updated “Work” with current settings."_s);
    EXPECT_EQ(profiles().activeName(), u"Work"_s);
    QFile file(profiles().folder() + u"/Work.json"_s);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_TRUE(file.readAll().contains("\"fps\": 24"));

    prefs().setIsRecording(false);
    settle();
    EXPECT_TRUE(row(u"Work"_s)->findChild<QPushButton*>(u"loadButton"_s)->isEnabled());
}

TEST_F(ProfilesPanelTest, DefaultBadgeFollowsTheMenu)
{
    profiles().create(u"A"_s);
    profiles().create(u"B"_s);
    settle();
    EXPECT_EQ(m_panel->findChildren<QLabel*>(u"defaultBadge"_s).size(), 0);
    EXPECT_EQ(menuTexts(u"A"_s), (QStringList{u"Update with Current Settings"_s, u"Rename…"_s,
                                              u"Set as Default (Auto-Load on Startup)"_s, u"---"_s,
                                              u"Show in Folder"_s, u"Delete (Move to Trash)"_s}));

    menuAction(u"A"_s, u"Set as Default (Auto-Load on Startup)"_s)->trigger();
    settle();
    EXPECT_EQ(profiles().defaultName(), u"A"_s);
    ASSERT_NE(row(u"A"_s)->findChild<QLabel*>(u"defaultBadge"_s), nullptr);
    EXPECT_EQ(row(u"A"_s)->findChild<QLabel*>(u"defaultBadge"_s)->text(), u"Default"_s);
    EXPECT_NE(menuAction(u"A"_s, u"Unset Default"_s), nullptr);

    menuAction(u"B"_s, u"Set as Default (Auto-Load on Startup)"_s)->trigger();
    settle();
    EXPECT_EQ(row(u"A"_s)->findChild<QLabel*>(u"defaultBadge"_s), nullptr);
    EXPECT_NE(row(u"B"_s)->findChild<QLabel*>(u"defaultBadge"_s), nullptr);

    menuAction(u"B"_s, u"Unset Default"_s)->trigger();
    settle();
    EXPECT_EQ(profiles().defaultName(), std::nullopt);
    EXPECT_FALSE(UserDefaults::standard().contains(u"defaultProfile"_s));
    EXPECT_EQ(m_panel->findChildren<QLabel*>(u"defaultBadge"_s).size(), 0);
}

TEST_F(ProfilesPanelTest, RenameThroughItsDialog)
{
    profiles().create(u"Old"_s);
    settle();
    QString shown;
    whenModal([&](QWidget* dialog) {
        auto* field = dialog->findChild<QLineEdit*>(u"nameField"_s);
        shown = field->text();
        field->selectAll();
        QTest::keyClicks(field, u"Newer"_s);
        for (QPushButton* button : dialog->findChildren<QPushButton*>()) {
            if (button->text() == u"OK"_s)
                QTest::mouseClick(button, Qt::LeftButton);
        }
    });
    menuAction(u"Old"_s, u"Rename…"_s)->trigger();
    settle();
    EXPECT_EQ(shown, u"Old"_s);
    EXPECT_EQ(rowNames(), QStringList{u"Newer"_s});
    EXPECT_TRUE(QFileInfo::exists(profiles().folder() + u"/Newer.json"_s));
}

TEST_F(ProfilesPanelTest, DeleteAndRevealFromTheMenu)
{
    profiles().create(u"A"_s);
    profiles().create(u"B"_s);
    settle();

    menuAction(u"A"_s, u"Show in Folder"_s)->trigger();
    QTest::mouseClick(child<QPushButton>(u"showFolderButton"_s), Qt::LeftButton);
    EXPECT_EQ(m_revealed, (QStringList{profiles().folder() + u"/A.json +select"_s, profiles().folder()}));
    settle();
    EXPECT_EQ(child<QLabel>(u"statusLine"_s), nullptr);

    // Nothing could show it (no file manager, no handler for folders): the pane says so.
    m_revealShows = false;
    for (const auto& reveal : std::vector<std::function<void()>>{
             [&] { menuAction(u"A"_s, u"Show in Folder"_s)->trigger(); },
             [&] { QTest::mouseClick(child<QPushButton>(u"showFolderButton"_s), Qt::LeftButton); }}) {
        profiles().setMessage(std::nullopt);
        settle();
        reveal();
        settle();
        auto* status = child<QLabel>(u"statusLine"_s);
        ASSERT_TRUE(status);
        EXPECT_EQ(status->text(), u"The folder could not be opened: "_s + QDir::toNativeSeparators(profiles().folder()));
    }
    m_revealShows = true;

    menuAction(u"A"_s, u"Delete (Move to Trash)"_s)->trigger();
    settle();
    EXPECT_EQ(rowNames(), QStringList{u"B"_s});
    EXPECT_TRUE(QFileInfo::exists(XdgPaths::dataHome() + u"/Trash/files/A.json"_s));
}

TEST_F(ProfilesPanelTest, ChangeFolderThroughTheChooser)
{
    const QString other = QDir::cleanPath(m_home.file(u"Shared Profiles"_s));
    ASSERT_TRUE(QDir().mkpath(other));
    QFile f(other + u"/Team.json"_s);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.close();

    QString startedIn;
    whenModal([&](QWidget* dialog) {
        auto* chooser = qobject_cast<QFileDialog*>(dialog);
        ASSERT_NE(chooser, nullptr);
        startedIn = chooser->directory().absolutePath();
        chooser->setDirectory(other);
        QMetaObject::invokeMethod(chooser, "accept");
    });
    QTest::mouseClick(child<QPushButton>(u"changeFolderButton"_s), Qt::LeftButton);
    settle();
    EXPECT_EQ(startedIn, XdgPaths::profilesDir());
    EXPECT_EQ(m_presented, QStringList{u"profileFolderDialog"_s});
    EXPECT_EQ(profiles().folder(), other);
    EXPECT_EQ(rowNames(), QStringList{u"Team"_s});
    EXPECT_EQ(child<QLabel>(u"folderPath"_s)->property("displayPath").toString(), u"~/Shared Profiles"_s);

    // Cancelling changes nothing.
    whenModal([](QWidget* dialog) { qobject_cast<QDialog*>(dialog)->reject(); });
    QTest::mouseClick(child<QPushButton>(u"changeFolderButton"_s), Qt::LeftButton);
    settle();
    EXPECT_EQ(profiles().folder(), other);
}

TEST_F(ProfilesPanelTest, FolderPathShortensTheHomeAndElidesAtTheHead)
{
    const QString home = XdgPaths::home();
    EXPECT_EQ(ProfilesPanel::displayPath(home + u"/Profiles"_s), u"~/Profiles"_s);
    EXPECT_EQ(ProfilesPanel::displayPath(home), u"~"_s);
    EXPECT_EQ(ProfilesPanel::displayPath(home + u"x/Profiles"_s), home + u"x/Profiles"_s);
    EXPECT_EQ(ProfilesPanel::displayPath(u"/srv/profiles"_s), u"/srv/profiles"_s);

    profiles().setFolder(home + u"/a/very/long/path/that/cannot/possibly/fit/into/a/narrow/panel/Profiles"_s);
    m_panel->resize(300, 360);
    settle();
    auto* label = child<QLabel>(u"folderPath"_s);
    EXPECT_TRUE(label->text().startsWith(u"…"_s)) << label->text().toStdString();
    EXPECT_TRUE(label->text().endsWith(u"Profiles"_s)) << label->text().toStdString();
    EXPECT_EQ(label->toolTip(), profiles().folder());
}

TEST_F(ProfilesPanelTest, ShowingThePanelRereadsTheFolder)
{
    m_panel->hide();
    QFile f(profiles().folder() + u"/Dropped In.json"_s);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.close();
    m_panel->show();
    settle();
    EXPECT_EQ(rowNames(), QStringList{u"Dropped In"_s});
}

} // namespace
