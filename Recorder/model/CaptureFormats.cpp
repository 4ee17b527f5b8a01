#include "model/CaptureFormats.h"

#include "capture/DecimalInteger.h"
#include "capture/VideoDevicePreferences.h"
#include "model/RecorderModel.h"
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

CaptureFormats::CaptureFormats(RecorderModel& model) : m_model(model) {}

bool CaptureFormats::canEditScreenFormat() const
{
    return m_model.phase().isIdle() && m_screenCapabilities.has_value();
}

bool CaptureFormats::canEditCameraFormat() const
{
    const RecorderModel& m = m_model;
    return m.phase().isIdle() && m.cameraReady() && m.cameraOn() && m.cameraAuthorized()
        && m.cameraCapabilities().has_value();
}

QString CaptureFormats::screenKey(uint32_t display, RangeMode mode) const
{
    const auto info = m_model.displayWithID(display);
    const QString identity = info && !info->uuid.isEmpty() ? info->uuid : QString::number(display);
    return QStringLiteral("screen:") + identity + QLatin1Char(':') + rangeModeName(mode);
}

QString CaptureFormats::cameraKey(const QString& cameraID)
{
    return QStringLiteral("camera:") + cameraID;
}

void CaptureFormats::clear()
{
    if (m_screenCapabilities) {
        m_screenCapabilities.reset();
        emit m_model.changed(RecorderModel::Field::screenCapabilities);
    }
    m_screenPreferenceKey.reset();
}

void CaptureFormats::refreshScreenCapabilities(bool force)
{
    const RecorderModel& m = m_model;
    if (!m.phase().isIdle())
        return;
    if (!m.screenAuthorized() || !m.rangeReady()) {
        clear();
        return;
    }
    // A display that is no longer attached gives way to the primary one, as the
    // recording itself does.
    uint32_t display = m.effectiveDisplayID();
    std::optional<QSizeF> points; // none: the whole display
    if (m.rangeMode() == RangeMode::window) {
        const auto window = m.listedWindow(m.windowPick()->id);
        if (!window) {
            clear();
            return;
        }
        points = m.windowPick()->size;
        if (const auto holder = m.displayAt(m.globalFrame(*window).center()))
            display = holder->id;
    } else if (m.rangeMode() == RangeMode::area && m.areaPick()) {
        display = m.areaPick()->display;
        points = m.areaPick()->rect.size();
    }
    const auto screen = m.displayWithID(display);
    if (!screen) {
        clear();
        return;
    }
    const QSizeF size = points.value_or(screen->frame.size());
    if (!(size.width() > 0) || !(size.height() > 0)) {
        clear();
        return;
    }
    ScreenVideoCapabilities capabilities = ScreenVideoCapabilities::forRegion(*screen, size);
    capabilities.size = {evenPixels(size.width(), screen->scale), evenPixels(size.height(), screen->scale)};
    const QString key = screenKey(display, m.rangeMode());
    const bool restore = force || key != m_screenPreferenceKey || m_screenCapabilities != capabilities;
    if (m_screenCapabilities != capabilities) {
        m_screenCapabilities = capabilities;
        emit m_model.changed(RecorderModel::Field::screenCapabilities);
    }
    m_screenPreferenceKey = key;
    if (restore)
        restoreScreenChoice();
}

// ---- Remembered choices ----

void CaptureFormats::restoreScreenChoice()
{
    if (!screenChoiceOpen())
        return;
    applyScreen(m_screenCapabilities->normalized(m_model.m_deps.videoPreferences->choice(*m_screenPreferenceKey)));
}

void CaptureFormats::applyScreen(const VideoDeviceChoice& choice)
{
    const auto side = parseDecimalInteger(choice.resolution);
    Prefs& prefs = *m_model.m_deps.prefs;
    prefs.setOutputSize(side && *side >= 0 && *side <= 100000 ? int(*side) : 0);
    prefs.setFps(int(choice.frameRate));
}

bool CaptureFormats::screenChoiceOpen() const
{
    return m_model.phase().isIdle() && m_screenCapabilities && m_screenPreferenceKey;
}

void CaptureFormats::chooseScreen(const std::vector<int>& offered, int value, const VideoDeviceChoice& choice)
{
    if (std::find(offered.begin(), offered.end(), value) == offered.end())
        return;
    m_model.m_deps.videoPreferences->save(choice, *m_screenPreferenceKey);
    applyScreen(choice);
}

void CaptureFormats::setScreenSize(int shortSide)
{
    if (screenChoiceOpen())
        chooseScreen(m_screenCapabilities->resolutions(), shortSide,
                     {QString::number(shortSide), double(m_model.m_deps.prefs->fps())});
}

void CaptureFormats::setScreenRate(int fps)
{
    if (screenChoiceOpen())
        chooseScreen(m_screenCapabilities->frameRates(), fps,
                     {QString::number(m_model.m_deps.prefs->outputSize()), double(fps)});
}

void CaptureFormats::restoreCameraChoice()
{
    const RecorderModel& m = m_model;
    if (!m.phase().isIdle() || !m.cameraReady() || !m.cameraCapabilities() || !m.cameraID())
        return;
    const auto remembered = m.m_deps.videoPreferences->choice(cameraKey(*m.cameraID()));
    const auto choice = m.cameraCapabilities()->normalized(remembered, RecorderModel::defaultCameraRate);
    if (choice && VideoDimensions::fromId(choice->resolution))
        applyCamera(*choice);
}

void CaptureFormats::applyCamera(const VideoDeviceChoice& choice)
{
    const auto size = VideoDimensions::fromId(choice.resolution);
    if (!size)
        return;
    Prefs& prefs = *m_model.m_deps.prefs;
    prefs.setCameraSizeID(size->id());
    prefs.setCameraRes(size->shortSide());
    prefs.setCameraFrameRate(choice.frameRate);
    const long rounded = std::lround(choice.frameRate);
    prefs.setCameraFPS(rounded < 2 ? 1 : int(std::min(rounded, 120L)));
}

void CaptureFormats::setCameraSize(const QString& sizeID)
{
    if (!canEditCameraFormat())
        return;
    const RecorderModel& m = m_model;
    const auto sizes = m.cameraCapabilities()->sizes();
    const auto size = std::find_if(sizes.begin(), sizes.end(), [&](const VideoDimensions& d) { return d.id() == sizeID; });
    if (size == sizes.end() || !m.cameraID())
        return;
    const double rate = m.cameraCapabilities()
                            ->preferredRate(*size, m.m_deps.prefs->cameraFrameRate())
                            .value_or(RecorderModel::defaultCameraRate);
    const VideoDeviceChoice choice{sizeID, rate};
    m.m_deps.videoPreferences->save(choice, cameraKey(*m.cameraID()));
    applyCamera(choice);
}

void CaptureFormats::setCameraRate(double rate)
{
    const RecorderModel& m = m_model;
    if (!canEditCameraFormat() || !m.cameraID())
        return;
    const auto size = VideoDimensions::fromId(m.m_deps.prefs->cameraSizeID());
    if (!size)
        return;
    const auto rates = m.cameraCapabilities()->rates(*size);
    if (std::find(rates.begin(), rates.end(), rate) == rates.end())
        return;
    const VideoDeviceChoice choice{size->id(), rate};
    m.m_deps.videoPreferences->save(choice, cameraKey(*m.cameraID()));
    applyCamera(choice);
}

void CaptureFormats::applyProfileVideoChoices()
{
    const RecorderModel& m = m_model;
    if (!m.phase().isIdle())
        return;
    const Prefs& prefs = *m.m_deps.prefs;
    if (m_screenPreferenceKey && m_screenCapabilities) {
        const VideoDeviceChoice profile{QString::number(prefs.outputSize()), double(prefs.fps())};
        m.m_deps.videoPreferences->save(m_screenCapabilities->normalized(profile), *m_screenPreferenceKey);
        restoreScreenChoice();
    }
    if (m.cameraID()) {
        m.m_deps.videoPreferences->save({prefs.cameraSizeID(), prefs.cameraFrameRate()}, cameraKey(*m.cameraID()));
        restoreCameraChoice();
    }
}

void CaptureFormats::migrate()
{
    const RecorderModel& m = m_model;
    const Prefs& prefs = *m.m_deps.prefs;
    const int outputSize = prefs.outputSize();
    const int fps = prefs.fps();
    refreshScreenCapabilities(false);
    UserDefaults& defaults = *m.m_deps.defaults;
    const auto storedCamera = defaults.string(QStringLiteral("cameraID"));
    const QString screenKeyNow = m_screenPreferenceKey.value_or(screenKey(m.effectiveDisplayID(), m.rangeMode()));
    if (!defaults.boolValue(kMigratedKey).value_or(false)) {
        if (storedCamera)
            m.m_deps.videoPreferences->save({prefs.cameraSizeID(), prefs.cameraFrameRate()}, cameraKey(*storedCamera));
        m.m_deps.videoPreferences->save({QString::number(outputSize), double(fps)}, screenKeyNow);
        defaults.setBool(kMigratedKey, true);
    }
    refreshScreenCapabilities(true);
}

} // namespace corvessa
