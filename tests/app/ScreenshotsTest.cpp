// Every row of the toolbar and every settings pane, drawn in English and in
// German and kept in $CORVESSA_TEST_ARTIFACTS for a reviewer, each checked for
// a one-line text its label cuts.
#include "support/Artifacts.h"
#include "support/ModelHarness.h"

#include "platform/synthetic/SyntheticGlobalHotKeys.h"
#include "prefs/HotKeyCenter.h"
#include "prefs/Loc.h"
#include "settings/SettingsFrameWindow.h"
#include "settings/SettingsPane.h"
#include "settings/SettingsWindow.h"
#include "toolbar/BarView.h"
#include "toolbar/ToolbarGrab.h"

#include <QApplication>
#include <QLabel>

namespace corvessa::test {
namespace {

class Screenshots : public ModelHarness {};

// One-line labels whose text is wider than the label.
QStringList cutLabels(QWidget& root)
{
    QStringList cut;
    for (QLabel* label : root.findChildren<QLabel*>()) {
        if (!label->isVisibleTo(&root) || label->wordWrap() || label->text().isEmpty() || label->text().contains('<')
            || label->text().contains('\n'))
            continue;
        if (label->fontMetrics().horizontalAdvance(label->text()) > label->contentsRect().width())
            cut << label->text();
    }
    return cut;
}

TEST_F(Screenshots, EveryBarRowAndSettingsPaneInEnglishAndGerman)
{
    make();
    HotKeyCenter center(std::make_shared<SyntheticGlobalHotKeys>());
    SettingsWindow::configure({model.get(), &center, nullptr, {}, {}, {}});
    BarView bar(*model, prefs(), {});
    const QString movie = home.file(QStringLiteral("movie.mov"));
    struct Row {
        const char* name;
        RecorderPhase phase;
        bool compact;
    };
    const std::vector<Row> rows{
        {"ready", RecorderPhase::ready(), false},
        {"countdown", RecorderPhase::countdown(3), false},
        {"recording", RecorderPhase::recording(), false},
        {"paused", RecorderPhase::paused(), false},
        {"compact", RecorderPhase::recording(), true},
        {"finishing", RecorderPhase::finishing(), false},
        {"saved", RecorderPhase::saved(movie), false},
        {"failed", RecorderPhase::failed(QStringLiteral("The disk is full.")), false},
    };
    Loc::setTableDirectory(QStringLiteral(":/lang"));
    for (const QString language : {QStringLiteral("en"), QStringLiteral("de")}) {
        SCOPED_TRACE(language.toStdString());
        ASSERT_TRUE(Loc::choose(language));
        QCoreApplication::processEvents();
        for (const Row& row : rows) {
            SCOPED_TRACE(row.name);
            prefs().setCompactRecordingBar(row.compact);
            model->setPhase(row.phase);
            bar.rebuild();
            const QImage shot = grabKept(bar, QStringLiteral("bar-") + language + QLatin1Char('-') + row.name);
            EXPECT_EQ(shot.size() / shot.devicePixelRatio(), bar.size());
            EXPECT_EQ(cutLabels(bar), QStringList());
        }
        model->setPhase(RecorderPhase::ready());
        for (SettingsPane pane : SettingsPanes::allCases) {
            SettingsWindow::show(pane);
            QCoreApplication::processEvents();
            SettingsFrameWindow* window = SettingsWindow::window();
            ASSERT_TRUE(window);
            EXPECT_EQ(window->windowTitle(), SettingsPanes::title(pane));
            const QImage shot = window->grab().toImage();
            EXPECT_FALSE(shot.isNull());
            if (const QString kept = Artifacts::path(QStringLiteral("settings-") + language + QLatin1Char('-')
                                                     + SettingsPanes::rawValue(pane) + QStringLiteral(".png"));
                !kept.isEmpty())
                shot.save(kept);
        }
    }
    SettingsWindow::discard();
    Loc::choose(QStringLiteral("en"));
}

} // namespace
} // namespace corvessa::test
