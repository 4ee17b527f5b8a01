#pragma once

#include "prefs/HotKeyAction.h"
#include "toolbar/kit/GlassPanel.h"

#include <functional>

class QAbstractButton;
class QButtonGroup;
class QCheckBox;
class QLabel;
class QSlider;

namespace corvessa {

class Prefs;

// The magnifier's settings card: mode (follow the cursor or a selected
// region), the size of the magnified area with its zoom factor, the zoom
// animation speed, the on-screen outline switch and the magnifier's shortcuts.
// Writes straight into the preferences, except the mode, which goes to
// `setFocusMode` so the recorder model can react; follows the preferences
// while open. Main thread.
class MagnifierPanelView final : public GlassPanel {
public:
    // Transparent room around the card for its shadow.
    static constexpr int margin = 26;
    static constexpr double cornerRadius = 16;
    static constexpr int cardWidth = 250;
    static constexpr int padding = 14;
    // The size slider's range (hundredths of the recorded area's side).
    static constexpr int smallestArea = 15;
    static constexpr int largestArea = 70;

    MagnifierPanelView(Prefs& prefs, std::function<void(int mode)> setFocusMode, QWidget* parent = nullptr);

    // "2.0×": the zoom factor of an area `fraction` of the recorded one.
    static QString factorText(double fraction);
    // The display text of the action's key, empty when it has none.
    QString keyText(HotKeyAction action) const;

    QSlider* sizeSlider() const { return m_size; }
    QCheckBox* outlineSwitch() const { return m_outline; }
    QAbstractButton* modeButton(int mode) const;
    QLabel* regionShortcut() const { return m_regionShortcut; }

private:
    void refresh();

    Prefs& m_prefs;
    std::function<void(int)> m_setFocusMode;
    QButtonGroup* m_mode = nullptr;
    QButtonGroup* m_speed = nullptr;
    QLabel* m_factor = nullptr;
    QSlider* m_size = nullptr;
    QLabel* m_zoomKeys = nullptr;
    QCheckBox* m_outline = nullptr;
    QLabel* m_shortcuts = nullptr;
    QLabel* m_regionShortcut = nullptr;
};

} // namespace corvessa
