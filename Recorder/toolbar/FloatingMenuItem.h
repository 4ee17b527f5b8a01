#pragma once

#include "model/MenuRow.h"

#include <QAbstractButton>

#include <functional>

namespace corvessa {

// One command of the floating menu: a check-mark column (kept even when
// unchecked, so titles line up), the title, and a rounded highlight in the
// accent colour while the pointer is over an enabled row. Choosing it closes
// the menu first, then runs the command, so the command may open another menu.
// A disabled row does nothing. Main thread.
class FloatingMenuItem : public QAbstractButton {
public:
    static constexpr int checkColumn = 14;
    static constexpr int checkPoints = 11;
    static constexpr int titlePoints = 13;
    static constexpr int spacing = 8;
    static constexpr int minimumTrailing = 12;
    static constexpr int padX = 8;
    static constexpr int padY = 6;
    static constexpr double highlightRadius = 8;
    static constexpr double highlightOpacity = 0.85;

    // `dismiss` closes the menu; it runs before the item's action.
    FloatingMenuItem(const MenuRow::Item& item, std::function<void()> dismiss, QWidget* parent = nullptr);

    bool showsCheckMark() const { return m_checked; }
    bool isDim() const { return m_dim; }
    bool isHovered() const { return m_hover; }
    // Whether the accent highlight shows now.
    bool highlighted() const { return m_hover && isEnabled(); }
    // The colour of the check mark and the title now.
    QColor foreground() const;

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override { return sizeHint(); }

protected:
    void paintEvent(QPaintEvent* event) override;
    void enterEvent(QEnterEvent* event) override;
    void leaveEvent(QEvent* event) override;

private:
    void choose();

    bool m_checked;
    bool m_dim;
    bool m_hover = false;
    std::function<void()> m_action;
    std::function<void()> m_dismiss;
};

} // namespace corvessa
