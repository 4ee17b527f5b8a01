#include "platform/widgets/DialogFrames.h"

#include "platform/DialogPlacement.h"

#include <QApplication>
#include <QEvent>
#include <QFileDialog>
#include <QGridLayout>
#include <QLabel>
#include <QMessageBox>
#include <QPointer>
#include <QTimer>
#include <QWidget>
#include <QWindow>

#include <algorithm>
#include <vector>

namespace corvessa {

namespace {

// Our file dialogs (never the platform's) lay their parts out on a grid: the
// title goes above them all, on a row of its own across the whole width.
void addHeading(QFileDialog* dialog)
{
    auto* grid = qobject_cast<QGridLayout*>(dialog->layout());
    if (!grid || dialog->findChild<QLabel*>(QString::fromLatin1(DialogFrames::headingName)))
        return;
    struct Placed {
        QLayoutItem* item;
        int row, column, rowSpan, columnSpan;
    };
    std::vector<Placed> placed;
    while (grid->count() > 0) {
        Placed p{nullptr, 0, 0, 1, 1};
        grid->getItemPosition(0, &p.row, &p.column, &p.rowSpan, &p.columnSpan);
        p.item = grid->takeAt(0);
        placed.push_back(p);
    }
    int columns = 1;
    for (const Placed& p : placed)
        columns = std::max(columns, p.column + p.columnSpan);
    auto* heading = new QLabel(dialog->windowTitle(), dialog);
    heading->setObjectName(QString::fromLatin1(DialogFrames::headingName));
    heading->setTextFormat(Qt::PlainText);
    heading->setWordWrap(true);
    QFont bold = heading->font();
    bold.setBold(true);
    heading->setFont(bold);
    grid->addWidget(heading, 0, 0, 1, columns);
    // Made as the dialog shows, after it showed its children.
    heading->show();
    grid->activate();
    dialog->resize(dialog->size().expandedTo(dialog->sizeHint()));
    for (const Placed& p : placed)
        grid->addItem(p.item, p.row + 1, p.column, p.rowSpan, p.columnSpan);
}

} // namespace

void DialogFrames::install()
{
    static QPointer<DialogFrames> installed;
    if (!qApp || installed)
        return;
    installed = new DialogFrames(qApp);
    qApp->installEventFilter(installed);
}

bool DialogFrames::eventFilter(QObject* watched, QEvent* event)
{
    if (event->type() != QEvent::Show || !watched->isWidgetType())
        return false;
    auto* widget = static_cast<QWidget*>(watched);
    if (!widget->isWindow() || widget->windowType() != Qt::Dialog)
        return false;
    // A widget's show event comes after its native window is made and before
    // it is mapped: the frame is in place when the window manager first reads
    // it. Qt may still write its own frame hints while it shows a dialog whose
    // window was placed (and renewed) beforehand, so the frame is asked for
    // once more when the showing is over; window managers follow the change.
    DialogPlacement::frame(widget->windowHandle());
    // Without a title bar a message box says its title as its heading, its
    // text beneath (before the box lays itself out for showing).
    if (auto* box = qobject_cast<QMessageBox*>(widget); box && box->informativeText().isEmpty()
        && !box->windowTitle().isEmpty() && box->text() != box->windowTitle()) {
        box->setInformativeText(box->text());
        box->setText(QStringLiteral("<b>%1</b>").arg(box->windowTitle().toHtmlEscaped()));
    }
    // A file dialog says its title above its folders.
    if (auto* files = qobject_cast<QFileDialog*>(widget); files && !files->windowTitle().isEmpty()
        && files->testOption(QFileDialog::DontUseNativeDialog))
        addHeading(files);
    QTimer::singleShot(0, widget, [widget] {
        if (widget->isVisible())
            DialogPlacement::frame(widget->windowHandle());
    });
    return false;
}

} // namespace corvessa
