#pragma once

#include "prefs/HotKeyAction.h"

#include <QObject>
#include <QPointer>
#include <QString>

#include <optional>

class QWidget;

namespace corvessa {

class TipWindow;

// Gives a control its hover tip: when the pointer enters the control, the tip
// window schedules the control's name and, for a hot-key action, its bound key;
// leaving or pressing the control hides it. Watches the control through an
// event filter and dies with it. Main thread.
class TipModifier : public QObject {
public:
    // `name` is shown as given (already translated).
    TipModifier(QWidget* control, TipWindow& tips, const QString& name,
                std::optional<HotKeyAction> action = std::nullopt);

    // Attaches a tip to `control`; the modifier is owned by the control.
    static TipModifier* attach(QWidget* control, TipWindow& tips, const QString& name,
                               std::optional<HotKeyAction> action = std::nullopt);

    QString name() const { return m_name; }
    void setName(const QString& name) { m_name = name; }
    std::optional<HotKeyAction> action() const { return m_action; }
    void setAction(std::optional<HotKeyAction> action) { m_action = action; }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    QPointer<QWidget> m_control;
    QPointer<TipWindow> m_tips;
    QString m_name;
    std::optional<HotKeyAction> m_action;
};

} // namespace corvessa
