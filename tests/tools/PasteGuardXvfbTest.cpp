// Pasting into each of our text fields while nobody owns the clipboard (the
// usual case on X11 once the copying program has quit): Ctrl+V, Shift+Insert
// and the middle button leave the field as it was and the program running.
// Without the guard the teleprompter's editor crashed inside Qt. The keys go
// through the X server, in a second run of the program on the private server.
#include "platform/GlobalHotKeys.h"
#include "platform/synthetic/SyntheticGlobalHotKeys.h"
#include "prefs/Prefs.h"
#include "prefs/ProfileStore.h"
#include "prefs/widgets/ProfilesPanel.h"
#include "support/DrivenTest.h"
#include "support/English.h"
#include "support/OnServerTest.h"
#include "support/TempHome.h"
#include "support/XvfbTest.h"
#include "tools/ProgramTools.h"

#include <QApplication>
#include <QWindow>
#include <QLineEdit>
#include <QPushButton>
#include <QTextEdit>
#include <QTimer>

#include <gtest/gtest.h>

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/extensions/XTest.h>
#include <X11/keysym.h>

namespace corvessa::test {
namespace {

class PasteGuardXvfbTest : public XvfbTest {};

TEST_F(PasteGuardXvfbTest, EveryTextFieldSurvivesAPasteOfNothing)
{
    runOnServer("PasteOnX.DISABLED_EveryField");
}

class PasteOnX : public OnServerTest {
protected:
    bool clipboardOwned()
    {
        const Atom clipboard = XInternAtom(m_x, "CLIPBOARD", False);
        return XGetSelectionOwner(m_x, clipboard) != None || XGetSelectionOwner(m_x, XA_PRIMARY) != None;
    }

    // Every way of pasting, into `field`; it keeps `text`.
    void pasteInto(QWidget* field, const std::function<QString()>& text)
    {
        const QString before = text();
        QWidget* window = field->window();
        ASSERT_TRUE(waitFor([&] { return window->windowHandle() && window->windowHandle()->isExposed(); }));
        window->activateWindow();
        field->setFocus();
        ASSERT_TRUE(waitFor([&] { return field->hasFocus() && QGuiApplication::focusWindow() == window->windowHandle(); }, 10000))
            << "the field never took the keyboard";
        chord({XK_Control_L, XK_v});
        chord({XK_Shift_L, XK_Insert});
        move(field->mapToGlobal(field->rect().center()));
        XTestFakeButtonEvent(m_x, 2, True, CurrentTime);
        XTestFakeButtonEvent(m_x, 2, False, CurrentTime);
        XFlush(m_x);
        spin(300); // a crash would have come by now
        EXPECT_EQ(text(), before);
    }

    TempHome m_home;
};

ON_SERVER_TEST_F(PasteOnX, EveryField)
{
    useEnglish();
    ASSERT_FALSE(clipboardOwned()) << "the test needs a clipboard nobody owns";

    // The teleprompter's script.
    ProgramTools tools({}, {}, {}, FloatingKit::platform([](QWindow*) {}));
    Teleprompter& t = tools.teleprompter();
    t.setText(QStringLiteral("Good evening."));
    tools.showTeleprompter();
    auto* script = t.panel()->findChild<QTextEdit*>(QStringLiteral("prompterText"));
    ASSERT_TRUE(script);
    pasteInto(script, [script] { return script->toPlainText(); });
    EXPECT_EQ(t.text(), QStringLiteral("Good evening."));
    tools.hideTeleprompter();

    // The name of a new profile, asked in a modal dialog.
    GlobalHotKeys::setCurrent(std::make_shared<SyntheticGlobalHotKeys>());
    Prefs::resetShared();
    ProfileStore::resetShared();
    ProfilesPanel profiles(ProfileStore::shared(), Prefs::shared());
    profiles.show();
    ASSERT_TRUE(waitFor([&] { return profiles.isVisible(); }));
    bool checked = false;
    QTimer::singleShot(0, [&] {
        if (!waitFor([] { return QApplication::activeModalWidget() != nullptr; }, 5000))
            return;
        QWidget* dialog = QApplication::activeModalWidget();
        auto* name = dialog->findChild<QLineEdit*>(QStringLiteral("nameField"));
        if (name) {
            pasteInto(name, [name] { return name->text(); });
            checked = true;
        }
        QMetaObject::invokeMethod(dialog, "reject", Qt::QueuedConnection);
    });
    profiles.findChild<QPushButton*>(QStringLiteral("saveAsNewButton"))->click();
    EXPECT_TRUE(checked) << "the name dialog did not come up";
}

} // namespace
} // namespace corvessa::test
