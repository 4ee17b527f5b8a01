#pragma once

#include <QString>

namespace corvessa {

class RecorderModel;

// The question before a running recording is thrown away, to restart it or to
// cancel it; the recording is paused while it is open. Main thread.
class DiscardConfirmation {
public:
    struct Question {
        QString title;
        QString message;
        QString ok;
    };

    DiscardConfirmation() = delete;

    // The translated texts.
    static Question question(bool restart);
    // Only while a recording runs and no other question is open; on
    // confirmation the recording is discarded (and, `restart`, started again).
    static void ask(RecorderModel& model, bool restart);
};

} // namespace corvessa
