#include "prefs/PrefsTable.h"

#include "capture/VideoDimensions.h"
#include "platform/core/UserDefaults.h"
#include "prefs/TeleprompterServices.h"
#include "prefs/VideoQuality.h"

#include <QMetaEnum>

#include <algorithm>
#include <array>
#include <cmath>
#include <limits>
#include <vector>

namespace corvessa {

namespace {

using K = Prefs::Key;
using Read = PrefsTable::Read;
using Row = PrefsTable::Row;
using Value = Prefs::Value;

UserDefaults& store()
{
    return UserDefaults::standard();
}

// Ints are 32 bits here; a stored 64-bit number saturates rather than wraps.
std::optional<int> storedInt(const QString& key)
{
    const auto v = store().integer(key);
    if (!v)
        return std::nullopt;
    return int(std::clamp<qint64>(*v, std::numeric_limits<int>::min(), std::numeric_limits<int>::max()));
}

// ---- A profile's values: a value of the wrong type counts as absent ----

// An integer setting: any number, its fraction cut off, within [lo, hi].
std::optional<int> profileInt(const QJsonObject& settings, const QString& key, double lo, double hi)
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

// Profile camera sizes stay within what cameras deliver.
constexpr int kProfileCameraLongSide = 4096;
constexpr int kProfileCameraShortSide = 2160;

// ---- Migrations and derived values ----

// Older versions stored a two-step "quality": 1 was the high setting.
Value startQualityTier(const Prefs&)
{
    if (const auto tier = storedInt(QStringLiteral("qualityTier")))
        return *tier;
    if (store().contains(QStringLiteral("quality")))
        return storedInt(QStringLiteral("quality")).value_or(0) == 1 ? 2 : 1;
    return 2;
}

// Older profiles carry the two-step "quality" (0 or 1), taken as the tier.
std::optional<Value> profileQualityTier(const Row& row, const QJsonObject& settings)
{
    if (const auto tier = profileInt(settings, QStringLiteral("qualityTier"), row.lo, row.hi))
        return *tier;
    if (const auto legacy = profileInt(settings, QStringLiteral("quality"), 0, 1))
        return *legacy;
    return std::nullopt;
}

// 0 is native size; other sizes start at 120.
std::optional<Value> profileOutputSize(const Row& row, const QJsonObject& settings)
{
    const auto v = profileInt(settings, QStringLiteral("outputSize"), row.lo, row.hi);
    return v && (*v == 0 || *v >= 120) ? std::optional<Value>(*v) : std::nullopt;
}

int storedCursorTheme()
{
    return storedInt(QStringLiteral("cursorTheme")).value_or(1);
}

// Theme 3 no longer exists and falls back to theme 1 (the store keeps it).
Value startCursorTheme(const Prefs&)
{
    const int theme = storedCursorTheme();
    return theme == 3 ? 1 : theme;
}

// Cursor art was renumbered once (layout 2): the former last style (6) moved to
// the front. The renumbered art is written back, once.
Value startCursorArt(const Prefs&)
{
    int art = storedInt(QStringLiteral("cursorArt")).value_or(0);
    if (storedInt(QStringLiteral("cursorArtLayout")).value_or(0) <= 1) {
        if (store().contains(QStringLiteral("cursorArt"))) {
            if (art < 6)
                art += 1;
            else if (art == 6)
                art = 0;
        }
        store().setInteger(QStringLiteral("cursorArtLayout"), 2);
        store().setInteger(QStringLiteral("cursorArt"), art);
    }
    return storedCursorTheme() == 3 ? 0 : art;
}

// A stored size in its plain form, else the size for the camera resolution.
Value startCameraSizeID(const Prefs& soFar)
{
    const auto stored = store().string(QStringLiteral("cameraSizeID"));
    const auto parsed = stored ? VideoDimensions::fromId(*stored) : std::nullopt;
    return parsed ? parsed->id() : PrefsTable::cameraSizeForRes(soFar.cameraRes());
}

std::optional<Value> profileCameraSizeID(const Row&, const QJsonObject& settings)
{
    const QJsonValue id = settings.value(QStringLiteral("cameraSizeID"));
    if (!id.isString())
        return std::nullopt;
    const auto size = VideoDimensions::fromId(id.toString());
    if (!size || size->longSide() > kProfileCameraLongSide || size->shortSide() > kProfileCameraShortSide)
        return std::nullopt;
    // Stored exactly as given; the start-up read brings it to its plain form.
    return id.toString();
}

// A usable stored rate, else the camera's whole frame rate.
Value startCameraFrameRate(const Prefs& soFar)
{
    const double rate = store().doubleValue(QStringLiteral("cameraFrameRate")).value_or(0);
    return std::isfinite(rate) && rate >= 0.1 && rate <= 120 ? rate : double(soFar.cameraFPS());
}

Row prompter(const char* name, double def, double lo, double hi, double (*value)(), void (*assign)(double))
{
    return {.key = std::nullopt, .storeKey = name, .fallback = def, .lo = lo, .hi = hi, .outsideValue = value,
            .outsideAssign = assign};
}

// Doubles are written with a fraction (250.0), so the value has the setting's type.
const std::vector<Row>& table()
{
    static const std::vector<Row> rows{
        {.key = K::fps, .storeKey = "fps", .fallback = 30, .read = Read::inRange, .lo = 1, .hi = 120},
        {.key = K::qualityTier, .storeKey = "qualityTier", .fallback = 2, .read = Read::custom, .lo = 0, .hi = 3,
         .custom = startQualityTier, .customProfile = profileQualityTier},
        {.key = K::customMbps, .storeKey = "customMbps", .fallback = VideoQuality::customDefaultMbps,
         .read = Read::clamped, .lo = VideoQuality::customMinMbps, .hi = VideoQuality::customMaxMbps},
        // Kept as stored; a profile's size is 0 (native) or 120 and more.
        {.key = K::outputSize, .storeKey = "outputShort", .fallback = 1080, .lo = 0, .hi = 4320,
         .customProfile = profileOutputSize},
        {.key = K::countdown, .storeKey = "countdown", .fallback = true},
        {.key = K::soundTick, .storeKey = "soundTick", .fallback = true},
        {.key = K::soundStart, .storeKey = "soundStart", .fallback = true},
        {.key = K::soundEnd, .storeKey = "soundEnd", .fallback = true},
        {.key = K::compactRecordingBar, .storeKey = "compactRecordingBar", .fallback = false},
        prompter("prompterSpeed", TeleprompterServices::defaultSpeed, 10, 200, TeleprompterServices::currentSpeed,
                 TeleprompterServices::assignSpeed),
        prompter("prompterOpacity", TeleprompterServices::defaultOpacity, 0.3, 1,
                 TeleprompterServices::currentOpacity, TeleprompterServices::assignOpacity),
        prompter("prompterFont", TeleprompterServices::defaultFontSize, 14, 72,
                 TeleprompterServices::currentFontSize, TeleprompterServices::assignFontSize),
        {.key = K::cursorTheme, .storeKey = "cursorTheme", .fallback = 1, .read = Read::custom, .lo = 0, .hi = 2,
         .custom = startCursorTheme},
        {.key = K::cursorArt, .storeKey = "cursorArt", .fallback = 0, .read = Read::custom, .lo = 0, .hi = 8,
         .custom = startCursorArt},
        {.key = K::cursorArrow, .storeKey = "cursorArrow", .fallback = 0, .read = Read::clamped, .lo = 0, .hi = 9},
        // Clamped by a profile only.
        {.key = K::cursorSize, .storeKey = "cursorSize", .fallback = 1.0, .lo = 0.5, .hi = 2},
        {.key = K::cursorSizeSys, .storeKey = "cursorSizeSys", .fallback = 3.0, .read = Read::clamped, .lo = 0.5,
         .hi = 5},
        {.key = K::shadowUp, .storeKey = "shadowUp", .fallback = 0.58, .read = Read::clamped, .lo = 0, .hi = 1},
        {.key = K::shadowDown, .storeKey = "shadowDown", .fallback = 0.7, .read = Read::clamped, .lo = 0, .hi = 1},
        {.key = K::focusFrac, .storeKey = "focusFrac2", .fallback = 0.29, .read = Read::clamped, .lo = 0.15,
         .hi = 0.7},
        {.key = K::focusLive, .storeKey = "focusLive", .fallback = true},
        {.key = K::focusCrisp, .storeKey = "focusCrisp", .fallback = false},
        {.key = K::focusSpeed, .storeKey = "focusSpeed", .fallback = 0, .read = Read::clamped, .lo = 0, .hi = 2},
        // 0 follow the cursor, 1 selected region: any positive number reads as 1.
        {.key = K::focusMode, .storeKey = "focusMode", .fallback = 0, .read = Read::clamped, .lo = 0, .hi = 1},
        {.key = K::penTool, .storeKey = "penTool", .fallback = 0, .read = Read::clamped, .lo = 0, .hi = 5},
        {.key = K::penWidth, .storeKey = "penWidth", .fallback = 13.0, .read = Read::clamped, .lo = 2, .hi = 24},
        {.key = K::penColor, .storeKey = "penColor", .fallback = 0, .read = Read::clamped, .lo = 0, .hi = 11},
        // Size and resolution go together, as do fps and frame rate; of each pair
        // the exact value comes second and wins.
        {.key = K::cameraRes, .storeKey = "cameraRes", .fallback = 720, .read = Read::inRange, .lo = 120,
         .hi = 2160,
         .alongside = [](Prefs& p, const Value& v) {
             p.setCameraSizeID(PrefsTable::cameraSizeForRes(std::get<int>(v)));
         }},
        {.key = K::cameraSizeID, .storeKey = "cameraSizeID", .fallback = QStringLiteral("1280x720"),
         .read = Read::custom, .custom = startCameraSizeID, .customProfile = profileCameraSizeID,
         .alongside = [](Prefs& p, const Value& v) {
             p.setCameraRes(VideoDimensions::fromId(std::get<QString>(v))->shortSide());
         }},
        {.key = K::cameraFPS, .storeKey = "cameraFPS", .fallback = 15, .read = Read::inRange, .lo = 1, .hi = 120,
         .alongside = [](Prefs& p, const Value& v) { p.setCameraFrameRate(double(std::get<int>(v))); }},
        // Its default is the camera's whole frame rate.
        {.key = K::cameraFrameRate, .storeKey = "cameraFrameRate", .fallback = 15.0, .read = Read::custom,
         .lo = 0.1, .hi = 120, .custom = startCameraFrameRate,
         .alongside = [](Prefs& p, const Value& v) {
             p.setCameraFPS(std::max(1, int(std::lround(std::get<double>(v)))));
         }},
        {.key = K::cameraBurn, .storeKey = "cameraBurn", .fallback = true},
        {.key = K::cameraMirrored, .storeKey = "cameraMirrored", .fallback = false},
        {.key = K::cameraShape, .storeKey = "cameraShape", .fallback = 2, .read = Read::clamped, .lo = 0, .hi = 2},
        {.key = K::cameraRadius, .storeKey = "cameraRadius", .fallback = 0.12, .read = Read::clamped, .lo = 0,
         .hi = 0.5},
        {.key = K::cameraPreviewW, .storeKey = "previewW", .fallback = 250.0, .read = Read::atLeastLow, .lo = 120,
         .hi = 480},
        {.key = K::showShortcutHints, .storeKey = "showShortcutHints2", .fallback = true, .inProfile = false},
        {.key = K::soundPause, .storeKey = "soundPause", .fallback = true, .inProfile = false},
        {.key = K::soundLaunch, .storeKey = "soundLaunch", .fallback = true, .inProfile = false},
    };
    return rows;
}

} // namespace

std::span<const Row> PrefsTable::rows()
{
    return table();
}

const Row& PrefsTable::row(Key key)
{
    static const std::array<const Row*, Prefs::storedCount> byKey = [] {
        std::array<const Row*, Prefs::storedCount> index{};
        for (const Row& r : table()) {
            if (r.key)
                index[size_t(*r.key)] = &r;
        }
        return index;
    }();
    return *byKey.at(size_t(key));
}

QString PrefsTable::cameraSizeForRes(int res)
{
    const VideoDimensions d = res > 480 ? VideoDimensions{int(qint64(res) * 16 / 9), res} : VideoDimensions{640, 480};
    return d.id();
}

QString Row::name() const
{
    return key ? Prefs::name(*key) : QString::fromLatin1(storeKey);
}

std::optional<Value> Row::stored() const
{
    const QString k = QString::fromLatin1(storeKey);
    const auto as = [](const auto& v) { return v ? std::optional<Value>(*v) : std::nullopt; };
    if (std::holds_alternative<bool>(fallback))
        return as(store().boolValue(k));
    if (std::holds_alternative<int>(fallback))
        return as(storedInt(k));
    if (std::holds_alternative<QString>(fallback))
        return as(store().string(k));
    return as(store().doubleValue(k));
}

void Row::write(const Value& value) const
{
    const QString k = QString::fromLatin1(storeKey);
    if (const int* v = std::get_if<int>(&value))
        store().setInteger(k, *v);
    else if (const double* v = std::get_if<double>(&value))
        store().setDouble(k, *v);
    else if (const bool* v = std::get_if<bool>(&value))
        store().setBool(k, *v);
    else
        store().setString(k, std::get<QString>(value));
}

Value Row::startValue(const Prefs& soFar) const
{
    if (read == Read::custom)
        return custom(soFar);
    const Value v = stored().value_or(fallback);
    if (const int* whole = std::get_if<int>(&v)) {
        if (read == Read::clamped)
            return std::clamp(*whole, int(lo), int(hi));
        if (read == Read::inRange)
            return *whole >= lo && *whole <= hi ? v : fallback;
    } else if (const double* number = std::get_if<double>(&v)) {
        if (read == Read::clamped)
            return std::isnan(*number) ? lo : std::clamp(*number, lo, hi);
        if (read == Read::atLeastLow)
            return std::min(*number < lo || std::isnan(*number) ? std::get<double>(fallback) : *number, hi);
    }
    return v;
}

std::optional<Value> Row::profileValue(const QJsonObject& settings) const
{
    if (customProfile)
        return customProfile(*this, settings);
    const QString k = name();
    if (std::holds_alternative<bool>(fallback)) {
        const QJsonValue v = settings.value(k);
        return v.isBool() ? std::optional<Value>(v.toBool()) : std::nullopt;
    }
    if (std::holds_alternative<int>(fallback)) {
        const auto v = profileInt(settings, k, lo, hi);
        return v ? std::optional<Value>(*v) : std::nullopt;
    }
    const auto v = profileDouble(settings, k, lo, hi);
    return v ? std::optional<Value>(*v) : std::nullopt;
}

QJsonValue Row::current(const Prefs& prefs) const
{
    if (!key)
        return outsideValue();
    return std::visit([](const auto& v) { return QJsonValue(v); }, prefs.value(*key));
}

void Row::assign(Prefs& prefs, const Value& value) const
{
    if (!key) {
        outsideAssign(std::get<double>(value));
        return;
    }
    prefs.set(*key, value);
    if (alongside)
        alongside(prefs, value);
}

} // namespace corvessa
