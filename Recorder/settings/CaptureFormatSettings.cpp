#include "settings/CaptureFormatSettings.h"

#include "capture/VideoRateLabel.h"
#include "model/RecorderModel.h"
#include "prefs/Loc.h"
#include "prefs/Prefs.h"
#include "settings/PrefsWatch.h"
#include "settings/SettingRow.h"

#include <QComboBox>
#include <QSignalBlocker>
#include <QVariant>
#include <QVBoxLayout>

namespace corvessa {

namespace {

constexpr int kPickerWidth = 280;

QComboBox* picker(QWidget* parent, const char* name)
{
    auto* box = new QComboBox(parent);
    box->setAccessibleName(QString::fromLatin1(name));
    box->setFixedWidth(kPickerWidth);
    return box;
}

using Entries = QList<std::pair<QString, QVariant>>;

// Fills a picker and selects the entry tagged `current`.
void fill(QComboBox* box, const Entries& entries, const QVariant& current)
{
    const QSignalBlocker block(box);
    box->clear();
    for (const auto& [label, tag] : entries)
        box->addItem(label, tag);
    box->setCurrentIndex(std::max(0, box->findData(current)));
}

} // namespace

CaptureFormatSettings::CaptureFormatSettings(RecorderModel& model, Prefs& prefs, bool camera, QWidget* parent)
    : QWidget(parent)
    , m_model(model)
    , m_prefs(prefs)
    , m_camera(camera)
{
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    m_size = picker(this, camera ? "cameraSize" : "screenSize");
    m_rate = picker(this, camera ? "cameraRate" : "screenRate");
    m_sizeRow = new SettingRow(camera ? Loc::text(QStringLiteral("Resolution"))
                                      : Loc::text(QStringLiteral("Screen Resolution")),
                               {}, m_size, this);
    layout->addWidget(m_sizeRow);
    layout->addWidget(new SettingRow(Loc::text(QStringLiteral("Frame Rate")),
                                     Loc::text(QStringLiteral(
                                         "Only frame rates supported at the selected resolution are listed.")),
                                     m_rate, this));

    // A choice the model turns down leaves the picker on the value in use.
    connect(m_size, &QComboBox::activated, this, [this](int index) {
        if (m_camera)
            m_model.setCameraSize(m_size->itemData(index).toString());
        else
            m_model.setScreenSize(m_size->itemData(index).toInt());
        refresh();
    });
    connect(m_rate, &QComboBox::activated, this, [this](int index) {
        if (m_camera)
            m_model.setCameraRate(m_rate->itemData(index).toDouble());
        else
            m_model.setScreenRate(m_rate->itemData(index).toInt());
        refresh();
    });
    connect(&m_model, &RecorderModel::changed, this, [this](RecorderModel::Field field) {
        using F = RecorderModel::Field;
        if (field == F::screenCapabilities || field == F::cameraCapabilities || field == F::cameraReady ||
            field == F::cameraOn || field == F::cameraAuthorized || field == F::phase)
            refresh();
    });
    PrefsWatch::on(this, prefs,
                   {Prefs::Key::outputSize, Prefs::Key::fps, Prefs::Key::cameraSizeID, Prefs::Key::cameraFrameRate},
                   [this] { refresh(); });
}

void CaptureFormatSettings::refresh()
{
    if (m_camera)
        refreshCamera();
    else
        refreshScreen();
}

void CaptureFormatSettings::refreshCamera()
{
    const TextLookup text = [](const QString& english) { return Loc::text(english); };
    const QString notConnected = Loc::text(QStringLiteral("Not Connected"));
    const bool available = m_model.cameraReady() && m_model.cameraOn() && m_model.cameraAuthorized();
    const auto& caps = m_model.cameraCapabilities();
    m_sizeRow->setDesc(available ? Loc::text(QStringLiteral("Options follow the connected device. Your choice is "
                                                            "remembered for each device."))
                                 : Loc::text(QStringLiteral(
                                       "Connect a camera to choose its resolution and frame rate.")));
    const QString sizeID = m_prefs.cameraSizeID();
    const double rate = m_prefs.cameraFrameRate();
    Entries sizes{{notConnected, sizeID}};
    Entries rates{{notConnected, rate}};
    if (available && caps) {
        sizes.clear();
        for (const VideoDimensions& size : caps->sizes())
            sizes.append({size.title(), size.id()});
        if (const auto chosen = VideoDimensions::fromId(sizeID)) {
            rates.clear();
            for (double r : caps->rates(*chosen))
                rates.append({videoRateLabel(r, text), r});
        }
    }
    fill(m_size, sizes, sizeID);
    fill(m_rate, rates, rate);
    const bool editable = m_model.canEditCameraFormat();
    m_size->setEnabled(editable);
    m_rate->setEnabled(editable);
}

void CaptureFormatSettings::refreshScreen()
{
    const auto caps = m_model.screenCapabilities();
    const TextLookup text = [](const QString& english) { return Loc::text(english); };
    const QString notConnected = Loc::text(QStringLiteral("Not Connected"));
    m_sizeRow->setDesc(caps ? Loc::text(QStringLiteral(
                                  "Options follow the connected device. Your choice is remembered for each device."))
                            : Loc::text(QStringLiteral("Select a recording source and grant screen access to choose "
                                                       "its resolution and frame rate.")));
    Entries sizes;
    Entries rates;
    if (caps) {
        for (int side : caps->resolutions())
            sizes.append({caps->label(side, text), side});
        for (int rate : caps->frameRates())
            rates.append({videoRateLabel(rate, text), rate});
    } else {
        // The placeholder carries the value in use, so the selection matches an entry.
        sizes.append({notConnected, m_prefs.outputSize()});
        rates.append({notConnected, m_prefs.fps()});
    }
    fill(m_size, sizes, m_prefs.outputSize());
    fill(m_rate, rates, m_prefs.fps());
    const bool editable = m_model.canEditScreenFormat();
    m_size->setEnabled(editable);
    m_rate->setEnabled(editable);
}

} // namespace corvessa
