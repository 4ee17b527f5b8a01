#pragma once

#include <QUrl>

#include <functional>

class QMainWindow;
class QWindow;

namespace corvessa {

class HotKeyCenter;
class ProfileStore;
class RecorderModel;

// What the settings window works with besides the shared preferences. A null
// model leaves out what needs one (the capture-format rows); null hot keys and
// profiles mean the shared ones.
struct SettingsServices {
    RecorderModel* model = nullptr;
    HotKeyCenter* hotKeys = nullptr;
    ProfileStore* profiles = nullptr;
    // Puts a window of ours on the list that recordings leave out.
    std::function<void(QWindow*)> registerWindow;
    // Gives a new settings window the program's menu bar.
    std::function<void(QMainWindow*)> addMenuBar;
    // Opens a web or mail address; true when something took it. None: the desktop's.
    std::function<bool(const QUrl&)> openLink;
};

} // namespace corvessa
