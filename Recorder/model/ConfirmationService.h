#pragma once

#include <QString>

namespace corvessa {

// The modal confirmation dialog as the recorder model sees it. Main thread.
class ConfirmationService {
public:
    virtual ~ConfirmationService() = default;
    // Asks a yes/no question and waits for the answer (a nested event loop);
    // true only when the confirming button was pressed. Answers false at once,
    // showing nothing, while another question is open. Texts come translated.
    virtual bool ask(const QString& title, const QString& message, const QString& ok, const QString& cancel) = 0;
    // A question is on screen.
    virtual bool isShowing() const = 0;
    // Ends the question on screen as if it had been cancelled.
    virtual void abort() = 0;
};

} // namespace corvessa
