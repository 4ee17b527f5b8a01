#pragma once

#include <QClipboard>
#include <QObject>

class QWidget;

namespace corvessa {

// Keeps a text field from pasting nothing. On X11 the clipboard often has no
// owner (the program that copied has quit); Qt then hands the field clipboard
// data with no format at all, and Qt 6.4's text control crashes inserting it.
// The guard looks at the clipboard before the field does and drops a paste
// (the paste keys, or the middle button's selection paste) that would bring no
// data. Lives as a child of the field it guards. Main thread.
class PasteGuard : public QObject {
public:
    // Guards `field` (a line edit, a text edit, a plain text edit).
    static void install(QWidget* field);
    // Whether the clipboard (or the selection) has data a field could insert.
    static bool hasData(QClipboard::Mode mode);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    explicit PasteGuard(QWidget* field);
};

} // namespace corvessa
