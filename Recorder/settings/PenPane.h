#pragma once

#include <QWidget>

#include <vector>

class QLabel;
class QSlider;

namespace corvessa {

class PenColourDot;
class PenPreview;
class Prefs;

// The pen pane: the default tool, the stroke width and the colour, with a
// sample stroke drawn like the ink. A change applies to the next pen event,
// also while the pen is open. Main thread.
class PenPane : public QWidget {
    Q_OBJECT
public:
    explicit PenPane(Prefs& prefs, QWidget* parent = nullptr);

    // "13 pt": the width's whole part.
    static QString widthText(double width);

    QSlider* widthSlider() const { return m_width; }
    const std::vector<PenColourDot*>& dots() const { return m_dots; }
    PenPreview* preview() const { return m_preview; }

private:
    void refresh();

    Prefs& m_prefs;
    QSlider* m_width = nullptr;
    QLabel* m_widthText = nullptr;
    std::vector<PenColourDot*> m_dots;
    PenPreview* m_preview = nullptr;
};

} // namespace corvessa
