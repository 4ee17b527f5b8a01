#pragma once

#include <QString>

namespace corvessa {

// Where the program keeps its files, following the XDG base directories. Every
// path is computed from the environment at each call (HOME and the XDG_*
// variables), so tests can point the program at a temporary home.
class XdgPaths {
public:
    static QString home();
    static QString configHome();  // $XDG_CONFIG_HOME or ~/.config
    static QString dataHome();    // $XDG_DATA_HOME or ~/.local/share
    static QString stateHome();   // $XDG_STATE_HOME or ~/.local/state
    static QString videosDir();   // XDG_VIDEOS_DIR from user-dirs.dirs, else ~/Videos

    // The program's own files.
    static QString defaultsFile();  // <config>/Recorder/defaults.json
    static QString logDir();        // <state>/Recorder
    static QString logFile();       // <state>/Recorder/recorder.log
    static QString appSupportDir(); // <data>/Recorder
    static QString recoveryDir();   // <data>/Recorder/Recovery
    static QString profilesDir();   // <data>/Recorder/Profiles
};

} // namespace corvessa
