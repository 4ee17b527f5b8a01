#pragma once

#include <QWidget>

namespace corvessa {

// The outline of the magnified area: a faint rounded box filling the view,
// grey with a white rim, or orange (armed) while a recording is paused. Main
// thread.
class LensOutlineView final : public QWidget {
public:
    static constexpr double rimWidth = 1.5;
    static constexpr double cornerRadius = 4;

    explicit LensOutlineView(QWidget* parent = nullptr);

    bool armed() const { return m_armed; }
    // Repaints only when the look changes.
    void setArmed(bool armed);
    // How often the look changed: a repeated setArmed() costs nothing.
    int recolours() const { return m_recolours; }

    QColor fill() const;
    QColor rim() const;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    bool m_armed = false;
    int m_recolours = 0;
};

} // namespace corvessa
