#pragma once

namespace corvessa {

// How deeply a paused recording rests: at first it only stops writing, later
// it slows its capture, at last it stops it.
enum class PauseTier { instant, eco, deep };

} // namespace corvessa
