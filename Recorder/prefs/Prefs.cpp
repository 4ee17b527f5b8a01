#include "prefs/Prefs.h"

#include "platform/DisplayList.h"
#include "platform/core/UserDefaults.h"
#include "platform/core/XdgPaths.h"
#include "prefs/HotKeyBindings.h"
#include "prefs/HotKeyCenter.h"
#include "prefs/Loc.h"
#include "prefs/RecorderModelServices.h"
#include "prefs/SecurityScope.h"
#include "prefs/TeleprompterServices.h"
#include "prefs/VideoQuality.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
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

// Ints are 32 bits here; a stored 64-bit number saturates rather than wraps.
int saturated(qint64 v)
{
    return int(std::clamp<qint64>(v, std::numeric_limits<int>::min(), std::numeric_limits<int>::max()));
}

std::optional<int> storedInt(const QString& key)
{
    const auto v = store().integer(key);
    return v ? std::optional(saturated(*v)) : std::nullopt;
}

// The typed reads: 0, 0.0 or false when the key is absent or of another type.
int intRead(const QString& key) { return storedInt(key).value_or(0); }
double doubleRead(const QString& key) { return store().doubleValue(key).value_or(0.0); }
bool boolRead(const QString& key) { return store().boolValue(key).value_or(false); }

int storedIntOr(const QString& key, int fallback) { return storedInt(key).value_or(fallback); }
double storedDoubleOr(const QString& key, double fallback) { return store().doubleValue(key).value_or(fallback); }
bool storedBoolOr(const QString& key, bool fallback) { return store().boolValue(key).value_or(fallback); }

int keptIn(int v, int lo, int hi, int fallback) { return v >= lo && v <= hi ? v : fallback; }

// Negative (or not a number) gives 0, then at most `hi`.
double zeroTo(double v, double hi) { return std::isnan(v) || v < 0 ? 0 : std::min(v, hi); }

double clampedDouble(double v, double lo, double hi) { return std::isnan(v) ? lo : std::clamp(v, lo, hi); }

// The camera size for a camera resolution: 16:9 above 480, else 640 x 480.
QString cameraSizeForRes(int res)
{
    const VideoDimensions d = res > 480 ? VideoDimensions{int(qint64(res) * 16 / 9), res} : VideoDimensions{640, 480};
    return d.id();
}

void write(const QString& key, int v) { store().setInteger(key, v); }
void write(const QString& key, double v) { store().setDouble(key, v); }
void write(const QString& key, bool v) { store().setBool(key, v); }
void write(const QString& key, const QString& v) { store().setString(key, v); }

// ---- Reading a profile's settings: a value of the wrong type counts as absent ----

// An integer setting: any number, its fraction cut off, within [lo, hi].
std::optional<int> profileInt(const QJsonObject& settings, const QString& key, int lo, int hi)
{
    const QJsonValue v = settings.value(key);
    if (!v.isDouble())
        return std::nullopt;
    const double whole = std::trunc(v.toDouble());
    if (!(whole >= lo && whole <= hi)) // also refuses NaN
        return std::nullopt;
    return int(whole);
}

// A number setting, clamped into [lo, hi].
std::optional<double> profileDouble(const QJsonObject& settings, const QString& key, double lo, double hi)
{
    const QJsonValue v = settings.value(key);
    if (!v.isDouble() || std::isnan(v.toDouble()))
        return std::nullopt;
    return std::clamp(v.toDouble(), lo, hi);
}

std::optional<bool> profileBool(const QJsonObject& settings, const QString& key)
{
    const QJsonValue v = settings.value(key);
    return v.isBool() ? std::optional(v.toBool()) : std::nullopt;
}

// Profile sizes stay within what cameras deliver.
constexpr int kProfileCameraLongSide = 4096;
constexpr int kProfileCameraShortSide = 2160;

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
    if (const auto folder = SecurityScope::resolve(kSaveFolderKey)) {
        m_saveFolder = *folder;
    } else {
        m_saveFolder.clear();
        store().remove(kSaveFolderKey);
    }

    m_fps = keptIn(intRead(QStringLiteral("fps")), 1, 120, 30);

    // Older versions stored a two-step "quality": 1 was the high setting.
    if (const auto tier = storedInt(QStringLiteral("qualityTier")))
        m_qualityTier = *tier;
    else if (store().contains(QStringLiteral("quality")))
        m_qualityTier = intRead(QStringLiteral("quality")) == 1 ? 2 : 1;
    else
        m_qualityTier = 2;

    m_customMbps = clampedDouble(storedDoubleOr(QStringLiteral("customMbps"), VideoQuality::customDefaultMbps),
                                 VideoQuality::customMinMbps, VideoQuality::customMaxMbps);
    m_focusFrac = clampedDouble(storedDoubleOr(QStringLiteral("focusFrac2"), 0.29), 0.15, 0.7);
    m_showShortcutHints = storedBoolOr(QStringLiteral("showShortcutHints2"), true);
    m_focusMode = storedIntOr(QStringLiteral("focusMode"), 0) > 0 ? 1 : 0;
    m_focusLive = storedBoolOr(QStringLiteral("focusLive"), true);
    m_focusCrisp = storedBoolOr(QStringLiteral("focusCrisp"), false);
    m_focusSpeed = std::clamp(storedIntOr(QStringLiteral("focusSpeed"), 0), 0, 2);

    // Cursor art was renumbered once (layout 2): the former last style (6) moved
    // to the front. Theme 3 no longer exists and falls back to theme 1.
    const int theme = storedIntOr(QStringLiteral("cursorTheme"), 1);
    int art = storedIntOr(QStringLiteral("cursorArt"), 0);
    if (intRead(QStringLiteral("cursorArtLayout")) <= 1) {
        if (store().contains(QStringLiteral("cursorArt"))) {
            if (art < 6)
                art += 1;
            else if (art == 6)
                art = 0;
        }
        store().setInteger(QStringLiteral("cursorArtLayout"), 2);
        store().setInteger(QStringLiteral("cursorArt"), art);
    }
    m_cursorTheme = theme == 3 ? 1 : theme;
    m_cursorArt = theme == 3 ? 0 : art;

    m_cursorArrow = std::clamp(intRead(QStringLiteral("cursorArrow")), 0, 9);
    m_cursorSize = storedDoubleOr(QStringLiteral("cursorSize"), 1.0);
    m_cursorSizeSys = clampedDouble(storedDoubleOr(QStringLiteral("cursorSizeSys"), 3.0), 0.5, 5);
    m_shadowUp = zeroTo(storedDoubleOr(QStringLiteral("shadowUp"), 0.58), 1);
    m_shadowDown = zeroTo(storedDoubleOr(QStringLiteral("shadowDown"), 0.7), 1);
    m_outputSize = storedIntOr(QStringLiteral("outputShort"), 1080);
    m_cameraRes = keptIn(intRead(QStringLiteral("cameraRes")), 120, 2160, 720);

    const auto storedSize = store().string(QStringLiteral("cameraSizeID"));
    const auto parsedSize = storedSize ? VideoDimensions::fromId(*storedSize) : std::nullopt;
    m_cameraSizeID = parsedSize ? parsedSize->id() : cameraSizeForRes(m_cameraRes);

    m_cameraBurn = storedBoolOr(QStringLiteral("cameraBurn"), true);
    m_cameraMirrored = storedBoolOr(QStringLiteral("cameraMirrored"), false);
    m_cameraShape = std::clamp(storedIntOr(QStringLiteral("cameraShape"), 2), 0, 2);
    m_cameraRadius = zeroTo(storedDoubleOr(QStringLiteral("cameraRadius"), 0.12), 0.5);
    const double previewW = doubleRead(QStringLiteral("previewW"));
    m_cameraPreviewW = std::clamp(previewW < 120 || std::isnan(previewW) ? 250.0 : previewW, 120.0, 480.0);
    m_cameraFPS = keptIn(intRead(QStringLiteral("cameraFPS")), 1, 120, 15);
    const double frameRate = doubleRead(QStringLiteral("cameraFrameRate"));
    m_cameraFrameRate = std::isfinite(frameRate) && frameRate >= 0.1 && frameRate <= 120 ? frameRate : double(m_cameraFPS);

    m_countdown = storedBoolOr(QStringLiteral("countdown"), true);
    m_soundTick = storedBoolOr(QStringLiteral("soundTick"), true);
    m_soundStart = storedBoolOr(QStringLiteral("soundStart"), true);
    m_soundEnd = storedBoolOr(QStringLiteral("soundEnd"), true);
    m_soundPause = storedBoolOr(QStringLiteral("soundPause"), true);
    m_soundLaunch = storedBoolOr(QStringLiteral("soundLaunch"), true);
    m_compactRecordingBar = boolRead(QStringLiteral("compactRecordingBar"));
    m_penTool = std::clamp(storedIntOr(QStringLiteral("penTool"), 0), 0, 5);
    m_penWidth = clampedDouble(storedDoubleOr(QStringLiteral("penWidth"), 13), 2, 24);
    m_penColor = std::clamp(storedIntOr(QStringLiteral("penColor"), 0), 0, 11);

    m_bindings = HotKeyBindings::load(store());
}

// ---- Setters: publish, store as given, announce ----

template <typename T>
void Prefs::assign(T& member, const T& value, const QString& name, const QString& storeKey)
{
    member = value;
    write(storeKey, member);
    emit changed(name);
}

#define CORVESSA_PREFS_SETTER(Setter, member, Type, name, key)                          \
    void Prefs::Setter(Type value) { assign(member, value, QStringLiteral(name), QStringLiteral(key)); }

CORVESSA_PREFS_SETTER(setFps, m_fps, int, "fps", "fps")
CORVESSA_PREFS_SETTER(setQualityTier, m_qualityTier, int, "qualityTier", "qualityTier")
CORVESSA_PREFS_SETTER(setCustomMbps, m_customMbps, double, "customMbps", "customMbps")
CORVESSA_PREFS_SETTER(setOutputSize, m_outputSize, int, "outputSize", "outputShort")
CORVESSA_PREFS_SETTER(setCameraRes, m_cameraRes, int, "cameraRes", "cameraRes")
CORVESSA_PREFS_SETTER(setCameraFrameRate, m_cameraFrameRate, double, "cameraFrameRate", "cameraFrameRate")
CORVESSA_PREFS_SETTER(setCameraBurn, m_cameraBurn, bool, "cameraBurn", "cameraBurn")
CORVESSA_PREFS_SETTER(setCameraMirrored, m_cameraMirrored, bool, "cameraMirrored", "cameraMirrored")
CORVESSA_PREFS_SETTER(setCameraShape, m_cameraShape, int, "cameraShape", "cameraShape")
CORVESSA_PREFS_SETTER(setCameraRadius, m_cameraRadius, double, "cameraRadius", "cameraRadius")
CORVESSA_PREFS_SETTER(setCameraPreviewW, m_cameraPreviewW, double, "cameraPreviewW", "previewW")
CORVESSA_PREFS_SETTER(setCameraFPS, m_cameraFPS, int, "cameraFPS", "cameraFPS")
CORVESSA_PREFS_SETTER(setCursorArrow, m_cursorArrow, int, "cursorArrow", "cursorArrow")
CORVESSA_PREFS_SETTER(setCursorTheme, m_cursorTheme, int, "cursorTheme", "cursorTheme")
CORVESSA_PREFS_SETTER(setCursorArt, m_cursorArt, int, "cursorArt", "cursorArt")
CORVESSA_PREFS_SETTER(setShadowUp, m_shadowUp, double, "shadowUp", "shadowUp")
CORVESSA_PREFS_SETTER(setShadowDown, m_shadowDown, double, "shadowDown", "shadowDown")
CORVESSA_PREFS_SETTER(setCursorSizeSys, m_cursorSizeSys, double, "cursorSizeSys", "cursorSizeSys")
CORVESSA_PREFS_SETTER(setCursorSize, m_cursorSize, double, "cursorSize", "cursorSize")
CORVESSA_PREFS_SETTER(setFocusFrac, m_focusFrac, double, "focusFrac", "focusFrac2")
CORVESSA_PREFS_SETTER(setShowShortcutHints, m_showShortcutHints, bool, "showShortcutHints", "showShortcutHints2")
CORVESSA_PREFS_SETTER(setFocusMode, m_focusMode, int, "focusMode", "focusMode")
CORVESSA_PREFS_SETTER(setFocusLive, m_focusLive, bool, "focusLive", "focusLive")
CORVESSA_PREFS_SETTER(setFocusCrisp, m_focusCrisp, bool, "focusCrisp", "focusCrisp")
CORVESSA_PREFS_SETTER(setFocusSpeed, m_focusSpeed, int, "focusSpeed", "focusSpeed")
CORVESSA_PREFS_SETTER(setPenTool, m_penTool, int, "penTool", "penTool")
CORVESSA_PREFS_SETTER(setPenWidth, m_penWidth, double, "penWidth", "penWidth")
CORVESSA_PREFS_SETTER(setPenColor, m_penColor, int, "penColor", "penColor")
CORVESSA_PREFS_SETTER(setCountdown, m_countdown, bool, "countdown", "countdown")
CORVESSA_PREFS_SETTER(setSoundTick, m_soundTick, bool, "soundTick", "soundTick")
CORVESSA_PREFS_SETTER(setSoundStart, m_soundStart, bool, "soundStart", "soundStart")
CORVESSA_PREFS_SETTER(setSoundEnd, m_soundEnd, bool, "soundEnd", "soundEnd")
CORVESSA_PREFS_SETTER(setSoundPause, m_soundPause, bool, "soundPause", "soundPause")
CORVESSA_PREFS_SETTER(setSoundLaunch, m_soundLaunch, bool, "soundLaunch", "soundLaunch")
CORVESSA_PREFS_SETTER(setCompactRecordingBar, m_compactRecordingBar, bool, "compactRecordingBar", "compactRecordingBar")

#undef CORVESSA_PREFS_SETTER

void Prefs::setCameraSizeID(const QString& value)
{
    assign(m_cameraSizeID, value, QStringLiteral("cameraSizeID"), QStringLiteral("cameraSizeID"));
}

void Prefs::putSaveFolder(const QString& value)
{
    m_saveFolder = value;
    if (m_saveFolder.isEmpty())
        store().remove(kSaveFolderKey);
    else
        store().setString(kSaveFolderKey, m_saveFolder);
    emit changed(QStringLiteral("saveFolder"));
}

void Prefs::storeBindings()
{
    HotKeyBindings::save(store(), m_bindings);
    emit changed(QStringLiteral("bindings"));
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

void Prefs::setHotkeyMessage(const std::optional<QString>& value)
{
    m_hotkeyMessage = value;
    emit changed(QStringLiteral("hotkeyMessage"));
}

void Prefs::setIsRecording(bool value)
{
    m_isRecording = value;
    emit changed(QStringLiteral("isRecording"));
}

// ---- Profiles ----

QJsonObject Prefs::snapshot() const
{
    QJsonObject s;
    s.insert(QStringLiteral("fps"), m_fps);
    s.insert(QStringLiteral("qualityTier"), m_qualityTier);
    s.insert(QStringLiteral("customMbps"), m_customMbps);
    s.insert(QStringLiteral("outputSize"), m_outputSize);
    s.insert(QStringLiteral("countdown"), m_countdown);
    s.insert(QStringLiteral("cursorTheme"), m_cursorTheme);
    s.insert(QStringLiteral("cursorArt"), m_cursorArt);
    s.insert(QStringLiteral("cursorArrow"), m_cursorArrow);
    s.insert(QStringLiteral("cursorSize"), m_cursorSize);
    s.insert(QStringLiteral("cursorSizeSys"), m_cursorSizeSys);
    s.insert(QStringLiteral("shadowUp"), m_shadowUp);
    s.insert(QStringLiteral("shadowDown"), m_shadowDown);
    s.insert(QStringLiteral("focusFrac"), m_focusFrac);
    s.insert(QStringLiteral("focusLive"), m_focusLive);
    s.insert(QStringLiteral("focusCrisp"), m_focusCrisp);
    s.insert(QStringLiteral("focusSpeed"), m_focusSpeed);
    s.insert(QStringLiteral("focusMode"), m_focusMode);
    s.insert(QStringLiteral("penTool"), m_penTool);
    s.insert(QStringLiteral("penWidth"), m_penWidth);
    s.insert(QStringLiteral("penColor"), m_penColor);
    s.insert(QStringLiteral("cameraRes"), m_cameraRes);
    s.insert(QStringLiteral("cameraFPS"), m_cameraFPS);
    s.insert(QStringLiteral("cameraSizeID"), m_cameraSizeID);
    s.insert(QStringLiteral("cameraFrameRate"), m_cameraFrameRate);
    s.insert(QStringLiteral("cameraBurn"), m_cameraBurn);
    s.insert(QStringLiteral("cameraMirrored"), m_cameraMirrored);
    s.insert(QStringLiteral("cameraShape"), m_cameraShape);
    s.insert(QStringLiteral("cameraRadius"), m_cameraRadius);
    s.insert(QStringLiteral("cameraPreviewW"), m_cameraPreviewW);
    s.insert(QStringLiteral("soundTick"), m_soundTick);
    s.insert(QStringLiteral("soundStart"), m_soundStart);
    s.insert(QStringLiteral("soundEnd"), m_soundEnd);
    s.insert(QStringLiteral("compactRecordingBar"), m_compactRecordingBar);
    s.insert(QStringLiteral("prompterSpeed"), TeleprompterServices::currentSpeed());
    s.insert(QStringLiteral("prompterOpacity"), TeleprompterServices::currentOpacity());
    s.insert(QStringLiteral("prompterFont"), TeleprompterServices::currentFontSize());
    s.insert(HotKeyBindings::defaultsKey, HotKeyBindings::toJson(m_bindings));
    return s;
}

void Prefs::apply(const QJsonObject& settings)
{
    const auto integer = [&](const char* key, int lo, int hi) {
        return profileInt(settings, QString::fromLatin1(key), lo, hi);
    };
    const auto number = [&](const char* key, double lo, double hi) {
        return profileDouble(settings, QString::fromLatin1(key), lo, hi);
    };
    const auto flag = [&](const char* key) { return profileBool(settings, QString::fromLatin1(key)); };

    if (const auto v = integer("fps", 1, 120))
        setFps(*v);

    // Older profiles carry the two-step "quality" (0 or 1), taken as the tier.
    if (const auto v = integer("qualityTier", 0, 3))
        setQualityTier(*v);
    else if (const auto legacy = integer("quality", 0, 1))
        setQualityTier(*legacy);

    if (const auto v = number("customMbps", VideoQuality::customMinMbps, VideoQuality::customMaxMbps))
        setCustomMbps(*v);
    if (const auto v = integer("outputSize", 0, 4320); v && (*v == 0 || *v >= 120))
        setOutputSize(*v);
    if (const auto v = flag("countdown"))
        setCountdown(*v);
    if (const auto v = flag("soundTick"))
        setSoundTick(*v);
    if (const auto v = flag("soundStart"))
        setSoundStart(*v);
    if (const auto v = flag("soundEnd"))
        setSoundEnd(*v);
    if (const auto v = flag("compactRecordingBar"))
        setCompactRecordingBar(*v);

    if (const auto v = number("prompterSpeed", 10, 200))
        TeleprompterServices::assignSpeed(*v);
    if (const auto v = number("prompterOpacity", 0.3, 1))
        TeleprompterServices::assignOpacity(*v);
    if (const auto v = number("prompterFont", 14, 72))
        TeleprompterServices::assignFontSize(*v);

    if (const auto v = integer("cursorTheme", 0, 2))
        setCursorTheme(*v);
    if (const auto v = integer("cursorArt", 0, 8))
        setCursorArt(*v);
    if (const auto v = integer("cursorArrow", 0, 9))
        setCursorArrow(*v);
    if (const auto v = number("cursorSize", 0.5, 2))
        setCursorSize(*v);
    if (const auto v = number("cursorSizeSys", 0.5, 5))
        setCursorSizeSys(*v);
    if (const auto v = number("shadowUp", 0, 1))
        setShadowUp(*v);
    if (const auto v = number("shadowDown", 0, 1))
        setShadowDown(*v);
    if (const auto v = number("focusFrac", 0.15, 0.7))
        setFocusFrac(*v);
    if (const auto v = flag("focusLive"))
        setFocusLive(*v);
    if (const auto v = flag("focusCrisp"))
        setFocusCrisp(*v);
    if (const auto v = integer("focusSpeed", 0, 2))
        setFocusSpeed(*v);
    if (const auto v = integer("focusMode", 0, 1))
        setFocusMode(*v);
    if (const auto v = integer("penTool", 0, 5))
        setPenTool(*v);
    if (const auto v = number("penWidth", 2, 24))
        setPenWidth(*v);
    if (const auto v = integer("penColor", 0, 11))
        setPenColor(*v);

    // Size and resolution go together; an explicit size comes second and wins.
    if (const auto r = integer("cameraRes", 120, 2160)) {
        setCameraRes(*r);
        setCameraSizeID(cameraSizeForRes(*r));
    }
    if (const QJsonValue id = settings.value(QStringLiteral("cameraSizeID")); id.isString()) {
        const auto size = VideoDimensions::fromId(id.toString());
        if (size && size->longSide() <= kProfileCameraLongSide && size->shortSide() <= kProfileCameraShortSide) {
            // Stored exactly as given; the start-up read brings it to its plain form.
            setCameraSizeID(id.toString());
            setCameraRes(size->shortSide());
        }
    }
    // Fps and frame rate go together; the exact frame rate comes second and wins.
    if (const auto f = integer("cameraFPS", 1, 120)) {
        setCameraFPS(*f);
        setCameraFrameRate(double(*f));
    }
    if (const auto v = number("cameraFrameRate", 0.1, 120)) {
        setCameraFrameRate(*v);
        setCameraFPS(std::max(1, int(std::lround(*v))));
    }

    if (const auto v = flag("cameraBurn"))
        setCameraBurn(*v);
    if (const auto v = flag("cameraMirrored"))
        setCameraMirrored(*v);
    if (const auto v = integer("cameraShape", 0, 2))
        setCameraShape(*v);
    if (const auto v = number("cameraRadius", 0, 0.5))
        setCameraRadius(*v);
    if (const auto v = number("cameraPreviewW", 120, 480))
        setCameraPreviewW(*v);

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
    return m_outputSize >= 1 ? std::optional(m_outputSize) : std::nullopt;
}

int Prefs::engineFps() const
{
    return m_fps >= 1 && m_fps <= 120 ? m_fps : 30;
}

double Prefs::bitRateMbps() const
{
    return VideoQuality::mbps(m_qualityTier, m_customMbps);
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
        if (!m_saveFolder.isEmpty())
            putSaveFolder(QString());
        return false;
    }
    if (*folder != m_saveFolder)
        putSaveFolder(*folder);
    return true;
}

bool Prefs::setSaveFolder(const QString& folder)
{
    const bool saved = SecurityScope::save(folder, kSaveFolderKey);
    const auto resolved = SecurityScope::resolve(kSaveFolderKey);
    // Follow the bookmark, so an unusable choice never shows as the folder.
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
