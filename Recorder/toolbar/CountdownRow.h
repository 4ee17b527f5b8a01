#pragma once

#include "toolbar/BarRow.h"

namespace corvessa {

// The toolbar's row while the countdown runs: nothing shows, but the bar keeps
// its height. Main thread.
class CountdownRow : public BarRow {
public:
    using BarRow::BarRow;

protected:
    void build() override;
};

} // namespace corvessa
