// The recordings-folder question, shown in a dialog whose frame has no title
// bar: the question must be read inside the dialog, in every language.
#include "platform/widgets/DialogFrames.h"
#include "prefs/Loc.h"
#include "prefs/Prefs.h"
#include "prefs/widgets/FolderChooser.h"
#include "support/TempHome.h"

#include <QApplication>
#include <QFileDialog>
#include <QLabel>
#include <QTimer>

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <memory>

namespace corvessa::test {
namespace {

// Runs `look` on the modal dialog once it shows, then cancels it; fails
// rather than hangs when none comes up.
void whenShown(std::function<void(QWidget*)> look)
{
    auto tries = std::make_shared<int>(0);
    auto poll = std::make_shared<std::function<void()>>();
    *poll = [look, tries, poll] {
        if (QWidget* modal = QApplication::activeModalWidget(); modal && modal->isVisible() && *tries > 5) {
            look(modal);
            QMetaObject::invokeMethod(modal, "reject", Qt::QueuedConnection);
            return;
        }
        if (++*tries > 200) {
            ADD_FAILURE() << "no dialog came up";
            if (QWidget* modal = QApplication::activeModalWidget())
                QMetaObject::invokeMethod(modal, "reject", Qt::QueuedConnection);
            return;
        }
        QTimer::singleShot(10, *poll);
    };
    QTimer::singleShot(0, *poll);
}

TEST(FolderChooser, AsksItsQuestionInsideTheDialogInEveryLanguage)
{
    TempHome home;
    DialogFrames::install();
    Prefs::resetShared();
    Loc::setTableDirectory(QStringLiteral(":/lang"));
    for (const Loc::Lang& language : Loc::available()) {
        SCOPED_TRACE(language.code.toStdString());
        ASSERT_TRUE(Loc::choose(language.code));
        const QString question = Loc::text(QStringLiteral("Choose a folder to save your screen recordings"));
        bool seen = false;
        whenShown([&](QWidget* dialog) {
            ASSERT_TRUE(qobject_cast<QFileDialog*>(dialog));
            const QList<QLabel*> labels = dialog->findChildren<QLabel*>();
            for (const QLabel* label : labels) {
                if (label->text() != question || !label->isVisible())
                    continue;
                // Above the dialog's own parts ("Look in: …" and the rest).
                seen = std::all_of(labels.begin(), labels.end(), [&](const QLabel* other) {
                    return other == label || !other->isVisible() || other->y() >= label->geometry().bottom();
                });
            }
        });
        EXPECT_FALSE(FolderChooser::ask(nullptr, Prefs::shared()));
        EXPECT_TRUE(seen) << "the question is nowhere in the dialog";
    }
    Loc::choose(QStringLiteral("en"));
}

} // namespace
} // namespace corvessa::test
