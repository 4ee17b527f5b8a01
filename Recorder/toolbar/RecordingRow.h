#pragma once

#include "toolbar/BarRow.h"

#include <QPointer>

namespace corvessa {

class RecordingTimeLabel;

// The toolbar's row while a recording runs or is paused: the layout toggle,
// the recording status with the elapsed time, pause and stop; then in full
// restart, cancel, the three sources, the notice line and the tools, or in
// compact form the two audio controls and the tools button. The elapsed time
// is updated in place, not by a rebuild. Main thread.
class RecordingRow : public BarRow {
public:
    RecordingRow(const BarElements& elements, bool compact, QWidget* parent = nullptr);

    bool compact() const { return m_compact; }
    void elapsedChanged() override;

    QWidget* layoutToggle();
    QWidget* recordingStatus();

protected:
    void build() override;

private:
    bool m_compact;
    QPointer<RecordingTimeLabel> m_time;
    QPointer<QWidget> m_statusBox;
};

} // namespace corvessa
