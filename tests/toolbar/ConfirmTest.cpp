#include "toolbar/Confirm.h"

#include <QDialog>
#include <QPushButton>
#include <QTimer>
#include <QWindow>
#include <QtTest/QTest>

#include <gtest/gtest.h>

#include <functional>
#include <optional>

using namespace corvessa;

namespace {

// Asks, and while the dialog's loop runs does `act` to the open dialog. The
// answer; none when `act` left the question open (it is then aborted, so a
// broken dialog fails the test instead of hanging it).
std::optional<bool> askAnd(Confirm& confirm, std::function<void(QDialog*)> act)
{
    bool leftOpen = false;
    QTimer::singleShot(0, [&] {
        QDialog* d = confirm.dialog();
        ASSERT_TRUE(d);
        act(d);
        leftOpen = d->isVisible();
        confirm.abort();
    });
    const bool answer = confirm.ask(QStringLiteral("Stop?"), QStringLiteral("The movie is saved."),
                                    QStringLiteral("Stop"), QStringLiteral("Cancel"));
    return leftOpen ? std::nullopt : std::optional<bool>(answer);
}

QWidget* focused(QDialog* dialog)
{
    return dialog->focusWidget() ? dialog->focusWidget() : dialog;
}

} // namespace

TEST(Confirm, KeysNeverConfirmOnlyTheRedButtonDoes)
{
    Confirm confirm;
    struct Press {
        Qt::Key key;
        Qt::KeyboardModifiers modifiers;
        bool onRedButton;
    };
    // Return must not confirm even with the red button focused.
    const Press cancelling[] = {{Qt::Key_Return, Qt::NoModifier, false},  {Qt::Key_Enter, Qt::KeypadModifier, false},
                                {Qt::Key_Escape, Qt::NoModifier, false},  {Qt::Key_Return, Qt::ShiftModifier, false},
                                {Qt::Key_Return, Qt::NoModifier, true},   {Qt::Key_Enter, Qt::KeypadModifier, true}};
    for (const Press& p : cancelling) {
        const std::optional<bool> answer = askAnd(confirm, [&](QDialog* d) {
            if (p.onRedButton)
                confirm.okButton()->setFocus();
            QTest::keyClick(focused(d), p.key, p.modifiers);
        });
        EXPECT_EQ(answer, false) << "key " << p.key << " on red button " << p.onRedButton;
        EXPECT_FALSE(confirm.isShowing());
    }

    // Ctrl+Return is not a cancelling key: the question stays until the click.
    bool stayedOpen = false;
    EXPECT_EQ(askAnd(confirm, [&](QDialog* d) {
        confirm.okButton()->setFocus();
        QTest::keyClick(focused(d), Qt::Key_Return, Qt::ControlModifier);
        stayedOpen = confirm.isShowing() && d->isVisible();
        QTest::mouseClick(confirm.okButton(), Qt::LeftButton);
    }), true);
    EXPECT_TRUE(stayedOpen);

    // Space on the focused red button confirms, as any button press.
    EXPECT_EQ(askAnd(confirm, [&](QDialog*) {
        confirm.okButton()->setFocus();
        QTest::keyClick(confirm.okButton(), Qt::Key_Space);
    }), true);
}

TEST(Confirm, OneQuestionAtATimeAbortCancelsAndTheDialogIsRegistered)
{
    QList<QWindow*> registered;
    Confirm confirm([&](QWindow* w) { registered << w; });
    bool nested = true;
    bool cancelFocused = false, okOnTheRight = false, onTop = false;
    const std::optional<bool> answer = askAnd(confirm, [&](QDialog* d) {
        EXPECT_EQ(registered, QList<QWindow*>{d->windowHandle()});
        onTop = d->windowFlags() & Qt::WindowStaysOnTopHint;
        QPushButton* ok = confirm.okButton();
        cancelFocused = d->focusWidget() && d->focusWidget() != ok
                        && qobject_cast<QPushButton*>(d->focusWidget());
        okOnTheRight = true;
        for (QPushButton* b : d->findChildren<QPushButton*>())
            okOnTheRight = okOnTheRight && (b == ok || b->geometry().right() < ok->geometry().left());
        nested = confirm.ask(QStringLiteral("Quit?"), {}, QStringLiteral("Quit"), QStringLiteral("Cancel"));
        confirm.abort();
    });
    EXPECT_FALSE(nested) << "a second question while one is open";
    EXPECT_EQ(answer, false) << "abort cancels";
    EXPECT_FALSE(confirm.isShowing());
    EXPECT_TRUE(cancelFocused);
    EXPECT_TRUE(okOnTheRight);
    EXPECT_TRUE(onTop);
    EXPECT_EQ(registered.size(), 1) << "the refused question showed nothing";
}
