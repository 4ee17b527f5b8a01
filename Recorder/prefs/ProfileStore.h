#pragma once

#include <QJsonObject>
#include <QObject>
#include <QString>
#include <QStringList>

#include <optional>

namespace corvessa {

// Named profiles: copies of the user's transferable settings, one JSON file per
// profile, "<folder>/<name>.json":
//
//   {"app": "Recorder", "name": <name>, "settings": {...}, "version": 1}
//
// pretty-printed with sorted keys, UTF-8, written atomically. "settings" is
// Prefs::snapshot() plus, while the recorder model is registered, its
// "micGainDB", "sysGainDB", "muteSpeakers" and "systemAudio". Reading uses
// "settings" alone; "app", "version" and "name" are not checked. Only a regular
// file of at most 1 MiB is read.
//
// The store lists the folder, writes, loads, renames and deletes (to the Trash)
// profiles, and remembers the default profile ("defaultProfile", loaded at
// launch) and the active one ("activeProfile", last loaded, created or updated).
// Every status line for the user goes into message(), already translated.
// Every property change is announced by its own signal.
//
// Main thread only.
class ProfileStore : public QObject {
    Q_OBJECT
public:
    static inline const QString appName = QStringLiteral("Recorder");
    static constexpr int formatVersion = 1;
    static inline const QString folderKey = QStringLiteral("profilesFolder");
    static inline const QString defaultKey = QStringLiteral("defaultProfile");
    static inline const QString activeKey = QStringLiteral("activeProfile");
    static constexpr int maxNameLength = 60;

    static ProfileStore& shared();
    // Drops the shared instance and creates a new one from the current defaults
    // store. For tests that switch HOME; references to the old instance dangle.
    static void resetShared();

    ~ProfileStore() override;

    // Base names of the profile files, in the file manager's order
    // (case-insensitive, runs of digits compared as numbers).
    const QStringList& names() const { return m_names; }
    // The profiles folder.
    const QString& folder() const { return m_folder; }
    // The profile loaded at launch; every change is stored at once.
    const std::optional<QString>& defaultName() const { return m_defaultName; }
    void setDefaultName(const std::optional<QString>& name);
    // The profile in use; every change is stored at once.
    const std::optional<QString>& activeName() const { return m_activeName; }
    void setActiveName(const std::optional<QString>& name);
    // The last status or error line, already translated; none when there is none.
    const std::optional<QString>& message() const { return m_message; }
    void setMessage(const std::optional<QString>& message);

    // The usable form of a typed name, or none when it is refused. Separators
    // ("/", ":", "\") and control characters (line breaks, tabs and the rest)
    // each become "-", white space around the name goes, a name that is then
    // empty or starts with "." is refused, and at most 60 characters are kept.
    static std::optional<QString> clean(const QString& name);

    // The file of a profile name; none for a name that is not a plain file name
    // (empty, or holding "/" or a NUL), so no operation leaves the folder.
    std::optional<QString> filePath(const QString& name) const;

    // Re-reads the folder into names() (creating it when missing) and drops the
    // marks whose file has gone.
    void reload();
    // Writes the current settings into the profile's file, replacing it. On
    // failure the message says why and the old file stays as it was.
    bool write(const QString& name);
    // Makes a new profile from a typed name and makes it the active one. An
    // existing profile is never overwritten.
    void create(const QString& name);
    // Applies a profile. Refused while recording; a file that cannot be read, is
    // malformed or has no "settings" object changes nothing.
    // The model's values are applied only while it is idle. With rememberVideo,
    // the profile's screen and camera formats become the current devices'
    // remembered choices; without, the remembered choices win over the profile's.
    bool load(const QString& name, bool rememberVideo);
    // Renames a profile, its marks and the name inside the file. A refused or
    // unchanged new name does nothing.
    void rename(const QString& oldName, const QString& newName);
    // Moves a profile's file to the Trash; when that fails the file stays and the
    // message says so.
    void remove(const QString& name);
    // Switches to another profiles folder (profiles are neither moved nor copied).
    void setFolder(const QString& folder);
    // Loads the default profile, if it is still listed, leaving no message.
    void applyDefaultAtLaunch();

signals:
    void namesChanged();
    void folderChanged();
    void defaultNameChanged();
    void activeNameChanged();
    void messageChanged();

private:
    ProfileStore();

    // The "settings" object of a profile file.
    QJsonObject currentSettings() const;
    void setNames(const QStringList& names);

    QStringList m_names;
    QString m_folder;
    std::optional<QString> m_defaultName;
    std::optional<QString> m_activeName;
    std::optional<QString> m_message;
};

} // namespace corvessa
