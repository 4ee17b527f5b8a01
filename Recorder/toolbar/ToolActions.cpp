#include "toolbar/ToolActions.h"

#include "model/RecorderModel.h"
#include "prefs/Prefs.h"

namespace corvessa {

ToolActions ToolActions::standIn(RecorderModel& m)
{
    ToolActions a;
    a.toggleFocus = [&m] { m.setFocusOn(!m.focusOn()); };
    a.setFocusMode = [&m](int mode) { m.dependencies().prefs->setFocusMode(mode); };
    a.setPen = [&m](bool on) { m.setPenOn(on); };
    return a;
}

} // namespace corvessa
