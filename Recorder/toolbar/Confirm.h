#pragma once

#include "model/ConfirmationService.h"

#include <QColor>
#include <QObject>
#include <QDialog>
#include <QPointer>
#include <QPushButton>

#include <functional>
#include <memory>

class QDialog;
class QPushButton;
class QWindow;

namespace corvessa {

// The modal yes/no dialog for stop, quit and other destructive actions. It
// stays above other windows and cannot be confirmed by accident: Return,
// keypad Enter and Escape all cancel, only the red button confirms (a click,
// or Space while it has the focus). One question at a time. Main thread.
class Confirm final : public QObject, public ConfirmationService {
public:
    // `registerWindow` puts the dialog on the list of windows recordings leave
    // out (the program passes Stealth::track).
    explicit Confirm(std::function<void(QWindow*)> registerWindow = {});
    // Cancels a question still open.
    ~Confirm() override;
    Confirm(const Confirm&) = delete;
    Confirm& operator=(const Confirm&) = delete;

    bool ask(const QString& title, const QString& message, const QString& ok, const QString& cancel) override;
    bool isShowing() const override { return m_dialog != nullptr; }
    void abort() override;

    // The open dialog and its confirming button; null without a question.
    QDialog* dialog() const { return m_dialog; }
    QPushButton* okButton() const { return m_ok; }

    // The confirming button's colour.
    static QColor okColour();

protected:
    // Turns the cancelling keys into a cancel before a button sees them.
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    std::function<void(QWindow*)> m_registerWindow;
    QPointer<QDialog> m_dialog;
    QPointer<QPushButton> m_ok;
    // Cleared by the destructor, so an ask() whose loop the destruction ended
    // does not touch the object any more.
    std::shared_ptr<bool> m_alive = std::make_shared<bool>(true);
};

} // namespace corvessa
