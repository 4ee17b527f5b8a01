#include "prefs/widgets/FolderChooser.h"

#include "platform/DialogPlacement.h"
#include "prefs/Loc.h"
#include "prefs/Prefs.h"

#include <QFileDialog>

namespace corvessa {

std::optional<QString> FolderChooser::ask(QWidget* parent, Prefs& prefs)
{
    QFileDialog dialog(parent, Loc::text(QStringLiteral("Choose a folder to save your screen recordings")),
                       prefs.folderChooserStart());
    dialog.setFileMode(QFileDialog::Directory);
    dialog.setOption(QFileDialog::ShowDirsOnly);
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    dialog.setLabelText(QFileDialog::Accept, Loc::text(QStringLiteral("Choose")));
    dialog.winId();
    DialogPlacement::present(dialog.windowHandle());
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return std::nullopt;
    return dialog.selectedFiles().first();
}

} // namespace corvessa
