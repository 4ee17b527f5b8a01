#pragma once

#include "capture/TextLookup.h"

#include <QString>

namespace corvessa {

// The English key of the frame-rate label template.
inline constexpr const char* videoRateLabelKey = textKey("%@ fps");

// Menu text of a frame rate: "30 fps", "29.97 fps". Whole rates print without a
// fraction, others with two decimals; the template is the translation of "%@ fps".
QString videoRateLabel(double rate, const TextLookup& text);

} // namespace corvessa
