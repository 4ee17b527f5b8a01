#pragma once

#include "platform/v4l2/V4L2Io.h"

#include <linux/videodev2.h>

#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

namespace corvessa::test {

// A V4L2 device as recorded: what it answers to each ioctl, and frames to
// deliver. Sizes are either a discrete list, each with its own frame
// intervals, or one stepwise/continuous range whose sizes share `rangeIntervals`.
struct FakeV4L2Device {
    struct Size {
        uint32_t width = 0;
        uint32_t height = 0;
        std::vector<v4l2_fract> intervals; // discrete
    };
    // Frame intervals given as one range instead of a list.
    struct IntervalRange {
        v4l2_fract min{}, max{}, step{};
        bool continuous = false;
    };
    struct Format {
        uint32_t fourcc = 0;
        std::vector<Size> sizes;
        std::optional<v4l2_frmsize_stepwise> sizeRange; // instead of `sizes`
        bool continuousSizes = false;
        std::vector<v4l2_fract> rangeIntervals;        // for sizes out of `sizeRange`
        std::optional<IntervalRange> intervalRange;    // instead of the discrete lists
    };
    // A layout with a discrete list of sizes.
    static Format discrete(uint32_t fourcc, std::vector<Size> sizes)
    {
        Format f;
        f.fourcc = fourcc;
        f.sizes = std::move(sizes);
        return f;
    }

    QString path;
    QString persistentName;
    QString card = QStringLiteral("Fake Camera");
    uint32_t deviceCaps = V4L2_CAP_VIDEO_CAPTURE | V4L2_CAP_STREAMING;
    std::vector<Format> formats;
    bool timePerFrame = true;
    uint32_t timestampFlags = V4L2_BUF_FLAG_TIMESTAMP_MONOTONIC;
    uint32_t linePadding = 0; // extra bytes per line of raw layouts
    // Errors to answer with (errno), 0 for none.
    int sFmtError = 0;
    int reqBufsError = 0;
    int streamOnError = 0;
    int openError = 0;
    // The picture controls it answers VIDIOC_QUERYCTRL for; values start at the defaults.
    std::vector<v4l2_queryctrl> controls;
};

// Plays recorded V4L2 devices through the V4L2Io interface: enumerations,
// format and frame-interval negotiation the way drivers do it (the nearest size
// and interval win), mmap buffers, queueing, polling and frames pushed by the
// test. Descriptors that are not the fake's (a stream's wake-up eventfd) are
// polled for real. Thread-safe.
class FakeV4L2Io : public V4L2Io {
public:
    // Offsets of the buffers' mappings.
    static constexpr int64_t kBufferStride = 1 << 20;

    void addDevice(FakeV4L2Device device);
    // The node disappears: listings drop it, calls on open descriptors fail with
    // ENODEV and polls report POLLERR.
    void unplug(const QString& path);
    // A frame the device will deliver to the descriptor that streams from it.
    void pushFrame(const QString& path, std::vector<uint8_t> bytes, int64_t timestampNs, uint32_t sequence,
                   uint32_t flags = 0);

    // Every ioctl request made so far, in order.
    std::vector<unsigned long> requests() const;
    // The last format and interval asked for with S_FMT and S_PARM.
    std::optional<v4l2_pix_format> lastSetFormat() const;
    std::optional<v4l2_fract> lastSetInterval() const;
    int openDescriptors() const;
    int mappedBuffers() const;

    std::vector<QString> listNodes(const QString& directory) override;
    QString persistentName(const QString& node) override;
    // Answers as open() would, without opening.
    int access(const QString& path) override;
    int open(const QString& path) override;
    int close(int fd) override;
    int ioctl(int fd, unsigned long request, void* argument) override;
    void* mmap(size_t length, int fd, int64_t offset) override;
    int munmap(void* address, size_t length) override;
    int poll(pollfd* fds, nfds_t count, int timeoutMs) override;

private:
    struct Frame {
        std::vector<uint8_t> bytes;
        int64_t timestampNs = 0;
        uint32_t sequence = 0;
        uint32_t flags = 0;
    };
    struct Node {
        FakeV4L2Device device;
        bool unplugged = false;
        std::deque<Frame> frames;
        std::map<uint32_t, int32_t> controlValues; // set through VIDIOC_S_CTRL
    };
    struct Open {
        QString path;
        v4l2_pix_format format{};
        v4l2_fract interval{1, 30};
        std::vector<std::vector<uint8_t>> buffers;
        std::vector<bool> queued;
        int mapped = 0;
        bool streaming = false;
    };

    int answer(Open& open, Node& node, unsigned long request, void* argument);
    const FakeV4L2Device::Format* findFormat(const Node& node, uint32_t fourcc) const;
    std::vector<v4l2_fract> intervalsFor(const FakeV4L2Device::Format& format, uint32_t w, uint32_t h) const;
    short readiness(int fd);

    mutable std::mutex m_mutex;
    std::map<QString, Node> m_nodes;
    std::map<int, Open> m_open;
    int m_nextFd = 1000;
    std::vector<unsigned long> m_requests;
    std::optional<v4l2_pix_format> m_lastFormat;
    std::optional<v4l2_fract> m_lastInterval;
};

} // namespace corvessa::test
