#include "platform/core/RecorderTryObjC.h"

#include <cxxabi.h>
#include <cstdlib>
#include <exception>
#include <memory>
#include <typeinfo>

namespace {

// The exception's type name, readable: what stands for its name when it has no message.
QString typeName(const std::exception& e)
{
    const char* mangled = typeid(e).name();
    int status = 0;
    std::unique_ptr<char, void (*)(void*)> demangled(abi::__cxa_demangle(mangled, nullptr, nullptr, &status), std::free);
    return QString::fromUtf8(status == 0 && demangled ? demangled.get() : mangled);
}

} // namespace

extern "C" __attribute__((visibility("default"))) bool RecorderTryObjC(void (*block)(void*), void* context,
                                                                       corvessa::RecorderError* error)
{
    try {
        if (block)
            block(context);
        return true;
    } catch (const std::exception& e) {
        if (error) {
            const char* what = e.what();
            const QString reason = what && *what ? QString::fromUtf8(what) : typeName(e);
            *error = corvessa::RecorderError{QStringLiteral("ObjCException"), 1, reason};
        }
        return false;
    }
}

namespace corvessa {

bool recorderTry(const std::function<void()>& block, RecorderError* error)
{
    return RecorderTryObjC([](void* ctx) { (*static_cast<const std::function<void()>*>(ctx))(); },
                           const_cast<std::function<void()>*>(&block), error);
}

} // namespace corvessa
