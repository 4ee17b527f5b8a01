#include "prefs/Prefs.h"

#include "platform/DisplayList.h"
#include "platform/core/UserDefaults.h"
#include "platform/core/XdgPaths.h"
#include "prefs/HotKeyBindings.h"
#include "prefs/HotKeyCenter.h"
#include "prefs/Loc.h"
#include "prefs/PrefsTable.h"
#include "prefs/RecorderModelServices.h"
#include "prefs/SecurityScope.h"
#include "prefs/VideoQuality.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QMetaEnum>
#include <QThread>

#include <algorithm>
#include <cmath>
#include <limits>
#include <memory>
#include <mutex>

namespace corvessa {

namespace {

const QString kSaveFolderKey = QStringLiteral("saveFolder");

// Used when no screen is known at all.
constexpr double kFallbackScreenWidth = 1728;
constexpr double kFallbackScreenHeight = 1080;

UserDefaults& store()
{
    return UserDefaults::standard();
}

std::mutex& sharedMutex()
{
    static std::mutex m;
    return m;
}

std::unique_ptr<Prefs>& sharedSlot()
{
    static std::unique_ptr<Prefs> slot;
    return slot;
}

} // namespace

Prefs& Prefs::shared()
{
    std::lock_guard lock(sharedMutex());
    auto& slot = sharedSlot();
    if (!slot) {
        slot.reset(new Prefs());
        // Observers live on the main thread, whichever thread asked first.
        if (QCoreApplication* app = QCoreApplication::instance(); app && slot->thread() != app->thread())
            slot->moveToThread(app->thread());
    }
    return *slot;
}

void Prefs::resetShared()
{
    std::unique_ptr<Prefs> old;
    {
        std::lock_guard lock(sharedMutex());
        old = std::move(sharedSlot());
    }
    old.reset();
    shared();
}

Prefs::~Prefs() = default;

Prefs::Prefs()
{
    // The recordings folder follows its bookmark; the plain key is only a mirror.
    // Resolving deletes a bookmark that cannot be used, so read its folder first.
    const auto bookmarked = SecurityScope::bookmarkedFolder(kSaveFolderKey);
    if (const auto folder = SecurityScope::resolve(kSaveFolderKey)) {
        m_saveFolder = *folder;
    } else {
        m_saveFolder.clear();
        m_unusableSaveFolder = bookmarked.value_or(QString());
        store().remove(kSaveFolderKey);
    }

    // In table order: a row may derive its value from those read before it.
    for (const PrefsTable::Row& row : PrefsTable::rows()) {
        if (row.key)
            m_values[size_t(*row.key)] = row.startValue(*this);
    }
    m_bindings = HotKeyBindings::load(store());
}

// ---- Setters: publish, store as given, announce ----

QString Prefs::name(Key key)
{
    return QString::fromLatin1(QMetaEnum::fromType<Key>().valueToKey(int(key)));
}

void Prefs::set(Key key, Value value)
{
    Value& slot = m_values.at(size_t(key));
    // Another type would break the typed accessors: a caller's mistake.
    Q_ASSERT(slot.index() == value.index());
    if (slot.index() != value.index())
        return;
    slot = std::move(value);
    PrefsTable::row(key).write(slot);
    emit changed(key);
}

void Prefs::putSaveFolder(const QString& value)
{
    m_saveFolder = value;
    if (m_saveFolder.isEmpty())
        store().remove(kSaveFolderKey);
    else
        store().setString(kSaveFolderKey, m_saveFolder);
    emit changed(Key::saveFolder);
}

void Prefs::storeBindings()
{
    HotKeyBindings::save(store(), m_bindings);
    emit changed(Key::bindings);
}

void Prefs::setBindings(const KeyBindingMap& value)
{
    m_bindings = value;
    storeBindings();
}

void Prefs::setBinding(HotKeyAction action, const KeyBinding& binding)
{
    m_bindings[action] = binding;
    storeBindings();
}

void Prefs::removeBinding(HotKeyAction action)
{
    m_bindings.erase(action);
    storeBindings();
}

std::optional<QString> Prefs::hotkeyMessage() const
{
    return m_hotkeyMessage ? std::optional(m_hotkeyMessage()) : std::nullopt;
}

void Prefs::setHotkeyMessage(std::function<QString()> wording)
{
    m_hotkeyMessage = std::move(wording);
    emit changed(Key::hotkeyMessage);
}

void Prefs::setHotkeyMessage(const std::optional<QString>& text)
{
    setHotkeyMessage(text ? std::function<QString()>([text = *text] { return text; }) : nullptr);
}

void Prefs::setIsRecording(bool value)
{
    m_isRecording = value;
    emit changed(Key::isRecording);
}

// ---- Profiles ----

QJsonObject Prefs::snapshot() const
{
    QJsonObject s;
    for (const PrefsTable::Row& row : PrefsTable::rows()) {
        if (row.inProfile)
            s.insert(row.name(), row.current(*this));
    }
    s.insert(HotKeyBindings::defaultsKey, HotKeyBindings::toJson(m_bindings));
    return s;
}

void Prefs::apply(const QJsonObject& settings)
{
    for (const PrefsTable::Row& row : PrefsTable::rows()) {
        if (!row.inProfile)
            continue;
        if (const auto v = row.profileValue(settings))
            row.assign(*this, *v);
    }

    // Shortcuts: a malformed object changes nothing; a well-formed one replaces
    // the bindings of the actions it names and keeps the others.
    if (const auto decoded = HotKeyBindings::fromJson(settings.value(HotKeyBindings::defaultsKey))) {
        KeyBindingMap merged = m_bindings;
        for (const auto& [action, binding] : *decoded) {
            // A global shortcut without command or control would swallow ordinary
            // typing everywhere; such an entry keeps the current binding.
            if (binding.modifiers & (KeyBinding::command | KeyBinding::control))
                merged[action] = binding;
        }
        setBindings(merged);
        HotKeyCenter::shared().apply(m_bindings);
    }
}

QString Prefs::shortcutsTakenMessage(const QStringList& titles)
{
    return Loc::text(QStringLiteral("These shortcuts are used by other apps:"))
        + titles.join(QStringLiteral("、"))
        + Loc::text(QStringLiteral(". Please change them in Settings."));
}

// ---- Derived values ----

std::optional<int> Prefs::maxShortSide() const
{
    return outputSize() >= 1 ? std::optional(outputSize()) : std::nullopt;
}

int Prefs::engineFps() const
{
    return fps() >= 1 && fps() <= 120 ? fps() : 30;
}

double Prefs::bitRateMbps() const
{
    return VideoQuality::mbps(qualityTier(), customMbps());
}

VideoDimensions Prefs::outputPixels(int shortSide)
{
    if (const RecorderModelServices* model = RecorderModelServices::shared()) {
        if (const auto caps = model->screenCapabilities())
            return caps->pixels(shortSide);
    }
    if (const auto displays = DisplayList::current()) {
        if (const auto main = displays->primary())
            return screenOutputPixels(main->frame.width() * main->scale, main->frame.height() * main->scale, shortSide);
    }
    return screenOutputPixels(kFallbackScreenWidth, kFallbackScreenHeight, shortSide);
}

VideoDimensions Prefs::screenOutputPixels(double w, double h, int shortSide)
{
    if (!(std::isfinite(w) && std::isfinite(h) && w > 0 && h > 0)) {
        w = kFallbackScreenWidth;
        h = kFallbackScreenHeight;
    }
    const double smaller = std::min(w, h);
    if (shortSide > 0 && smaller > shortSide) {
        // Multiply before dividing, so the short side comes out as exactly shortSide.
        w = w * shortSide / smaller;
        h = h * shortSide / smaller;
    }
    const auto even = [](double v) {
        const qint64 n = qint64(std::min(v, double(std::numeric_limits<int>::max())));
        return int(n / 2 * 2);
    };
    return {even(w), even(h)};
}

// ---- Recordings folder ----

bool Prefs::hasValidSaveFolder()
{
    const auto folder = SecurityScope::resolve(kSaveFolderKey);
    if (!folder) {
        if (!m_saveFolder.isEmpty()) {
            m_unusableSaveFolder = m_saveFolder;
            putSaveFolder(QString());
        }
        return false;
    }
    m_unusableSaveFolder.clear();
    if (*folder != m_saveFolder)
        putSaveFolder(*folder);
    return true;
}

bool Prefs::setSaveFolder(const QString& folder)
{
    const bool saved = SecurityScope::save(folder, kSaveFolderKey);
    const auto resolved = SecurityScope::resolve(kSaveFolderKey);
    // Follow the bookmark, so an unusable choice never shows as the folder.
    if (resolved)
        m_unusableSaveFolder.clear();
    putSaveFolder(resolved.value_or(QString()));
    return saved && resolved.has_value();
}

QString Prefs::saveFolderDisplay()
{
    if (hasValidSaveFolder()) {
        if (const auto folder = SecurityScope::resolve(kSaveFolderKey)) {
            const QString home = QDir::cleanPath(XdgPaths::home());
            // Whole folder names only: /home/al must not shorten /home/alice.
            if (home != QStringLiteral("/") && (*folder == home || folder->startsWith(home + QLatin1Char('/'))))
                return QStringLiteral("~") + folder->mid(home.size());
            return *folder;
        }
    }
    return Loc::text(QStringLiteral("Not Configured"));
}

QString Prefs::folderChooserStart()
{
    if (const auto folder = SecurityScope::resolve(kSaveFolderKey))
        return *folder;
    const QString videos = XdgPaths::videosDir();
    if (QFileInfo(videos).isDir())
        return videos;
    return XdgPaths::home();
}

} // namespace corvessa
