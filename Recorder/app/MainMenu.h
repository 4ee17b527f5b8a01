#pragma once

#include <memory>

class QMenuBar;
class QWidget;

namespace corvessa {

class MenuBuilders;

// The program's menu bar on its own framed windows (the settings window):
// the application menu, "Edit", "Recording", "Window" and "Help", built by
// MenuBuilders and built again, in the new language, when the interface
// language changes. Main thread.
class MainMenu {
public:
    MainMenu() = delete;

    // Gives `window` the menu bar and returns it (owned by the window). A
    // QMainWindow takes it as its menu bar, a window with a layout as the
    // layout's menu bar; otherwise it sits at the window's top edge.
    static QMenuBar* install(QWidget* window, std::shared_ptr<const MenuBuilders> builders);
};

} // namespace corvessa
