#pragma once

#include <QWidget>

class QLabel;
class QSlider;

namespace corvessa {

class GatedSegmented;
class Prefs;
class RecorderModel;
class SettingRow;

// The second pane: the screen's capture format (when there is a recorder
// model), the quality tier with the custom bit rate, and how large ten minutes
// come out. Main thread.
class RecordingPane : public QWidget {
    Q_OBJECT
public:
    RecordingPane(Prefs& prefs, RecorderModel* model, QWidget* parent = nullptr);

    GatedSegmented* tierPicker() const { return m_tiers; }
    QString estimateText() const;

private:
    void refresh();

    Prefs& m_prefs;
    GatedSegmented* m_tiers = nullptr;
    SettingRow* m_bitrateRow = nullptr;
    QSlider* m_bitrate = nullptr;
    QLabel* m_bitrateText = nullptr;
    SettingRow* m_estimateRow = nullptr;
    QLabel* m_estimate = nullptr;
};

} // namespace corvessa
