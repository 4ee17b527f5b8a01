#include "toolbar/SourceVisual.h"

#include "model/RecorderModel.h"
#include "prefs/Loc.h"

#include <QTextBoundaryFinder>

namespace corvessa {

namespace {
using Tint = SourceVisual::Tint;

// warning without permission, primary while in use, secondary otherwise.
Tint stateTint(bool authorized, bool inUse)
{
    if (!authorized)
        return Tint::warning;
    return inUse ? Tint::primary : Tint::secondary;
}

// The shown name of the listed device whose key is `id`.
template <typename Device>
std::optional<QString> chosenName(const std::vector<Device>& devices, const std::optional<QString>& id,
                                  QString Device::*key, QString Device::*shown)
{
    for (const Device& d : devices) {
        if (id && d.*key == *id)
            return d.*shown;
    }
    return std::nullopt;
}

// "Not Granted" without permission; in use, the chosen device's short name (the
// source's own when the device is not listed); else `off`.
QString itemText(bool authorized, bool inUse, const std::optional<QString>& device, const QString& source,
                 const QString& off)
{
    if (!authorized)
        return Loc::text(QStringLiteral("Not Granted"));
    if (inUse)
        return SourceVisual::shortName(device.value_or(source));
    return off;
}
} // namespace

QString SourceVisual::shortName(const QString& name)
{
    constexpr int keep = 6;
    QTextBoundaryFinder graphemes(QTextBoundaryFinder::Grapheme, name);
    int count = 0;
    qsizetype cut = 0;
    while (graphemes.toNextBoundary() != -1) {
        if (++count == keep)
            cut = graphemes.position();
        else if (count > keep)
            return name.left(cut) + QChar(0x2026);
    }
    return name;
}

SourceVisual SourceVisual::camera(const RecorderModel& m)
{
    const bool authorized = m.cameraAuthorized();
    const bool inUse = m.cameraOn() && authorized;
    SourceVisual v;
    v.symbol = inUse ? QStringLiteral("video.fill") : QStringLiteral("video.slash");
    v.iconTint = v.textTint = stateTint(authorized, inUse);
    if (inUse && m.cameraPreviewHidden())
        v.badge = QStringLiteral("eye.slash.fill");
    const QString name = Loc::text(QStringLiteral("Camera"));
    const auto device = chosenName(m.cameraDevices(), m.cameraID(), &CameraDevice::id, &CameraDevice::name);
    v.text = itemText(authorized, inUse, device, name,
                      m.cameraLost() ? Loc::text(QStringLiteral("Not Connected")) : name);
    return v;
}

SourceVisual SourceVisual::microphone(const RecorderModel& m)
{
    const bool authorized = m.micAuthorized();
    const bool inUse = m.micOn() && authorized;
    SourceVisual v;
    if (inUse)
        v.symbol = m.micMuted() ? QStringLiteral("mic.slash.fill") : QStringLiteral("mic.fill");
    else
        v.symbol = QStringLiteral("mic.slash");
    // Muting turns the icon orange; the text keeps its colour.
    v.textTint = stateTint(authorized, inUse);
    v.iconTint = inUse && m.micMuted() ? Tint::orange : v.textTint;
    const QString name = Loc::text(QStringLiteral("Microphone"));
    v.text = itemText(authorized, inUse,
                      chosenName(m.micDevices(), m.micID(), &AudioDevice::name, &AudioDevice::description), name, name);
    v.meter = Meter{m.micMuted(), inUse};
    return v;
}

SourceVisual SourceVisual::systemAudio(const RecorderModel& m)
{
    const bool authorized = m.sysAuthorized();
    const bool inUse = m.systemAudio() && authorized;
    SourceVisual v;
    v.symbol = inUse ? QStringLiteral("speaker.wave.2.fill") : QStringLiteral("speaker.slash");
    v.iconTint = v.textTint = stateTint(authorized, inUse);
    const QString name = Loc::text(QStringLiteral("System Audio"));
    v.text = itemText(authorized, false, std::nullopt, name, name);
    v.meter = Meter{false, inUse};
    return v;
}

SourceVisual SourceVisual::compactMic(const RecorderModel& m)
{
    const bool authorized = m.micAuthorized();
    const bool active = m.micOn() && authorized;
    const bool muted = m.micMuted();
    SourceVisual v;
    v.symbol = muted || !active ? QStringLiteral("mic.slash.fill") : QStringLiteral("mic.fill");
    v.iconTint = !authorized ? Tint::warning : muted ? Tint::orange : active ? Tint::primary : Tint::secondary;
    v.textTint = v.iconTint;
    v.meter = Meter{muted, active};
    return v;
}

SourceVisual SourceVisual::compactSystem(const RecorderModel& m)
{
    const bool authorized = m.sysAuthorized();
    const bool active = m.systemAudio() && authorized;
    SourceVisual v;
    v.symbol = active ? QStringLiteral("speaker.wave.2.fill") : QStringLiteral("speaker.slash.fill");
    v.iconTint = v.textTint = stateTint(authorized, active);
    v.meter = Meter{false, active};
    return v;
}

} // namespace corvessa
