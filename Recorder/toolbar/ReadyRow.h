#pragma once

#include "model/RangeMode.h"
#include "toolbar/BarRow.h"

namespace corvessa {

// The toolbar's row while no recording runs: close, the three targets, Record,
// the three sources (with the headphones hint while one is set), the tools and
// the settings. Main thread.
class ReadyRow : public BarRow {
public:
    using BarRow::BarRow;

    // One target button; "Record Screen" with two screens or more opens the
    // screens menu instead.
    static QWidget* rangeItem(const BarElements& elements, const QString& title, const QString& symbol,
                              RangeMode mode, const QString& name);

protected:
    void build() override;
};

} // namespace corvessa
