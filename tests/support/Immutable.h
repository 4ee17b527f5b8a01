#pragma once

#include <QString>

namespace corvessa::test {

// Sets or clears a file's or folder's immutable flag (`chattr +i`), which stops
// root as well as any user; false where the file system or this process may
// not (only root may set it).
bool setImmutable(const QString& path, bool on);

} // namespace corvessa::test
