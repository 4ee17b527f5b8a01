#include "settings/AudioPane.h"

#include "model/RecorderModel.h"
#include "prefs/Loc.h"
#include "settings/SettingRow.h"
#include "settings/SettingsLayout.h"
#include "toolbar/kit/GainSlider.h"
#include "toolbar/kit/HMeter.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QSignalBlocker>
#include <QVBoxLayout>

namespace corvessa {

namespace {

constexpr int kPickerWidth = 200;
constexpr int kSegments = 32;
// At or below this gain a source is silent.
constexpr double kSilentDB = -48;

QLabel* note(const QString& english, QWidget* parent)
{
    auto* label = new QLabel(Loc::text(english), parent);
    SettingsLayout::greyText(label);
    return label;
}

QLabel* problem(QWidget* parent)
{
    auto* label = new QLabel(parent);
    SettingsLayout::setTextColour(label, Qt::red);
    return label;
}

// An orange triangle and a text of at most two lines, under the control column.
QWidget* warning(const QString& text, QWidget* parent)
{
    QWidget* box = SettingsLayout::warningLine(QStringLiteral("exclamationmark.triangle.fill"), 13, text, parent);
    box->layout()->setContentsMargins(SettingsLayout::controlIndent, 4, 0, 4);
    return box;
}

QWidget* pair(QWidget* first, QWidget* second, QWidget* parent)
{
    auto* box = new QWidget(parent);
    auto* line = new QHBoxLayout(box);
    line->setContentsMargins(0, 0, 0, 0);
    line->setSpacing(10);
    line->addWidget(first, 0, Qt::AlignVCenter);
    line->addWidget(second, 0, Qt::AlignVCenter);
    line->addStretch();
    return box;
}

// Whichever of a problem text, a meter and an "is off" note applies shows.
QWidget* stack(std::initializer_list<QWidget*> parts, QWidget* parent)
{
    auto* box = new QWidget(parent);
    auto* line = new QHBoxLayout(box);
    line->setContentsMargins(0, 0, 0, 0);
    for (QWidget* part : parts)
        line->addWidget(part);
    line->addStretch();
    return box;
}

} // namespace

AudioPane::AudioPane(RecorderModel& model, QWidget* parent)
    : QWidget(parent)
    , m_model(model)
{
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);

    m_micSwitch = new QCheckBox(this);
    m_micSwitch->setAccessibleName(QStringLiteral("micOn"));
    connect(m_micSwitch, &QCheckBox::toggled, this, [this](bool on) {
        if (on != m_model.micOn())
            m_model.tapMic();
        refresh();
    });
    m_picker = new QComboBox(this);
    m_picker->setFixedWidth(kPickerWidth);
    connect(m_picker, &QComboBox::activated, this, [this](int index) {
        if (m_model.phase().isIdle())
            m_model.selectMic(m_picker->itemData(index).toString());
        refresh();
    });
    layout->addWidget(new SettingRow(Loc::text(QStringLiteral("Microphone")), {}, pair(m_micSwitch, m_picker, this),
                                     this));
    m_micAccess = warning(Loc::text(QStringLiteral("Microphone access is required. Click “Allow”.")), this);
    layout->addWidget(m_micAccess);

    m_micProblem = problem(this);
    m_micMeter = new HMeter(model.meters(), true, false, kSegments, this);
    m_micOff = note(QStringLiteral("Microphone Is Off"), this);
    layout->addWidget(new SettingRow(Loc::text(QStringLiteral("Microphone Level")), {},
                                     stack({m_micProblem, m_micMeter, m_micOff}, this), this));

    m_micGain = new GainSlider([this] { return m_model.micGainDB(); }, [this](double dB) { m_model.setMicGainDB(dB); },
                               this);
    m_micGain->setToolTip(
        Loc::text(QStringLiteral("0 dB is the center. Drag all the way left to mute. The maximum is +12 dB.")));
    layout->addWidget(new SettingRow(Loc::text(QStringLiteral("Microphone Gain")), {}, m_micGain, this));

    m_mute = new QCheckBox(this);
    connect(m_mute, &QCheckBox::toggled, this, [this](bool on) {
        if (on != m_model.micMuted()) {
            m_model.setMicMuted(on);
            m_model.gainChanged();
        }
    });
    layout->addWidget(new SettingRow(
        Loc::text(QStringLiteral("Temporary Mute")), {},
        pair(m_mute, note(QStringLiteral("Use Shortcut to Toggle During Recording; Gain Unchanged"), this), this),
        this));

    auto* divider = new QFrame(this);
    divider->setFrameShape(QFrame::HLine);
    divider->setFrameShadow(QFrame::Sunken);
    layout->addSpacing(6);
    layout->addWidget(divider);
    layout->addSpacing(6);

    m_sysSwitch = new QCheckBox(this);
    m_sysSwitch->setAccessibleName(QStringLiteral("systemAudio"));
    connect(m_sysSwitch, &QCheckBox::toggled, this, [this](bool on) {
        if (on != (m_model.systemAudio() && m_model.sysAuthorized()))
            m_model.tapSystem();
        refresh();
    });
    m_sysNote = note(QString(), this);
    layout->addWidget(new SettingRow(Loc::text(QStringLiteral("System Audio")), {}, pair(m_sysSwitch, m_sysNote, this),
                                     this));
    m_sysAccess = warning(Loc::text(QStringLiteral("System Audio access is required. Click “Allow”.")), this);
    layout->addWidget(m_sysAccess);

    m_sysProblem = problem(this);
    m_sysMeter = new HMeter(model.meters(), false, false, kSegments, this);
    m_sysOff = note(QStringLiteral("System Audio Is Off"), this);
    layout->addWidget(new SettingRow(Loc::text(QStringLiteral("System Audio Level")), {},
                                     stack({m_sysProblem, m_sysMeter, m_sysOff}, this), this));

    m_sysGain = new GainSlider([this] { return m_model.sysGainDB(); }, [this](double dB) { m_model.setSysGainDB(dB); },
                               this);
    layout->addWidget(new SettingRow(Loc::text(QStringLiteral("System Audio Gain")), {}, m_sysGain, this));

    m_speakers = new QCheckBox(this);
    connect(m_speakers, &QCheckBox::toggled, this, [this](bool on) {
        if (on != m_model.muteSpeakers())
            m_model.setMuteSpeakers(on);
    });
    layout->addWidget(new SettingRow(
        Loc::text(QStringLiteral("Mute Speakers During Recording")), {},
        pair(m_speakers, note(QStringLiteral("Speakers Silent, Audio Captured to File"), this), this), this));
    m_echo = warning(Loc::text(QStringLiteral("Sound from your speakers is picked up by the microphone and causes echo. "
                                              "Wear headphones or turn on “Mute Speakers During Recording”.")),
                     this);
    layout->addWidget(m_echo);

    // The elapsed time ticks ten times a second while recording and shows nowhere here.
    connect(&model, &RecorderModel::changed, this, [this](RecorderModel::Field field) {
        if (field != RecorderModel::Field::elapsed)
            refresh();
    });
    refresh();
}

AudioPane::~AudioPane()
{
    setOpen(false);
}

void AudioPane::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    setOpen(true);
}

void AudioPane::hideEvent(QHideEvent* event)
{
    QWidget::hideEvent(event);
    setOpen(false);
}

void AudioPane::setOpen(bool open)
{
    if (open == m_open)
        return;
    m_open = open;
    m_model.setAudioPaneOpen(open);
    if (m_model.phase().is(RecorderPhase::Kind::ready))
        m_model.startMonitor();
}

void AudioPane::refresh()
{
    const RecorderPhase& phase = m_model.phase();
    const bool micOn = m_model.micOn();
    const bool micAuthorized = m_model.micAuthorized();
    {
        const QSignalBlocker block(m_micSwitch);
        m_micSwitch->setChecked(micOn);
    }
    m_micSwitch->setEnabled(m_model.canToggleMicNow());

    {
        const QSignalBlocker block(m_picker);
        const std::vector<AudioDevice> devices = m_model.visibleMicDevices();
        bool same = int(devices.size()) == m_picker->count();
        for (int i = 0; same && i < m_picker->count(); ++i)
            same = m_picker->itemData(i).toString() == devices[size_t(i)].name &&
                   m_picker->itemText(i) == devices[size_t(i)].description;
        if (!same) {
            m_picker->clear();
            for (const AudioDevice& device : devices)
                m_picker->addItem(device.description, device.name);
        }
        m_picker->setCurrentIndex(m_model.micID() ? m_picker->findData(*m_model.micID()) : -1);
    }
    m_picker->setEnabled(phase.isIdle() && micOn && micAuthorized);
    m_micAccess->setVisible(micOn && !micAuthorized);

    const std::optional<QString>& micProblem = m_model.micProblem();
    m_micProblem->setVisible(bool(micProblem));
    m_micProblem->setText(micProblem.value_or(QString()));
    m_micMeter->setVisible(!micProblem && micOn && micAuthorized);
    m_micMeter->setMuted(m_model.micMuted() || m_model.micGainDB() <= kSilentDB);
    m_micOff->setVisible(!micProblem && !(micOn && micAuthorized));
    m_micGain->refresh();
    {
        const QSignalBlocker block(m_mute);
        m_mute->setChecked(m_model.micMuted());
    }

    const bool sysOn = m_model.systemAudio() && m_model.sysAuthorized();
    {
        const QSignalBlocker block(m_sysSwitch);
        m_sysSwitch->setChecked(sysOn);
    }
    m_sysSwitch->setEnabled(m_model.canToggleSysNow());
    m_sysNote->setText(phase.isLive() && !m_model.recSysStarted()
                           ? Loc::text(QStringLiteral("This Recording Session Is Off; Stop Recording to Enable"))
                           : Loc::text(QStringLiteral("Records Only System Audio, Not Microphone")));
    m_sysAccess->setVisible(m_model.systemAudio() && !m_model.sysAuthorized());

    const std::optional<QString>& sysProblem = m_model.sysProblem();
    m_sysProblem->setVisible(bool(sysProblem));
    m_sysProblem->setText(sysProblem.value_or(QString()));
    m_sysMeter->setVisible(!sysProblem && sysOn);
    m_sysMeter->setMuted(m_model.sysGainDB() <= kSilentDB);
    m_sysOff->setVisible(!sysProblem && !sysOn);
    m_sysGain->refresh();
    {
        const QSignalBlocker block(m_speakers);
        m_speakers->setChecked(m_model.muteSpeakers());
    }
    m_echo->setVisible(micOn && micAuthorized && !m_model.muteSpeakers());
}

} // namespace corvessa
