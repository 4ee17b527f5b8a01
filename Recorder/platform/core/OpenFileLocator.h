#pragma once

#include "platform/core/WrittenFile.h"

#include <QString>

#include <optional>

namespace corvessa {

// Where a file this process still holds open is now. The user may rename it,
// or rename or move its folder, while it is written; the descriptor keeps
// writing to the same file, and the kernel knows its present name. Stateless;
// any thread.
class OpenFileLocator {
public:
    // The file `file` open as `fd` (or -1 when no descriptor is held): at its
    // own path if that still names it, else at the name the descriptor's entry
    // in `procFolder` gives, checked to name the very same file. None when the
    // file has no name left (removed, or replaced by another on its path).
    static std::optional<WrittenFile> locate(const WrittenFile& file, int fd,
                                             const QString& procFolder = QStringLiteral("/proc/self/fd"));
};

} // namespace corvessa
