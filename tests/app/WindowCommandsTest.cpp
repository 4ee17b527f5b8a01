#include "app/WindowCommands.h"

#include <QApplication>
#include <QClipboard>
#include <QMimeData>
#include <QTest>
#include <QTextEdit>

#include <gtest/gtest.h>

using namespace corvessa;

// Edit › Paste calls the focused field's paste() past its own key guard; with
// nothing on the clipboard Qt's text control would crash inserting it.
TEST(WindowCommands, PasteOfAnEmptyClipboardDoesNothing)
{
    QTextEdit field;
    field.setPlainText(QStringLiteral("script"));
    field.show();
    field.activateWindow();
    field.setFocus();
    ASSERT_TRUE(QTest::qWaitFor([&] { return QApplication::focusWidget() == &field; }, 5000));

    QApplication::clipboard()->setMimeData(new QMimeData);
    EXPECT_FALSE(WindowCommands::edit("paste"));
    EXPECT_EQ(field.toPlainText(), QStringLiteral("script"));

    QApplication::clipboard()->setText(QStringLiteral(" pasted"));
    field.moveCursor(QTextCursor::End);
    EXPECT_TRUE(WindowCommands::edit("paste"));
    EXPECT_EQ(field.toPlainText(), QStringLiteral("script pasted"));
    QApplication::clipboard()->clear();
}
