#pragma once

#include "platform/core/RecorderError.h"

#include <functional>

// Runs a block and turns an exception it throws into an ordinary error value
// (domain "ObjCException", code 1, the exception's message), so that code that
// must not throw can call code that may. Exported from the program unmangled.
// Exceptions that do not derive from std::exception keep propagating.
extern "C" bool RecorderTryObjC(void (*block)(void* context), void* context, corvessa::RecorderError* error);

namespace corvessa {

// The same for any callable.
bool recorderTry(const std::function<void()>& block, RecorderError* error);

} // namespace corvessa
