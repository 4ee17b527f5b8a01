#pragma once

#include <QString>

#include <optional>

class QWidget;

namespace corvessa {

class Prefs;

// The question for the recordings folder: our own dialog rather than another
// program's, so it is placed and kept out of recordings, opening at the
// current folder. Stateless; main thread.
class FolderChooser {
public:
    FolderChooser() = delete;

    // The chosen folder, or nothing when the question is cancelled; it opens
    // at `prefs`' recordings folder.
    static std::optional<QString> ask(QWidget* parent, Prefs& prefs);
};

} // namespace corvessa
