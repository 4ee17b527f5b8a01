#pragma once

#include <pulse/context.h>
#include <pulse/operation.h>
#include <pulse/proplist.h>
#include <pulse/stream.h>
#include <pulse/thread-mainloop.h>

#include <initializer_list>
#include <memory>
#include <utility>

namespace corvessa {

// Owners of libpulse's reference-counted handles: each handle belongs to exactly
// one of these and is let go with the call libpulse pairs with it. Streams and
// operations must be released with the loop lock held, like every other call on
// them.
struct PulseFree {
    // Stops the loop's thread first (not from that thread).
    void operator()(pa_threaded_mainloop* m) const { pa_threaded_mainloop_free(m); }
    // A context must be let go after its loop's thread has stopped and before the
    // loop is freed: PulseContext, which owns the pair, sees to that order.
    void operator()(pa_context* c) const { pa_context_unref(c); }
    void operator()(pa_proplist* p) const { pa_proplist_free(p); }
    // Drops the reference only; a running operation carries on unless cancelled first.
    void operator()(pa_operation* o) const { pa_operation_unref(o); }
    // No callback may reach the owner of a stream after it is let go. A stream
    // that already failed or ended has nothing to disconnect, and trying would
    // overwrite the context's error code.
    void operator()(pa_stream* s) const
    {
        pa_stream_set_state_callback(s, nullptr, nullptr);
        pa_stream_set_read_callback(s, nullptr, nullptr);
        pa_stream_set_write_callback(s, nullptr, nullptr);
        if (PA_STREAM_IS_GOOD(pa_stream_get_state(s)))
            pa_stream_disconnect(s);
        pa_stream_unref(s);
    }
};

using PulseMainloopPtr = std::unique_ptr<pa_threaded_mainloop, PulseFree>;
using PulseContextPtr = std::unique_ptr<pa_context, PulseFree>;
using PulseProplistPtr = std::unique_ptr<pa_proplist, PulseFree>;
using PulseOperationPtr = std::unique_ptr<pa_operation, PulseFree>;
using PulseStreamPtr = std::unique_ptr<pa_stream, PulseFree>;

// A property list holding the given key and value pairs.
inline PulseProplistPtr pulseProperties(std::initializer_list<std::pair<const char*, const char*>> entries)
{
    PulseProplistPtr list(pa_proplist_new());
    for (const auto& [key, value] : entries)
        pa_proplist_sets(list.get(), key, value);
    return list;
}

} // namespace corvessa
