#pragma once

#include <functional>

namespace corvessa {

// Runs `work` on a thread of its own and waits for it. Every thread started
// inside `work` keeps the priority it was born with (its creator's): when such
// a thread changes its own priority the way nice() does, the call succeeds and
// changes nothing. libx265 lowers each of its worker threads by ten nice steps,
// so on a machine whose every CPU is busy its pool gets about a tenth of a
// normal thread's share and falls seconds behind; an unprivileged program can
// lower a priority but never raise it back, so the change is kept from
// happening. The opening thread ends with `work` and nothing else runs under
// the rule. Returns false when this kernel or architecture cannot keep the
// priority (`work` has run all the same).
//
// `lowerBy` nice steps are taken off the opening thread first (which needs no
// privilege), so the threads `work` starts run that much below their creator:
// a few steps keep them from crowding out the creator's other threads on a
// busy machine, where ten starve them.
bool runWithPriorityKept(const std::function<void()>& work, int lowerBy = 0);

} // namespace corvessa
