#include "prefs/ProfileStore.h"

#include "platform/core/RegularFile.h"
#include "platform/core/UserDefaults.h"
#include "platform/core/XdgPaths.h"
#include "prefs/Loc.h"
#include "prefs/Prefs.h"
#include "prefs/RecorderModelServices.h"
#include "prefs/SecurityScope.h"

#include <QCollator>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QLocale>
#include <QSaveFile>
#include <QTextBoundaryFinder>

#include <algorithm>
#include <cmath>
#include <memory>

namespace corvessa {

namespace {

const QString kExtension = QStringLiteral("json");

// A profile is a few kilobytes; anything far larger is not one of ours, and
// reading it whole would only cost memory.
constexpr qint64 kMaxProfileBytes = 1 << 20;

// The gains a profile may set, in decibels.
constexpr double kMinGainDB = -48;
constexpr double kMaxGainDB = 12;

UserDefaults& store()
{
    return UserDefaults::standard();
}

std::unique_ptr<ProfileStore>& sharedSlot()
{
    static std::unique_ptr<ProfileStore> slot;
    return slot;
}

// Characters that must not reach a file name: path separators, the other
// platform's one (":"), and every control character (line breaks, tabs, NUL,
// escape sequences), plus the Unicode line and paragraph separators.
bool replacedInName(QChar c)
{
    return c == u'/' || c == u':' || c == u'\\' || c.category() == QChar::Other_Control
        || c.category() == QChar::Separator_Line || c.category() == QChar::Separator_Paragraph;
}

QByteArray serialized(const QJsonObject& object)
{
    // QJsonObject keeps its keys sorted, at every level.
    return QJsonDocument(object).toJson(QJsonDocument::Indented);
}

// Writes the whole file or nothing: the old content stays until the new one is
// complete on disk.
bool writeAtomically(const QString& path, const QByteArray& data, QString* error)
{
    QSaveFile file(path);
    if (file.open(QIODevice::WriteOnly) && file.write(data) == data.size() && file.commit())
        return true;
    if (error)
        *error = file.errorString();
    return false;
}

// The JSON object in a file, or none when it cannot be read or is not one. Only
// a regular file is read, without blocking: a FIFO or a device under a
// profile's name would otherwise stall or flood the program.
std::optional<QJsonObject> readObject(const QString& path)
{
    const RegularFile::Contents read = RegularFile::read(path, kMaxProfileBytes);
    if (read.status != RegularFile::Status::Open || read.tooLarge)
        return std::nullopt;
    QJsonParseError error{};
    const QJsonDocument doc = QJsonDocument::fromJson(read.bytes, &error);
    if (error.error != QJsonParseError::NoError || !doc.isObject())
        return std::nullopt;
    return doc.object();
}

std::optional<double> gain(const QJsonObject& settings, const QString& key)
{
    const QJsonValue v = settings.value(key);
    if (!v.isDouble() || std::isnan(v.toDouble()))
        return std::nullopt;
    return std::clamp(v.toDouble(), kMinGainDB, kMaxGainDB);
}

std::optional<bool> flag(const QJsonObject& settings, const QString& key)
{
    const QJsonValue v = settings.value(key);
    return v.isBool() ? std::optional(v.toBool()) : std::nullopt;
}

// Qt compares plainly under the C locale, ignoring numeric mode, so "Profile 10"
// would come before "Profile 2" in a bare environment; English ordering stands in.
QLocale collationLocale()
{
    const QLocale system;
    return system.language() == QLocale::C ? QLocale(QLocale::English, QLocale::UnitedStates) : system;
}

// Qt's trash falls back on the current working folder when it cannot set up the
// home trash, so the home trash is made sure of first (a profile folder on
// another volume may still use that volume's own trash).
bool homeTrashUsable()
{
    const QString data = XdgPaths::dataHome();
    QDir().mkpath(data);
    QDir(data).mkdir(QStringLiteral("Trash"));
    return QFileInfo(data + QStringLiteral("/Trash")).isDir();
}

QString invalidNameError()
{
    return Loc::text(QStringLiteral("Invalid file name"));
}

} // namespace

ProfileStore& ProfileStore::shared()
{
    auto& slot = sharedSlot();
    if (!slot)
        slot.reset(new ProfileStore());
    return *slot;
}

void ProfileStore::resetShared()
{
    sharedSlot().reset();
    shared();
}

ProfileStore::~ProfileStore() = default;

ProfileStore::ProfileStore()
{
    // The bookmarked folder first, then the plain path, then the default place.
    if (const auto bookmarked = SecurityScope::resolve(folderKey)) {
        m_folder = *bookmarked;
    } else if (const auto path = store().string(folderKey); path && !path->isEmpty()) {
        m_folder = QDir::cleanPath(QDir(XdgPaths::home()).absoluteFilePath(*path));
    } else {
        m_folder = XdgPaths::profilesDir();
    }
    m_defaultName = store().string(defaultKey);
    m_activeName = store().string(activeKey);
    reload();
}

// ---- Properties ----

void ProfileStore::setNames(const QStringList& names)
{
    m_names = names;
    emit namesChanged();
}

void ProfileStore::setDefaultName(const std::optional<QString>& name)
{
    m_defaultName = name;
    if (name)
        store().setString(defaultKey, *name);
    else
        store().remove(defaultKey);
    emit defaultNameChanged();
}

void ProfileStore::setActiveName(const std::optional<QString>& name)
{
    m_activeName = name;
    if (name)
        store().setString(activeKey, *name);
    else
        store().remove(activeKey);
    emit activeNameChanged();
}

void ProfileStore::setMessage(const std::optional<QString>& message)
{
    m_message = message;
    emit messageChanged();
}

// ---- Names and files ----

std::optional<QString> ProfileStore::clean(const QString& name)
{
    QString s;
    s.reserve(name.size());
    for (const QChar c : name)
        s += replacedInName(c) ? QChar(u'-') : c;
    s = s.trimmed();
    // A leading full stop would hide the file, and "." or ".." name folders.
    if (s.isEmpty() || s.startsWith(u'.'))
        return std::nullopt;

    // Count characters as the user sees them, so an accent or an emoji sequence
    // is never cut in half.
    QTextBoundaryFinder graphemes(QTextBoundaryFinder::Grapheme, s);
    int count = 0;
    for (qsizetype at = graphemes.toNextBoundary(); at != -1; at = graphemes.toNextBoundary()) {
        if (++count == maxNameLength)
            return s.left(at);
    }
    return s;
}

std::optional<QString> ProfileStore::filePath(const QString& name) const
{
    if (name.isEmpty() || name.contains(u'/') || name.contains(QChar(u'\0')))
        return std::nullopt;
    return m_folder + u'/' + name + u'.' + kExtension;
}

void ProfileStore::reload()
{
    QDir().mkpath(m_folder);

    // Sorted by plain name first, so names the collator holds equal keep a fixed
    // order across reloads.
    const QStringList entries =
        QDir(m_folder).entryList(QDir::Files | QDir::Hidden | QDir::NoDotAndDotDot, QDir::Name);
    QStringList names;
    for (const QString& entry : entries) {
        // "x.json" only: not ".json" (no base name), not "x.JSON".
        const qsizetype dot = entry.lastIndexOf(u'.');
        if (dot > 0 && QStringView(entry).mid(dot + 1) == kExtension)
            names.append(entry.left(dot));
    }
    QCollator collator{collationLocale()};
    collator.setCaseSensitivity(Qt::CaseInsensitive);
    collator.setNumericMode(true);
    std::stable_sort(names.begin(), names.end(),
                     [&](const QString& a, const QString& b) { return collator.compare(a, b) < 0; });
    setNames(names);

    if (m_defaultName && !m_names.contains(*m_defaultName))
        setDefaultName(std::nullopt);
    if (m_activeName && !m_names.contains(*m_activeName))
        setActiveName(std::nullopt);
}

QJsonObject ProfileStore::currentSettings() const
{
    QJsonObject settings = Prefs::shared().snapshot();
    if (const RecorderModelServices* model = RecorderModelServices::shared()) {
        settings.insert(QStringLiteral("micGainDB"), model->micGainDB());
        settings.insert(QStringLiteral("sysGainDB"), model->sysGainDB());
        settings.insert(QStringLiteral("muteSpeakers"), model->muteSpeakers());
        settings.insert(QStringLiteral("systemAudio"), model->systemAudio());
    }
    return settings;
}

// ---- Operations ----

bool ProfileStore::write(const QString& name)
{
    const auto path = filePath(name);
    QString error = invalidNameError();
    if (path) {
        const QJsonObject profile{
            {QStringLiteral("app"), appName},
            {QStringLiteral("version"), formatVersion},
            {QStringLiteral("name"), name},
            {QStringLiteral("settings"), currentSettings()},
        };
        QDir().mkpath(m_folder);
        if (writeAtomically(*path, serialized(profile), &error)) {
            reload();
            return true;
        }
    }
    setMessage(Loc::fill(Loc::text(QStringLiteral("Save failed: %@")), error));
    return false;
}

void ProfileStore::create(const QString& name)
{
    const auto cleaned = clean(name);
    if (!cleaned) {
        setMessage(Loc::text(QStringLiteral("The name can't be empty.")));
        return;
    }
    if (m_names.contains(*cleaned)) {
        setMessage(Loc::fill(
            Loc::text(QStringLiteral("You already have a profile named “%@”. Please choose a different name.")),
            *cleaned));
        return;
    }
    if (!write(*cleaned))
        return;
    setActiveName(*cleaned);
    setMessage(std::nullopt);
}

bool ProfileStore::load(const QString& name, bool rememberVideo)
{
    if (Prefs::shared().isRecording()) {
        setMessage(Loc::text(QStringLiteral("Can't switch profiles while recording. Finish recording first.")));
        return false;
    }

    // Everything is checked before anything is applied. Only "settings" is
    // read: "app", "version" and "name" are written for people, not checked.
    const auto path = filePath(name);
    const auto profile = path ? readObject(*path) : std::nullopt;
    if (!profile || !profile->value(QStringLiteral("settings")).isObject()) {
        setMessage(Loc::fill(Loc::text(QStringLiteral("Can't read “%@”. The file may be corrupted.")), name));
        return false;
    }
    const QJsonObject settings = profile->value(QStringLiteral("settings")).toObject();

    Prefs::shared().apply(settings);

    // The model's values only between recordings.
    if (RecorderModelServices* model = RecorderModelServices::shared(); model && model->isIdle()) {
        if (rememberVideo) {
            model->applyProfileVideoChoices();
        } else {
            model->restoreCameraChoice();
            model->restoreScreenChoice();
        }
        if (const auto v = gain(settings, QStringLiteral("micGainDB"))) {
            model->setMicGainDB(*v);
            model->gainChanged();
        }
        if (const auto v = gain(settings, QStringLiteral("sysGainDB"))) {
            model->setSysGainDB(*v);
            model->gainChanged();
        }
        if (const auto v = flag(settings, QStringLiteral("muteSpeakers")))
            model->setMuteSpeakers(*v);
        if (const auto v = flag(settings, QStringLiteral("systemAudio")))
            model->setSystemAudio(*v);
    }

    setActiveName(name);
    setMessage(Loc::fill(Loc::text(QStringLiteral("Loaded “%@”.")), name));
    return true;
}

void ProfileStore::rename(const QString& oldName, const QString& newName)
{
    const auto cleaned = clean(newName);
    if (!cleaned || *cleaned == oldName)
        return;
    if (m_names.contains(*cleaned)) {
        setMessage(Loc::fill(
            Loc::text(QStringLiteral("You already have a profile named “%@”. Please choose a different name.")),
            *cleaned));
        return;
    }

    const auto from = filePath(oldName);
    const auto to = filePath(*cleaned);
    QString error = invalidNameError();
    if (from && to) {
        QFile file(*from);
        // QFile::rename never replaces an existing file, listed or not.
        if (file.rename(*to))
            error.clear();
        else
            error = file.errorString();
    }
    if (!error.isEmpty()) {
        setMessage(Loc::fill(Loc::text(QStringLiteral("Rename failed: %@")), error));
        return;
    }

    // The name inside the file follows; if that fails the file keeps working
    // under its new file name.
    if (auto profile = readObject(*to)) {
        profile->insert(QStringLiteral("name"), *cleaned);
        writeAtomically(*to, serialized(*profile), nullptr);
    }

    if (m_defaultName == oldName)
        setDefaultName(*cleaned);
    if (m_activeName == oldName)
        setActiveName(*cleaned);
    reload();
    setMessage(std::nullopt);
}

void ProfileStore::remove(const QString& name)
{
    const auto path = filePath(name);
    QString error = invalidNameError();
    if (path && !homeTrashUsable()) {
        error = Loc::text(QStringLiteral("The Trash folder is not available."));
    } else if (path) {
        QFile file(*path);
        if (file.moveToTrash())
            error.clear();
        else
            error = file.errorString();
    }
    if (!error.isEmpty())
        setMessage(Loc::fill(Loc::text(QStringLiteral("Couldn't move “%@” to the Trash: %@")), name, error));
    reload();
}

void ProfileStore::setFolder(const QString& folder)
{
    if (folder.isEmpty())
        return;
    const QString path = QDir::cleanPath(QDir(XdgPaths::home()).absoluteFilePath(folder));
    // Created first, so a folder typed into the chooser can be bookmarked.
    QDir().mkpath(path);
    if (!SecurityScope::save(path, folderKey)) {
        // Without this the old bookmark would win over the new choice at the
        // next launch.
        store().remove(SecurityScope::bookmarkKey(folderKey));
    }
    m_folder = path;
    emit folderChanged();
    store().setString(folderKey, path);
    reload();
}

void ProfileStore::applyDefaultAtLaunch()
{
    if (!m_defaultName || !m_names.contains(*m_defaultName))
        return;
    load(*m_defaultName, false);
    setMessage(std::nullopt);
}

} // namespace corvessa
