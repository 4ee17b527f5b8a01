#include "prefs/SecurityScope.h"

#include "platform/core/UserDefaults.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QStringDecoder>

#include <unistd.h>

namespace corvessa {

namespace {

// Key -> the folder opened for it in this run.
QHash<QString, QString>& openFolders()
{
    static QHash<QString, QString> folders;
    return folders;
}

// Stored bookmark data back to a path. None for anything that is not an absolute
// path in valid UTF-8; `stale` tells that the stored form is not the clean one.
std::optional<QString> decode(const QByteArray& data, bool& stale)
{
    if (data.isEmpty() || data.contains('\0'))
        return std::nullopt;
    QStringDecoder utf8(QStringDecoder::Utf8);
    const QString path = utf8(data);
    if (utf8.hasError() || !path.startsWith(QLatin1Char('/')))
        return std::nullopt;
    const QString clean = QDir::cleanPath(path);
    stale = clean != path;
    return clean;
}

} // namespace

QString SecurityScope::bookmarkKey(const QString& key)
{
    return key + QStringLiteral("Bookmark");
}

bool SecurityScope::isUsableFolder(const QString& path)
{
    // Only real absolute paths; Qt would also take ":/..." resource paths as absolute.
    if (!path.startsWith(QLatin1Char('/')) || !QFileInfo(path).isDir())
        return false;
    // access() asks the kernel, so ACLs, read-only mounts and root are all judged
    // as a later file creation would be.
    return ::access(QFile::encodeName(path).constData(), W_OK | X_OK) == 0;
}

std::optional<QByteArray> SecurityScope::bookmarkData(const QString& folder)
{
    if (!folder.startsWith(QLatin1Char('/')))
        return std::nullopt;
    const QString clean = QDir::cleanPath(folder);
    if (!isUsableFolder(clean))
        return std::nullopt;
    return clean.toUtf8();
}

std::optional<QString> SecurityScope::start(const QString& key, const QString& folder)
{
    auto& open = openFolders();
    open.remove(key);
    if (!isUsableFolder(folder))
        return std::nullopt;
    open.insert(key, folder);
    return folder;
}

std::optional<QString> SecurityScope::bookmarkedFolder(const QString& key)
{
    const auto data = UserDefaults::standard().data(bookmarkKey(key));
    bool stale = false;
    return data ? decode(*data, stale) : std::nullopt;
}

std::optional<QString> SecurityScope::resolve(const QString& key)
{
    UserDefaults& defaults = UserDefaults::standard();
    auto& open = openFolders();
    const QString storeKey = bookmarkKey(key);

    const auto data = defaults.data(storeKey);
    if (!data) {
        open.remove(key);
        return std::nullopt;
    }

    bool stale = false;
    const auto path = decode(*data, stale);
    if (!path) {
        // Unreadable bookmark: forget it so the folder is asked for again.
        defaults.remove(storeKey);
        open.remove(key);
        return std::nullopt;
    }

    // Already open for this very bookmark and still usable: keep it as it is.
    if (const auto it = open.constFind(key); it != open.constEnd() && it.value() == *path && isUsableFolder(*path))
        return *path;
    open.remove(key);

    if (!isUsableFolder(*path)) {
        // Gone or no longer writable: recordings could not be written there.
        defaults.remove(storeKey);
        return std::nullopt;
    }
    if (stale) {
        save(*path, key);
        const auto it = open.constFind(key);
        return it != open.constEnd() ? std::optional(it.value()) : std::nullopt;
    }
    return start(key, *path);
}

bool SecurityScope::save(const QString& folder, const QString& key)
{
    const auto data = bookmarkData(folder);
    if (!data)
        return false;
    UserDefaults::standard().setData(bookmarkKey(key), *data);
    openFolders().remove(key);
    bool stale = false;
    const auto resolved = decode(*data, stale);
    return start(key, resolved ? *resolved : QDir::cleanPath(folder)).has_value();
}

} // namespace corvessa
