#pragma once

#include <QWidget>

class QCheckBox;
class QComboBox;
class QLabel;

namespace corvessa {

class GainSlider;
class HMeter;
class RecorderModel;

// The audio pane: the microphone and its picker, both live levels, both gains,
// the temporary mute, system audio and the speakers' mute, with the access and
// echo warnings. Every value lives in the model; while the pane is on screen the
// model keeps its idle meters running even with the toolbar hidden. Main thread.
class AudioPane : public QWidget {
    Q_OBJECT
public:
    explicit AudioPane(RecorderModel& model, QWidget* parent = nullptr);
    ~AudioPane() override;

    HMeter* micMeter() const { return m_micMeter; }
    HMeter* sysMeter() const { return m_sysMeter; }

protected:
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    void setOpen(bool open);
    void refresh();

    RecorderModel& m_model;
    bool m_open = false;
    QCheckBox* m_micSwitch = nullptr;
    QComboBox* m_picker = nullptr;
    QWidget* m_micAccess = nullptr;
    QLabel* m_micProblem = nullptr;
    HMeter* m_micMeter = nullptr;
    QLabel* m_micOff = nullptr;
    GainSlider* m_micGain = nullptr;
    QCheckBox* m_mute = nullptr;
    QCheckBox* m_sysSwitch = nullptr;
    QLabel* m_sysNote = nullptr;
    QWidget* m_sysAccess = nullptr;
    QLabel* m_sysProblem = nullptr;
    HMeter* m_sysMeter = nullptr;
    QLabel* m_sysOff = nullptr;
    GainSlider* m_sysGain = nullptr;
    QCheckBox* m_speakers = nullptr;
    QWidget* m_echo = nullptr;
};

} // namespace corvessa
