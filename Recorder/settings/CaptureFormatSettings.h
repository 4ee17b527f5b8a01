#pragma once

#include <QWidget>

class QComboBox;

namespace corvessa {

class Prefs;
class RecorderModel;
class SettingRow;

// The resolution and frame-rate rows of the screen (the Recording pane) or of
// the camera (the Camera pane): what the device offers, the current choice,
// and each new choice handed to the model, which remembers it for that device.
// Follows the model's capabilities and the preferences in place. Main thread;
// model and preferences outlive it.
class CaptureFormatSettings : public QWidget {
    Q_OBJECT
public:
    CaptureFormatSettings(RecorderModel& model, Prefs& prefs, bool camera, QWidget* parent = nullptr);

private:
    void refresh();
    void refreshScreen();
    void refreshCamera();

    RecorderModel& m_model;
    Prefs& m_prefs;
    bool m_camera;
    SettingRow* m_sizeRow = nullptr;
    QComboBox* m_size = nullptr;
    QComboBox* m_rate = nullptr;
};

} // namespace corvessa
