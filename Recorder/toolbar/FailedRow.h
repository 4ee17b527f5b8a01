#pragma once

#include "toolbar/BarRow.h"

namespace corvessa {

// The toolbar's row after a recording failed: a warning sign, the message and
// "OK" back to the ready row. Main thread.
class FailedRow : public BarRow {
public:
    using BarRow::BarRow;

protected:
    void build() override;
};

} // namespace corvessa
