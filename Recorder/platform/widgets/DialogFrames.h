#pragma once

#include <QObject>

namespace corvessa {

// Gives every dialog of the program (questions, message boxes, input and file
// dialogs, the settings window's own) the frame of a dialog as it is shown,
// before the window manager takes it: see DialogPlacement::frame. As that
// frame has no title bar, a message box shows its title as its heading and a
// file dialog above its contents.
// Watches the whole application once installed. Main thread.
class DialogFrames : public QObject {
public:
    // The object name of the label that heads a file dialog with its title.
    static constexpr const char* headingName = "dialogHeading";

    // Installs the watcher on the application, once; later calls do nothing.
    static void install();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    using QObject::QObject;
};

} // namespace corvessa
