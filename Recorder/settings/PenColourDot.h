#pragma once

#include <QAbstractButton>

namespace corvessa {

// One colour of the pen pane's grid: a filled circle with a faint edge and, when
// chosen, an accent ring 3 points outside it. Main thread.
class PenColourDot : public QAbstractButton {
    Q_OBJECT
public:
    static constexpr int diameter = 24;
    static constexpr int side = 28;

    PenColourDot(const QColor& colour, const QString& name, QWidget* parent = nullptr);

    void setChosen(bool chosen);
    bool isChosen() const { return m_chosen; }

    QSize sizeHint() const override { return {side + 6, side + 6}; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QColor m_colour;
    bool m_chosen = false;
};

} // namespace corvessa
