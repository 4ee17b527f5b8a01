#pragma once

#include <QByteArray>
#include <QString>

#include <optional>

namespace corvessa {

// Keeps the folders the user chose (the recordings folder, the profiles folder)
// usable across launches. Each logical key has a bookmark in user defaults under
// the key followed by "Bookmark"; on this platform the bookmark is the folder's
// absolute path in UTF-8, and opening it means checking that it is an existing,
// writable directory. An opened folder is kept for the rest of the run, at most
// one per key. A bookmark whose folder is gone or no longer writable is deleted,
// so the folder shows as not configured and the user is asked again.
//
// Best effort: nothing here reports failures. Main thread only.
class SecurityScope {
public:
    SecurityScope() = delete;

    // The usable folder for the key, or none.
    static std::optional<QString> resolve(const QString& key);

    // The folder the key's bookmark names, usable or not; none without a
    // readable bookmark. Opens nothing and deletes nothing.
    static std::optional<QString> bookmarkedFolder(const QString& key);

    // Remembers a folder the user has just chosen and opens it. A folder that
    // cannot be used (not an absolute path to an existing, writable directory)
    // changes nothing: the previous bookmark and open folder stay. Returns whether
    // the new folder is now open.
    static bool save(const QString& folder, const QString& key);

    // The user-defaults key of a key's bookmark, e.g. "saveFolderBookmark".
    static QString bookmarkKey(const QString& key);

    // The bookmark data for a folder: its cleaned absolute path in UTF-8; none for
    // a folder that cannot be used.
    static std::optional<QByteArray> bookmarkData(const QString& folder);

    // Whether a path is an existing directory this process may create files in.
    static bool isUsableFolder(const QString& path);

private:
    static std::optional<QString> start(const QString& key, const QString& folder);
};

} // namespace corvessa
