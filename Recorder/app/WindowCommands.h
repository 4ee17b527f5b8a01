#pragma once

#include <QByteArray>

namespace corvessa {

// The main menu's window and edit commands, acting on the program's own
// windows: the active one, or the text field that has the focus. Main thread.
class WindowCommands {
public:
    WindowCommands() = delete;

    // Calls the focused widget's slot `method` ("undo", "copy", "selectAll")
    // when it has one; nothing otherwise.
    static bool edit(const QByteArray& method);
    static void minimize();
    // Maximises the active window, or brings a maximised one back.
    static void zoom();
    static void closeWindow();
    // Raises every visible window of ours that has a frame.
    static void bringAllToFront();
    // Minimises every visible window of ours that has a frame.
    static void hideAll();
};

} // namespace corvessa
