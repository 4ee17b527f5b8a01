#pragma once

#include "toolbar/ToolActions.h"

#include <QString>

#include <functional>
#include <memory>

namespace corvessa {

class LinkActions;
class Prefs;
class RecorderModel;

// What the menu builders read and call: the recorder model, the preferences
// (the hot-key bindings give the key texts), the tools, and the shell's own
// commands. An empty command does nothing; an empty query reads false. The
// pointers outlive the menus built from them. Main thread.
struct MenuContext {
    RecorderModel* model = nullptr;
    Prefs* prefs = nullptr;
    ToolActions tools;
    std::shared_ptr<LinkActions> links;

    std::function<bool()> barVisible;
    std::function<void()> toggleBar;
    // Opens the settings window on `pane` ("about"), or on the pane it last
    // showed for an empty name.
    std::function<void(const QString& pane)> showSettings;
    // The about pane on its built-in guide.
    std::function<void()> showGuide;
    // Ends the program; a running recording is asked about and saved first.
    std::function<void()> quit;
    // Asks whether to restart (true) or cancel (false) the running recording
    // and does it when confirmed; nothing when none runs or a question is up.
    std::function<void(bool restart)> confirmDiscard;

    bool isBarVisible() const { return barVisible && barVisible(); }
};

} // namespace corvessa
