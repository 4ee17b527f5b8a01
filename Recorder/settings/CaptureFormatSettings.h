#pragma once

#include <QWidget>

class QComboBox;

namespace corvessa {

class Prefs;
class RecorderModel;
class SettingRow;

// The screen's resolution and frame-rate rows: what the display being recorded
// offers, the current choice, and each new choice handed to the model, which
// remembers it for that display. Follows the model's capabilities and the
// preferences in place. Main thread; model and preferences outlive it.
class CaptureFormatSettings : public QWidget {
    Q_OBJECT
public:
    CaptureFormatSettings(RecorderModel& model, Prefs& prefs, QWidget* parent = nullptr);

private:
    void refresh();

    RecorderModel& m_model;
    Prefs& m_prefs;
    SettingRow* m_sizeRow = nullptr;
    QComboBox* m_size = nullptr;
    QComboBox* m_rate = nullptr;
};

} // namespace corvessa
