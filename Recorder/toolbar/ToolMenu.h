#pragma once

#include "model/MenuRow.h"
#include "toolbar/ToolActions.h"

namespace corvessa {

class RecorderModel;

// The tools menu of the compact recording row: full-screen camera, the
// magnifier's switches and zoom, the pen and the teleprompter, built afresh
// from the model each time it opens. Main thread.
class ToolMenu {
public:
    ToolMenu() = delete;

    static MenuRows tools(RecorderModel& m, const ToolActions& actions);
};

} // namespace corvessa
