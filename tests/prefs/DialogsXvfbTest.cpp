// The program's dialogs, shown for real on a private X server under
// openbox, in English and in German: the window manager takes each as a
// dialog, transient, and frames it without a title bar, so it offers neither
// a minimise nor a maximise button (openbox puts both on any titled dialog).
// Screenshots kept in $CORVESSA_TEST_ARTIFACTS.
#include "platform/DialogPlacement.h"
#include "platform/GlobalHotKeys.h"
#include "platform/PlatformLoader.h"
#include "platform/core/UserDefaults.h"
#include "platform/synthetic/SyntheticGlobalHotKeys.h"
#include "platform/widgets/DialogFrames.h"
#include "prefs/Loc.h"
#include "prefs/Prefs.h"
#include "prefs/ProfileStore.h"
#include "prefs/widgets/FolderChooser.h"
#include "prefs/widgets/ProfilesPanel.h"
#include "support/DrivenTest.h"
#include "support/OnServerTest.h"
#include "support/TempHome.h"
#include "support/XvfbTest.h"

#include <QApplication>
#include <QDialog>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>
#include <QWindow>

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>

namespace corvessa::test {
namespace {

class DialogsXvfb : public XvfbTest {};

TEST_F(DialogsXvfb, EveryDialogIsADialogWithoutMinimiseOrMaximise) { runOnServer("DialogsOnX.DISABLED_Framed"); }

class DialogsOnX : public OnServerTest {
protected:
    // What the window manager made of a dialog.
    struct Seen {
        std::vector<unsigned long> type, motif, allowed, extents;
        bool transient = false;
        bool fixedSize = false;
    };

    // Runs `open`, which shows a dialog modally; once the window manager has
    // taken it, reads what it made of it, keeps a screenshot and closes it.
    std::optional<Seen> inspect(const QString& shot, const std::function<void()>& open)
    {
        std::optional<Seen> seen;
        QTimer::singleShot(100, [&] {
            QWidget* dialog = nullptr;
            waitFor([&] {
                dialog = QApplication::activeModalWidget();
                return dialog && dialog->windowHandle() && dialog->windowHandle()->isExposed()
                    && !listProperty(m_x, Window(dialog->windowHandle()->winId()), "_NET_FRAME_EXTENTS", XA_CARDINAL)
                            .empty();
            }, 15000);
            if (!dialog)
                return;
            spin(200);
            // The native window of now: placing a dialog can make Qt renew it.
            const Window w = Window(dialog->windowHandle()->winId());
            Seen s;
            s.type = listProperty(m_x, w, "_NET_WM_WINDOW_TYPE", XA_ATOM);
            s.motif = listProperty(m_x, w, "_MOTIF_WM_HINTS", AnyPropertyType);
            s.allowed = listProperty(m_x, w, "_NET_WM_ALLOWED_ACTIONS", XA_ATOM);
            s.extents = listProperty(m_x, w, "_NET_FRAME_EXTENTS", XA_CARDINAL);
            Window parent = None;
            s.transient = XGetTransientForHint(m_x, w, &parent) != 0;
            s.fixedSize = dialog->minimumSize() == dialog->maximumSize();
            seen = s;
            screenshot(shot);
            QMetaObject::invokeMethod(dialog, "reject", Qt::QueuedConnection);
        });
        open();
        return seen;
    }

    void expectDialogFrame(const std::optional<Seen>& seen)
    {
        ASSERT_TRUE(seen) << "no dialog came up";
        EXPECT_TRUE(hasAtom(m_x, seen->type, "_NET_WM_WINDOW_TYPE_DIALOG"));
        EXPECT_TRUE(seen->transient);
        // Motif hints: flags, functions, decorations. Neither minimise (bit 3 of
        // the functions, 5 of the decorations) nor maximise (4; 6), nor a title
        // bar (decoration bit 3), where openbox puts both buttons on any dialog.
        ASSERT_GE(seen->motif.size(), 3u);
        EXPECT_EQ(seen->motif[1] & ((1ul << 3) | (1ul << 4)), 0ul) << "functions " << seen->motif[1];
        EXPECT_EQ(seen->motif[2] & ((1ul << 3) | (1ul << 5) | (1ul << 6)), 0ul) << "decorations " << seen->motif[2];
        EXPECT_NE(seen->motif[1] & (1ul << 5), 0ul) << "it can still be closed";
        // Left, right, top, bottom: the top is a border like the others, no title bar.
        ASSERT_EQ(seen->extents.size(), 4u);
        EXPECT_EQ(seen->extents[2], seen->extents[0]) << "a title bar " << seen->extents[2] << " px high";
        if (seen->fixedSize)
            EXPECT_FALSE(hasAtom(m_x, seen->allowed, "_NET_WM_ACTION_MAXIMIZE_HORZ")
                         || hasAtom(m_x, seen->allowed, "_NET_WM_ACTION_MAXIMIZE_VERT"));
    }

    TempHome home;
};

ON_SERVER_TEST_F(DialogsOnX, Framed)
{
    DialogPlacement::setWindowHints(PlatformLoader::loadWindowHints());
    DialogFrames::install();
    GlobalHotKeys::setCurrent(std::make_shared<SyntheticGlobalHotKeys>());
    Prefs::resetShared();
    ProfileStore::resetShared();
    Loc::setTableDirectory(QStringLiteral(":/lang"));
    for (const QString language : {QStringLiteral("en"), QStringLiteral("de")}) {
        SCOPED_TRACE(language.toStdString());
        ASSERT_TRUE(Loc::choose(language));
        const QString stem = QStringLiteral("dialog-") + language + QLatin1Char('-');

        {
            // The launch alert of a recovered recording, as the program makes it.
            SCOPED_TRACE("recovered");
            QMessageBox recovered(QMessageBox::Information, Loc::text(QStringLiteral("Your last recording was recovered")),
                                  QStringLiteral("Corvessa 2026-12-10 06.00.00.mov  (1:15)"));
            recovered.addButton(Loc::text(QStringLiteral("Show in Finder")), QMessageBox::AcceptRole);
            recovered.addButton(Loc::text(QStringLiteral("OK")), QMessageBox::AcceptRole);
            recovered.winId();
            DialogPlacement::present(recovered.windowHandle());
            expectDialogFrame(inspect(stem + QStringLiteral("recovered.png"), [&] { recovered.exec(); }));
            // With no title bar, the title heads the box.
            EXPECT_TRUE(recovered.text().contains(recovered.windowTitle())) << recovered.text().toStdString();
        }
        {
            SCOPED_TRACE("new profile");
            ProfilesPanel profiles(ProfileStore::shared(), Prefs::shared());
            profiles.show();
            ASSERT_TRUE(waitFor([&] { return profiles.isVisible(); }));
            expectDialogFrame(inspect(stem + QStringLiteral("new-profile.png"), [&] {
                profiles.findChild<QPushButton*>(QStringLiteral("saveAsNewButton"))->click();
            }));
        }
        {
            SCOPED_TRACE("folder");
            expectDialogFrame(inspect(stem + QStringLiteral("folder.png"),
                                      [&] { FolderChooser::ask(nullptr, Prefs::shared()); }));
        }
    }
    Loc::choose(QStringLiteral("en"));
}

} // namespace
} // namespace corvessa::test
