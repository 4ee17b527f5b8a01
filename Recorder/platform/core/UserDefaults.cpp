#include "platform/core/UserDefaults.h"

#include "platform/core/RecorderLog.h"
#include "platform/core/RegularFile.h"
#include "platform/core/XdgPaths.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QSaveFile>

#include <cerrno>
#include <cmath>
#include <memory>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace corvessa {

namespace {

const QString kDataTag = QStringLiteral("$data");

bool isDataWrapper(const QJsonValue& v)
{
    if (!v.isObject())
        return false;
    const QJsonObject o = v.toObject();
    return o.size() == 1 && o.value(kDataTag).isString();
}

// What keeps the file at `path` from being replaced by a new one, in the
// system's words: the file itself when it is there (a file we may not write is
// not replaced), then the folder the new file is made in, or the nearest folder
// that is there when it has to be made. Empty when nothing is seen to stop it;
// a full disk shows only when writing.
QString whyNotWritable(const QString& path)
{
    QFileInfo info(path);
    if (info.exists()) {
        // The writer follows a link to the file it names.
        const QString target = info.canonicalFilePath();
        if (!target.isEmpty())
            info = QFileInfo(target);
        if (::faccessat(AT_FDCWD, QFile::encodeName(info.absoluteFilePath()).constData(), W_OK, AT_EACCESS) != 0)
            return qt_error_string(errno);
    }
    QString folder = info.absolutePath();
    struct stat st {};
    while (::stat(QFile::encodeName(folder).constData(), &st) != 0) {
        const QString parent = QFileInfo(folder).absolutePath();
        if (errno != ENOENT || parent == folder)
            return qt_error_string(errno);
        folder = parent;
    }
    if (!S_ISDIR(st.st_mode))
        return qt_error_string(ENOTDIR);
    if (::faccessat(AT_FDCWD, QFile::encodeName(folder).constData(), W_OK | X_OK, AT_EACCESS) != 0)
        return qt_error_string(errno);
    return {};
}

std::mutex& standardMutex()
{
    static std::mutex m;
    return m;
}

std::unique_ptr<UserDefaults>& standardSlot()
{
    static std::unique_ptr<UserDefaults> s;
    return s;
}

} // namespace

UserDefaults::UserDefaults(QString path, QObject* parent)
    : QObject(parent), m_path(std::move(path))
{
    std::lock_guard lock(m_mutex);
    loadLocked();
}

UserDefaults& UserDefaults::standard()
{
    std::lock_guard lock(standardMutex());
    auto& slot = standardSlot();
    if (!slot)
        slot = std::make_unique<UserDefaults>(XdgPaths::defaultsFile());
    return *slot;
}

void UserDefaults::reopenStandard()
{
    UserDefaults& s = standard();
    std::lock_guard lock(s.m_mutex);
    s.m_path = XdgPaths::defaultsFile();
    s.loadLocked();
}

QString UserDefaults::path() const
{
    std::lock_guard lock(m_mutex);
    return m_path;
}

void UserDefaults::reload()
{
    std::lock_guard lock(m_mutex);
    loadLocked();
}

void UserDefaults::loadLocked()
{
    m_values = QJsonObject();
    m_protected = false;
    m_writeFailure.reset();
    const RegularFile::Contents read = RegularFile::read(m_path, maximumFileBytes);
    if (read.status == RegularFile::Status::Missing) {
        checkWritableLocked();
        return;
    }
    if (read.status == RegularFile::Status::Unreadable) {
        setAsideLocked(QStringLiteral("cannot read it: ") + read.error);
        return;
    }
    if (read.status == RegularFile::Status::NotRegular || read.tooLarge) {
        setAsideLocked(read.error);
        return;
    }
    QJsonParseError err{};
    const QJsonDocument doc = QJsonDocument::fromJson(read.bytes, &err);
    if (err.error != QJsonParseError::NoError || !doc.isObject()) {
        setAsideLocked(err.error != QJsonParseError::NoError ? err.errorString() : QStringLiteral("not an object"));
        return;
    }
    m_values = doc.object();
    checkWritableLocked();
}

void UserDefaults::checkWritableLocked()
{
    const QString reason = whyNotWritable(m_path);
    if (reason.isEmpty())
        return;
    m_writeFailure = WriteFailure{m_path, reason};
    RecorderLog::write(QStringLiteral("[defaults] changes cannot be kept: cannot write %1: %2").arg(m_path, reason));
}

void UserDefaults::writeFailedLocked(const QString& error, const QString& reason)
{
    m_lastError = error;
    if (!m_writeFailure)
        m_writeFailure = WriteFailure{m_path, reason};
}

void UserDefaults::setAsideLocked(const QString& reason)
{
    // Never overwrite what we could not read: set it aside for the user.
    const QString aside = m_path + QStringLiteral(".corrupt-")
        + QDateTime::currentDateTimeUtc().toString(QStringLiteral("yyyyMMdd-HHmmss"));
    if (!QFile::rename(m_path, aside)) {
        // Its folder does not let it go: work from memory and leave it be.
        m_protected = true;
        m_lastError = QStringLiteral("%1 is not a valid settings file (%2) and cannot be moved aside; "
                                     "settings are kept in memory only")
                          .arg(m_path, reason);
        RecorderLog::write(QStringLiteral("[defaults] ") + m_lastError);
        return;
    }
    const QString error = QStringLiteral("%1 is not a valid settings file (%2); kept as %3").arg(m_path, reason, aside);
    RecorderLog::write(QStringLiteral("[defaults] ") + error);
    // Stored at once: the process that found it may end before anyone is told.
    m_values.insert(setAsideKey, aside);
    if (!saveLocked())
        RecorderLog::write(QStringLiteral("[defaults] ") + m_lastError);
    m_lastError = error;
}

std::optional<QString> UserDefaults::takeSetAside()
{
    const std::optional<QString> aside = string(setAsideKey);
    if (aside)
        remove(setAsideKey);
    return aside;
}

std::optional<QString> UserDefaults::stuckFile() const
{
    std::lock_guard lock(m_mutex);
    if (!m_protected)
        return std::nullopt;
    return m_path;
}

std::optional<UserDefaults::WriteFailure> UserDefaults::writeFailure() const
{
    std::lock_guard lock(m_mutex);
    return m_writeFailure;
}

bool UserDefaults::saveLocked()
{
    if (m_protected) {
        m_lastError = QStringLiteral("not writing over %1, which could not be read").arg(m_path);
        return false;
    }
    const QFileInfo info(m_path);
    if (!QDir().mkpath(info.absolutePath())) {
        const QString why = whyNotWritable(m_path);
        const QString reason = why.isEmpty() ? QStringLiteral("its folder cannot be made") : why;
        writeFailedLocked(QStringLiteral("cannot create %1: %2").arg(info.absolutePath(), reason), reason);
        return false;
    }
    QSaveFile f(m_path);
    if (!f.open(QIODevice::WriteOnly)) {
        // The system's own reason where it can be seen, rather than the writer's
        // words for a file it may not replace.
        const QString why = whyNotWritable(m_path);
        const QString reason = why.isEmpty() ? f.errorString() : why;
        writeFailedLocked(QStringLiteral("cannot write %1: %2").arg(m_path, reason), reason);
        return false;
    }
    const QByteArray bytes = QJsonDocument(m_values).toJson(QJsonDocument::Indented);
    if (f.write(bytes) != bytes.size() || !f.commit()) {
        const QString reason = f.errorString();
        writeFailedLocked(QStringLiteral("cannot write %1: %2").arg(m_path, reason), reason);
        return false;
    }
    m_lastError.clear();
    return true;
}

void UserDefaults::put(const QString& key, const QJsonValue& value)
{
    std::optional<WriteFailure> firstFailure;
    {
        std::lock_guard lock(m_mutex);
        if (value.isUndefined())
            m_values.remove(key);
        else
            m_values.insert(key, value);
        const bool knewFailure = m_writeFailure.has_value();
        if (!saveLocked()) {
            RecorderLog::write(QStringLiteral("[defaults] ") + m_lastError);
            if (!knewFailure)
                firstFailure = m_writeFailure;
        }
    }
    if (firstFailure)
        emit writeFailed(firstFailure->path, firstFailure->reason);
    emit valueChanged(key);
}

QString UserDefaults::lastError() const
{
    std::lock_guard lock(m_mutex);
    return m_lastError;
}

bool UserDefaults::contains(const QString& key) const
{
    std::lock_guard lock(m_mutex);
    return m_values.contains(key);
}

std::optional<QJsonValue> UserDefaults::object(const QString& key) const
{
    std::lock_guard lock(m_mutex);
    const auto it = m_values.constFind(key);
    if (it == m_values.constEnd())
        return std::nullopt;
    return it.value();
}

std::optional<bool> UserDefaults::boolValue(const QString& key) const
{
    const auto v = object(key);
    if (!v || !v->isBool())
        return std::nullopt;
    return v->toBool();
}

std::optional<qint64> UserDefaults::integer(const QString& key) const
{
    const auto v = object(key);
    if (!v || !v->isDouble())
        return std::nullopt;
    const QVariant var = v->toVariant();
    if (var.typeId() == QMetaType::LongLong || var.typeId() == QMetaType::Int)
        return var.toLongLong();
    const double d = v->toDouble();
    // An integral double within range reads as an integer; 2^63 itself does not fit.
    if (std::isfinite(d) && d == std::trunc(d) && std::fabs(d) < 9.2233720368547758e18)
        return qint64(d);
    return std::nullopt;
}

std::optional<double> UserDefaults::doubleValue(const QString& key) const
{
    const auto v = object(key);
    if (!v || !v->isDouble())
        return std::nullopt;
    return v->toDouble();
}

std::optional<QString> UserDefaults::string(const QString& key) const
{
    const auto v = object(key);
    if (!v || !v->isString())
        return std::nullopt;
    return v->toString();
}

std::optional<QByteArray> UserDefaults::data(const QString& key) const
{
    const auto v = object(key);
    if (!v || !isDataWrapper(*v))
        return std::nullopt;
    auto decoded = QByteArray::fromBase64Encoding(v->toObject().value(kDataTag).toString().toLatin1(),
                                                  QByteArray::AbortOnBase64DecodingErrors);
    if (!decoded)
        return std::nullopt;
    return *decoded;
}

std::optional<QJsonArray> UserDefaults::array(const QString& key) const
{
    const auto v = object(key);
    if (!v || !v->isArray())
        return std::nullopt;
    return v->toArray();
}

std::optional<QJsonObject> UserDefaults::dictionary(const QString& key) const
{
    const auto v = object(key);
    if (!v || !v->isObject() || isDataWrapper(*v))
        return std::nullopt;
    return v->toObject();
}

std::optional<QStringList> UserDefaults::stringArray(const QString& key) const
{
    const auto a = array(key);
    if (!a)
        return std::nullopt;
    QStringList out;
    for (const auto& e : *a) {
        if (!e.isString())
            return std::nullopt;
        out << e.toString();
    }
    return out;
}

void UserDefaults::setBool(const QString& key, bool value) { put(key, QJsonValue(value)); }
void UserDefaults::setInteger(const QString& key, qint64 value) { put(key, QJsonValue(value)); }
void UserDefaults::setDouble(const QString& key, double value)
{
    // JSON has no NaN or infinity; such a value is not stored.
    if (!std::isfinite(value)) {
        remove(key);
        return;
    }
    put(key, QJsonValue(value));
}
void UserDefaults::setString(const QString& key, const QString& value) { put(key, QJsonValue(value)); }
void UserDefaults::setData(const QString& key, const QByteArray& value)
{
    put(key, QJsonObject{{kDataTag, QString::fromLatin1(value.toBase64())}});
}
void UserDefaults::setArray(const QString& key, const QJsonArray& value) { put(key, value); }
void UserDefaults::setDictionary(const QString& key, const QJsonObject& value) { put(key, value); }
void UserDefaults::setStringArray(const QString& key, const QStringList& value)
{
    put(key, QJsonArray::fromStringList(value));
}
void UserDefaults::remove(const QString& key) { put(key, QJsonValue(QJsonValue::Undefined)); }

} // namespace corvessa
