#pragma once

#include "toolbar/BarRow.h"

namespace corvessa {

// The toolbar's row while the movie is being finished: an hourglass and
// "Saving…" beside a busy bar. Main thread.
class FinishingRow : public BarRow {
public:
    using BarRow::BarRow;

protected:
    void build() override;
};

} // namespace corvessa
