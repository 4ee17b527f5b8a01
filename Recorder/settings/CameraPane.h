#pragma once

#include <QString>
#include <QWidget>

#include <functional>

class QCheckBox;
class QLabel;
class QSlider;

namespace corvessa {

class Prefs;
class RecorderModel;
class SettingRow;

// The Camera tab: one file with the camera embedded or a separate camera file,
// the camera window's shape, corner rounding and size, the camera's capture
// format and preview switch (with a model only), and the camera's own picture
// controls. Main thread; preferences and model outlive it.
class CameraPane : public QWidget {
    Q_OBJECT
public:
    // `openEffects` shows the camera's controls; none leaves the button disabled.
    CameraPane(Prefs& prefs, RecorderModel* model, std::function<void(QWidget*)> openEffects,
               QWidget* parent = nullptr);

    // "24%" for 0.12; "—" for the circle, which has no corners to round.
    static QString radiusText(double radius, int shape);

private:
    void refresh();

    Prefs& m_prefs;
    SettingRow* m_modeRow = nullptr;
    SettingRow* m_radiusRow = nullptr;
    QSlider* m_radius = nullptr;
    QLabel* m_radiusText = nullptr;
    QSlider* m_size = nullptr;
    QLabel* m_sizeText = nullptr;
};

} // namespace corvessa
