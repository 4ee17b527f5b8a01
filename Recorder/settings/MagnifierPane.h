#pragma once

#include <QWidget>

class QLabel;
class QSlider;

namespace corvessa {

class Prefs;
class PrefsSwitch;
class SettingRow;

// The magnifier's pane: follow the cursor or a chosen region, the size of the
// magnified area, the zoom's speed, the on-screen outline and the sharper
// rendering (not switchable during a recording). Main thread.
class MagnifierPane : public QWidget {
    Q_OBJECT
public:
    explicit MagnifierPane(Prefs& prefs, QWidget* parent = nullptr);

    // The translated "Area width is about 29% of the screen."
    static QString areaText(double focusFrac);

private:
    void refresh();

    Prefs& m_prefs;
    SettingRow* m_modeRow = nullptr;
    SettingRow* m_crispRow = nullptr;
    PrefsSwitch* m_crisp = nullptr;
    QSlider* m_size = nullptr;
    QLabel* m_magnification = nullptr;
    QLabel* m_area = nullptr;
};

} // namespace corvessa
