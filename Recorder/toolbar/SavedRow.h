#pragma once

#include "toolbar/BarRow.h"

#include <QString>

#include <functional>

namespace corvessa {

// The toolbar's row after a movie was saved: a check mark, the screen or
// camera notice, Show in Folder and Close. A movie that lacks seconds of sound
// gets a warning sign in place of the check mark, and the seconds after the
// notice. When neither a file manager nor a
// folder handler showed the movie, the row stays and says so in place of the
// notice. Main thread.
class SavedRow : public BarRow {
public:
    // `changed` asks the bar to rebuild the row.
    SavedRow(const BarElements& elements, std::function<void()> changed, QWidget* parent = nullptr);

protected:
    void build() override;

private:
    void revealDone(const QString& movie, bool shown);

    std::function<void()> m_changed;
    // The saved movie whose folder could not be shown.
    QString m_revealFailed;
};

} // namespace corvessa
