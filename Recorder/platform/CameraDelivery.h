#pragma once

#include "platform/CameraStreamOutput.h"
#include "platform/core/SampleBuffer.h"
#include "platform/core/SerialQueue.h"

#include <atomic>
#include <memory>
#include <mutex>

namespace corvessa {

// Hands a camera stream's output to its queue. Owned jointly by the stream and
// every delivery in flight, so a stream destroyed mid-delivery is safe; a
// delivery of an earlier start, or one after stop, is dropped.
struct CameraDelivery {
    // Not owned: whoever opens the stream keeps this queue alive until the stream is closed.
    SerialQueue* queue = nullptr;
    CameraStreamOutput output;
    std::recursive_mutex callMutex; // held during an output call; stop() takes it
    // One per start; late deliveries of an earlier start are dropped. Written under callMutex.
    std::atomic<uint64_t> generation{0};
    bool stopped = true; // guarded by callMutex
    std::atomic<int> pending{0};
    std::atomic<uint64_t> delivered{0};

    static void frame(const std::shared_ptr<CameraDelivery>& self, uint64_t generation, SampleBuffer sample)
    {
        self->pending.fetch_add(1);
        self->queue->async([self, generation, sample = std::move(sample)] {
            {
                std::lock_guard lock(self->callMutex);
                if (!self->stopped && self->generation == generation && self->output.onFrame) {
                    self->delivered.fetch_add(1);
                    self->output.onFrame(sample);
                }
            }
            self->pending.fetch_sub(1);
        });
    }
    static void drops(const std::shared_ptr<CameraDelivery>& self, uint64_t generation, int count)
    {
        self->queue->async([self, generation, count] {
            std::lock_guard lock(self->callMutex);
            if (!self->stopped && self->generation == generation && self->output.onDrop)
                self->output.onDrop(count);
        });
    }
    static void ended(const std::shared_ptr<CameraDelivery>& self, uint64_t generation, CameraError error)
    {
        self->queue->async([self, generation, error = std::move(error)] {
            std::lock_guard lock(self->callMutex);
            if (self->stopped || self->generation != generation)
                return;
            self->stopped = true;
            if (self->output.onStop)
                self->output.onStop(error);
        });
    }
};

} // namespace corvessa
