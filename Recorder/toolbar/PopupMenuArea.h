#pragma once

#include "platform/core/Scheduler.h"

#include <QRect>
#include <QString>
#include <QWidget>

#include <functional>

namespace corvessa {

class MenuPresenter;

// A transparent layer over a toolbar control that opens the control's floating
// menu on the mouse-down. A second press on the same control closes its menu;
// the press that closed the menu as an outside click does not reopen it. Takes
// the first click of an inactive window and never moves it. Main thread.
class PopupMenuArea : public QWidget {
public:
    // How far inside the toolbar window's frame the menu may still overlap it.
    static constexpr int avoidInset = 30;

    // Shows the menu for `anchor` (the control, global coordinates), keeping it
    // off `avoiding` (the toolbar window's frame inset by avoidInset). The
    // toolbar passes one that builds the rows and hands them, with itself as
    // the provider for refreshes, to the floating menu.
    using Open = std::function<void(const QRect& anchor, const QRect& avoiding)>;

    PopupMenuArea(MenuPresenter& menu, Scheduler& clock, Open open, const QString& accessibleName,
                  QWidget* parent = nullptr);

    void setOpen(Open open) { m_open = std::move(open); }

    // Acts as a press: false without a window; true otherwise, whether the menu
    // was opened, closed or the press ignored.
    bool openMenu();

    QRect globalRect() const;

protected:
    void mousePressEvent(QMouseEvent* event) override;

private:
    MenuPresenter& m_menu;
    Scheduler& m_clock;
    Open m_open;
};

} // namespace corvessa
