#pragma once

namespace corvessa {

// The modal confirmation dialog as the recorder model sees it. Main thread.
class ConfirmationService {
public:
    virtual ~ConfirmationService() = default;
    // A question is on screen.
    virtual bool isShowing() const = 0;
    // Ends the question on screen as if it had been cancelled.
    virtual void abort() = 0;
};

} // namespace corvessa
