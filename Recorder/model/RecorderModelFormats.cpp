// The recorder model's target and capture formats: the range, the display,
// what the target offers, and the remembered choice per device.
#include "model/RecorderModel.h"

#include "capture/DecimalInteger.h"
#include "capture/VideoDevicePreferences.h"
#include "platform/DisplayList.h"
#include "platform/core/ScreenCoordinates.h"
#include "platform/core/UserDefaults.h"
#include "prefs/Prefs.h"

#include <algorithm>
#include <cmath>

namespace corvessa {

namespace {

const QString kMigratedKey = QStringLiteral("captureVideoChoicesMigrated.v1");

// Points to pixels: rounded, then down to even, at least 2.
int evenPixels(double points, double scale)
{
    const double px = std::round(points * (scale > 0 ? scale : 1));
    if (!std::isfinite(px) || px < 2)
        return 2;
    const int whole = px > 1e8 ? 100000000 : int(px);
    return std::max(2, whole - whole % 2);
}

} // namespace

// ---- Target ----

std::optional<DisplayInfo> RecorderModel::displayWithID(uint32_t id) const
{
    return m_deps.displays->display(id);
}

std::vector<RecorderModel::ScreenInfo> RecorderModel::screens() const
{
    std::vector<ScreenInfo> list;
    for (const DisplayInfo& d : m_deps.displays->displays())
        list.push_back({d.id, d.label.isEmpty() ? d.name : d.label});
    return list;
}

uint32_t RecorderModel::effectiveDisplayID() const
{
    const auto displays = m_deps.displays->displays();
    if (std::any_of(displays.begin(), displays.end(), [&](const DisplayInfo& d) { return d.id == m_displayID; }))
        return m_displayID;
    const auto primary = m_deps.displays->primary();
    return primary ? primary->id : 0;
}

bool RecorderModel::rangeReady() const
{
    switch (m_rangeMode) {
    case RangeMode::display:
        return true;
    case RangeMode::window:
        return m_windowPick.has_value();
    case RangeMode::area:
        return m_areaPick.has_value();
    }
    return false;
}

RecordingTarget RecorderModel::currentTarget() const
{
    switch (m_rangeMode) {
    case RangeMode::window:
        return RecordingTarget::window(m_windowPick ? m_windowPick->id : 0);
    case RangeMode::area:
        return m_areaPick ? RecordingTarget::area(m_areaPick->display, m_areaPick->rect)
                          : RecordingTarget::display(effectiveDisplayID());
    case RangeMode::display:
        break;
    }
    return RecordingTarget::display(effectiveDisplayID());
}

void RecorderModel::selectDisplay(uint32_t id)
{
    if (!m_phase.isIdle())
        return;
    publish(m_displayID, id, Field::displayID);
    m_deps.defaults->setInteger(QStringLiteral("displayID"), qint64(id));
    publish(m_rangeMode, RangeMode::display, Field::rangeMode);
    m_deps.defaults->setString(QStringLiteral("rangeMode"), rangeModeName(RangeMode::display));
    refreshScreenCapabilities(true);
}

QRectF RecorderModel::globalFrame(const WindowInfo& window) const
{
    const auto primary = m_deps.displays->primary();
    // Window frames count y down from the primary display's top.
    const double height = primary ? primary->frame.height() : 0;
    return QRectF(window.frame.x(), height - window.frame.bottom(), window.frame.width(), window.frame.height());
}

std::optional<DisplayInfo> RecorderModel::displayAt(const QPointF& point) const
{
    for (const DisplayInfo& d : m_deps.displays->displays()) {
        if (d.frame.contains(point))
            return d;
    }
    return std::nullopt;
}

std::optional<WindowInfo> RecorderModel::listedWindow(uint32_t id) const
{
    for (const WindowInfo& w : m_deps.tools->windowList()) {
        if (w.id == id)
            return w;
    }
    return std::nullopt;
}

std::optional<DisplayInfo> RecorderModel::countdownScreen() const
{
    std::optional<DisplayInfo> screen;
    if (m_rangeMode == RangeMode::window && m_windowPick) {
        if (const auto window = listedWindow(m_windowPick->id))
            screen = displayAt(globalFrame(*window).center());
    } else {
        const RecordingTarget target = currentTarget();
        screen = displayWithID(target.displayID);
    }
    return screen ? screen : m_deps.displays->primary();
}

void RecorderModel::chooseRange(RangeMode mode)
{
    if (!m_phase.isIdle())
        return;
    publish(m_rangeMode, mode, Field::rangeMode);
    m_deps.defaults->setString(QStringLiteral("rangeMode"), rangeModeName(mode));
    if (mode != RangeMode::display) {
        m_deps.tools->pickRange(mode, [self = std::weak_ptr<RecorderModel*>(m_self), mode](
                                          std::optional<ToolsFacade::Selection> selection) {
            const auto alive = self.lock();
            if (!alive || !selection)
                return;
            RecorderModel& model = **alive;
            if (!model.m_phase.isIdle())
                return;
            const bool isWindow = selection->kind == ToolsFacade::Selection::Kind::window;
            if (mode == RangeMode::window && isWindow) {
                model.publish(model.m_windowPick,
                              std::optional<WindowPick>(WindowPick{selection->id, selection->title, selection->size}),
                              Field::windowPick);
            } else if (mode == RangeMode::area && !isWindow) {
                model.publish(model.m_areaPick,
                              std::optional<AreaPick>(AreaPick{selection->display, selection->rect}),
                              Field::areaPick);
            } else {
                return;
            }
            model.refreshScreenCapabilities(true);
        });
    }
    refreshScreenCapabilities(true);
}

// ---- Capabilities ----

bool RecorderModel::canEditScreenFormat() const
{
    return m_phase.isIdle() && m_screenCapabilities.has_value();
}

bool RecorderModel::canEditCameraFormat() const
{
    return m_phase.isIdle() && m_cameraReady && m_cameraOn && m_cameraAuthorized && m_cameraCapabilities.has_value();
}

QString RecorderModel::screenKey(uint32_t display, RangeMode mode) const
{
    const auto info = displayWithID(display);
    const QString identity = info && !info->uuid.isEmpty() ? info->uuid : QString::number(display);
    return QStringLiteral("screen:") + identity + QLatin1Char(':') + rangeModeName(mode);
}

QString RecorderModel::cameraKey(const QString& cameraID)
{
    return QStringLiteral("camera:") + cameraID;
}

void RecorderModel::clearScreenCapabilities()
{
    publish(m_screenCapabilities, std::optional<ScreenVideoCapabilities>(), Field::screenCapabilities);
    m_screenPreferenceKey.reset();
}

void RecorderModel::refreshScreenCapabilities(bool force)
{
    if (!m_phase.isIdle())
        return;
    if (!m_screenAuthorized || !rangeReady()) {
        clearScreenCapabilities();
        return;
    }
    // A display that is no longer attached gives way to the primary one, as the
    // recording itself does.
    uint32_t display = effectiveDisplayID();
    std::optional<QSizeF> points; // none: the whole display
    if (m_rangeMode == RangeMode::window) {
        const auto window = listedWindow(m_windowPick->id);
        if (!window) {
            clearScreenCapabilities();
            return;
        }
        points = m_windowPick->size;
        if (const auto holder = displayAt(globalFrame(*window).center()))
            display = holder->id;
    } else if (m_rangeMode == RangeMode::area && m_areaPick) {
        display = m_areaPick->display;
        points = m_areaPick->rect.size();
    }
    const auto screen = displayWithID(display);
    if (!screen) {
        clearScreenCapabilities();
        return;
    }
    const QSizeF size = points.value_or(screen->frame.size());
    if (!(size.width() > 0) || !(size.height() > 0)) {
        clearScreenCapabilities();
        return;
    }
    ScreenVideoCapabilities capabilities = ScreenVideoCapabilities::forRegion(*screen, size);
    capabilities.size = {evenPixels(size.width(), screen->scale), evenPixels(size.height(), screen->scale)};
    const QString key = screenKey(display, m_rangeMode);
    const bool restore = force || key != m_screenPreferenceKey || m_screenCapabilities != capabilities;
    publish(m_screenCapabilities, std::optional<ScreenVideoCapabilities>(capabilities), Field::screenCapabilities);
    m_screenPreferenceKey = key;
    if (restore)
        restoreScreenChoice();
}

// ---- Remembered choices ----

void RecorderModel::restoreScreenChoice()
{
    if (!m_phase.isIdle() || !m_screenCapabilities || !m_screenPreferenceKey)
        return;
    applyScreen(m_screenCapabilities->normalized(m_deps.videoPreferences->choice(*m_screenPreferenceKey)));
}

void RecorderModel::applyScreen(const VideoDeviceChoice& choice)
{
    const auto side = parseDecimalInteger(choice.resolution);
    m_deps.prefs->setOutputSize(side && *side >= 0 && *side <= 100000 ? int(*side) : 0);
    m_deps.prefs->setFps(int(choice.frameRate));
}

void RecorderModel::setScreenSize(int shortSide)
{
    if (!m_phase.isIdle() || !m_screenCapabilities || !m_screenPreferenceKey)
        return;
    const auto offered = m_screenCapabilities->resolutions();
    if (std::find(offered.begin(), offered.end(), shortSide) == offered.end())
        return;
    const VideoDeviceChoice choice{QString::number(shortSide), double(m_deps.prefs->fps())};
    m_deps.videoPreferences->save(choice, *m_screenPreferenceKey);
    applyScreen(choice);
}

void RecorderModel::setScreenRate(int fps)
{
    if (!m_phase.isIdle() || !m_screenCapabilities || !m_screenPreferenceKey)
        return;
    const auto offered = m_screenCapabilities->frameRates();
    if (std::find(offered.begin(), offered.end(), fps) == offered.end())
        return;
    const VideoDeviceChoice choice{QString::number(m_deps.prefs->outputSize()), double(fps)};
    m_deps.videoPreferences->save(choice, *m_screenPreferenceKey);
    applyScreen(choice);
}

void RecorderModel::restoreCameraChoice()
{
    if (!m_phase.isIdle() || !m_cameraReady || !m_cameraCapabilities || !m_cameraID)
        return;
    const auto remembered = m_deps.videoPreferences->choice(cameraKey(*m_cameraID));
    const auto choice = m_cameraCapabilities->normalized(remembered, defaultCameraRate);
    if (choice && VideoDimensions::fromId(choice->resolution))
        applyCamera(*choice);
}

void RecorderModel::applyCamera(const VideoDeviceChoice& choice)
{
    const auto size = VideoDimensions::fromId(choice.resolution);
    if (!size)
        return;
    Prefs& prefs = *m_deps.prefs;
    prefs.setCameraSizeID(size->id());
    prefs.setCameraRes(size->shortSide());
    prefs.setCameraFrameRate(choice.frameRate);
    const long rounded = std::lround(choice.frameRate);
    prefs.setCameraFPS(rounded < 2 ? 1 : int(std::min(rounded, 120L)));
}

void RecorderModel::setCameraSize(const QString& sizeID)
{
    if (!canEditCameraFormat())
        return;
    const auto sizes = m_cameraCapabilities->sizes();
    const auto size = std::find_if(sizes.begin(), sizes.end(), [&](const VideoDimensions& d) { return d.id() == sizeID; });
    if (size == sizes.end() || !m_cameraID)
        return;
    const double rate = m_cameraCapabilities->preferredRate(*size, m_deps.prefs->cameraFrameRate()).value_or(defaultCameraRate);
    const VideoDeviceChoice choice{sizeID, rate};
    m_deps.videoPreferences->save(choice, cameraKey(*m_cameraID));
    applyCamera(choice);
}

void RecorderModel::setCameraRate(double rate)
{
    if (!canEditCameraFormat() || !m_cameraID)
        return;
    const auto size = VideoDimensions::fromId(m_deps.prefs->cameraSizeID());
    if (!size)
        return;
    const auto rates = m_cameraCapabilities->rates(*size);
    if (std::find(rates.begin(), rates.end(), rate) == rates.end())
        return;
    const VideoDeviceChoice choice{size->id(), rate};
    m_deps.videoPreferences->save(choice, cameraKey(*m_cameraID));
    applyCamera(choice);
}

void RecorderModel::applyProfileVideoChoices()
{
    if (!m_phase.isIdle())
        return;
    const Prefs& prefs = *m_deps.prefs;
    if (m_screenPreferenceKey && m_screenCapabilities) {
        const VideoDeviceChoice profile{QString::number(prefs.outputSize()), double(prefs.fps())};
        m_deps.videoPreferences->save(m_screenCapabilities->normalized(profile), *m_screenPreferenceKey);
        restoreScreenChoice();
    }
    if (m_cameraID) {
        m_deps.videoPreferences->save({prefs.cameraSizeID(), prefs.cameraFrameRate()}, cameraKey(*m_cameraID));
        restoreCameraChoice();
    }
}

void RecorderModel::migrateVideoChoices()
{
    const Prefs& prefs = *m_deps.prefs;
    const int outputSize = prefs.outputSize();
    const int fps = prefs.fps();
    refreshScreenCapabilities(false);
    UserDefaults& defaults = *m_deps.defaults;
    const auto storedCamera = defaults.string(QStringLiteral("cameraID"));
    const QString screenKeyNow = m_screenPreferenceKey.value_or(screenKey(effectiveDisplayID(), m_rangeMode));
    if (!defaults.boolValue(kMigratedKey).value_or(false)) {
        if (storedCamera)
            m_deps.videoPreferences->save({prefs.cameraSizeID(), prefs.cameraFrameRate()}, cameraKey(*storedCamera));
        m_deps.videoPreferences->save({QString::number(outputSize), double(fps)}, screenKeyNow);
        defaults.setBool(kMigratedKey, true);
    }
    refreshScreenCapabilities(true);
}

} // namespace corvessa
