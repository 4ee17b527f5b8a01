#pragma once

#include "platform/AudioThreadBoost.h"

namespace corvessa {

// Leaves every thread as it is: for machines without a system bus and for
// tests. Holds no state.
class SyntheticAudioThreadBoost : public AudioThreadBoost {
public:
    void boost(pid_t) override {}
    void release(pid_t) override {}
};

} // namespace corvessa
