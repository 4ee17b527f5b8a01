#pragma once

#include "platform/CameraDelivery.h"

#include "platform/ffmpeg/CameraFrameDecoder.h"
#include "platform/CameraStream.h"
#include "platform/CameraStreamOutput.h"
#include "platform/core/WakeFd.h"
#include "platform/v4l2/V4L2Io.h"

#include <linux/videodev2.h>

#include <atomic>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

namespace corvessa {

class SerialQueue;

// A V4L2 camera on an open node. configure() sets the size and layout
// (VIDIOC_S_FMT), locks the frame duration (VIDIOC_S_PARM) and maps the
// buffers; start() queues them and turns streaming on. A thread of the stream
// polls the node, dequeues each frame, decodes it into a pixel buffer, queues
// the buffer again and posts the picture to the output queue, with the
// driver's monotonic time stamp (the host clock itself) as its time. The node
// going away (POLLERR, ENODEV) ends the stream as Disconnected.
class V4L2CameraStream : public CameraStream {
public:
    // Frame buffers asked of the driver: enough to ride out a late dequeue.
    static constexpr uint32_t kBufferCount = 4;
    // Pictures waiting for the output queue beyond this are dropped.
    static constexpr int kMaxPending = 2;

    // Takes the open descriptor over.
    V4L2CameraStream(std::shared_ptr<V4L2Io> io, int fd, CameraDevice device, SerialQueue* queue,
                     CameraStreamOutput output);
    ~V4L2CameraStream() override;

    const CameraDevice& device() const override { return m_device; }
    std::optional<CameraError> configure(const Request& request) override;
    std::optional<ActiveFormat> activeFormat() const override;
    std::optional<CameraError> start() override;
    void stop() override;
    bool isRunning() const override;

    // A host-clock time (ns) for a dequeued buffer: its own time when the driver
    // stamps buffers with the monotonic clock, else `now`.
    static int64_t hostTime(const v4l2_buffer& buffer, int64_t now);
    // A system error as a camera error of the given kind (ENODEV always means the
    // device went away).
    static CameraError systemError(CameraErrorCode code, int error);

private:
    using Shared = CameraDelivery;
    struct Mapping {
        void* start = nullptr;
        size_t length = 0;
    };

    std::optional<CameraError> mapBuffers();
    void releaseBuffers();
    void lockInterval();
    void stopLocked();
    void run(uint64_t generation, MediaTime interval);
    // False when the stream ended.
    bool dequeue(uint64_t generation, MediaTime interval);
    void fail(uint64_t generation, const CameraError& error);

    const std::shared_ptr<V4L2Io> m_io;
    const int m_fd;
    const CameraDevice m_device;
    std::shared_ptr<Shared> m_shared;
    const WakeFd m_wake; // ends the poll thread's wait

    mutable std::mutex m_mutex; // guards the control state below
    std::optional<ActiveFormat> m_active;
    MediaTime m_wantedInterval;
    std::vector<Mapping> m_buffers;
    bool m_running = false;
    std::thread m_thread;

    // The poll thread's own state while it runs.
    CameraFrameDecoder m_decoder;
    std::atomic<bool> m_ended{false};
    bool m_haveSequence = false;
    uint32_t m_lastSequence = 0;
};

} // namespace corvessa
