#include "FakeV4L2Io.h"

#include "platform/CameraFormat.h"

#include <sys/mman.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstring>
#include <thread>

namespace corvessa::test {

namespace {

double seconds(const v4l2_fract& f)
{
    return f.denominator ? double(f.numerator) / double(f.denominator) : 0.0;
}

void copyText(__u8* to, size_t size, const QString& text)
{
    const QByteArray bytes = text.toUtf8();
    std::memset(to, 0, size);
    std::memcpy(to, bytes.constData(), std::min(size - 1, size_t(bytes.size())));
}

bool isRaw(uint32_t fourcc)
{
    return fourcc != CameraPixelFormat::MJPEG && fourcc != CameraPixelFormat::JPEG;
}

} // namespace

void FakeV4L2Io::addDevice(FakeV4L2Device device)
{
    std::lock_guard lock(m_mutex);
    const QString path = device.path;
    m_nodes[path] = Node{std::move(device), false, {}};
}

void FakeV4L2Io::unplug(const QString& path)
{
    std::lock_guard lock(m_mutex);
    auto it = m_nodes.find(path);
    if (it != m_nodes.end())
        it->second.unplugged = true;
}

void FakeV4L2Io::pushFrame(const QString& path, std::vector<uint8_t> bytes, int64_t timestampNs, uint32_t sequence,
                           uint32_t flags)
{
    std::lock_guard lock(m_mutex);
    m_nodes[path].frames.push_back(Frame{std::move(bytes), timestampNs, sequence, flags});
}

std::vector<unsigned long> FakeV4L2Io::requests() const
{
    std::lock_guard lock(m_mutex);
    return m_requests;
}

std::optional<v4l2_pix_format> FakeV4L2Io::lastSetFormat() const
{
    std::lock_guard lock(m_mutex);
    return m_lastFormat;
}

std::optional<v4l2_fract> FakeV4L2Io::lastSetInterval() const
{
    std::lock_guard lock(m_mutex);
    return m_lastInterval;
}

int FakeV4L2Io::openDescriptors() const
{
    std::lock_guard lock(m_mutex);
    return int(m_open.size());
}

int FakeV4L2Io::mappedBuffers() const
{
    std::lock_guard lock(m_mutex);
    int n = 0;
    for (const auto& [fd, o] : m_open)
        n += o.mapped;
    return n;
}

std::vector<QString> FakeV4L2Io::listNodes(const QString&)
{
    std::lock_guard lock(m_mutex);
    std::vector<QString> nodes;
    for (const auto& [path, node] : m_nodes) {
        if (!node.unplugged)
            nodes.push_back(path);
    }
    std::sort(nodes.begin(), nodes.end(), [](const QString& a, const QString& b) {
        return a.mid(10).toInt() < b.mid(10).toInt(); // "/dev/video" + number
    });
    return nodes;
}

QString FakeV4L2Io::persistentName(const QString& node)
{
    std::lock_guard lock(m_mutex);
    auto it = m_nodes.find(node);
    return it == m_nodes.end() ? QString() : it->second.device.persistentName;
}

int FakeV4L2Io::access(const QString& path)
{
    std::lock_guard lock(m_mutex);
    auto it = m_nodes.find(path);
    errno = it == m_nodes.end() || it->second.unplugged ? ENOENT : it->second.device.openError;
    return errno ? -1 : 0;
}

int FakeV4L2Io::open(const QString& path)
{
    std::lock_guard lock(m_mutex);
    auto it = m_nodes.find(path);
    if (it == m_nodes.end() || it->second.unplugged) {
        errno = ENOENT;
        return -1;
    }
    if (it->second.device.openError) {
        errno = it->second.device.openError;
        return -1;
    }
    const int fd = m_nextFd++;
    Open o;
    o.path = path;
    m_open[fd] = std::move(o);
    return fd;
}

int FakeV4L2Io::close(int fd)
{
    std::lock_guard lock(m_mutex);
    if (m_open.erase(fd) == 0) {
        errno = EBADF;
        return -1;
    }
    return 0;
}

const FakeV4L2Device::Format* FakeV4L2Io::findFormat(const Node& node, uint32_t fourcc) const
{
    for (const auto& f : node.device.formats) {
        if (f.fourcc == fourcc)
            return &f;
    }
    return nullptr;
}

std::vector<v4l2_fract> FakeV4L2Io::intervalsFor(const FakeV4L2Device::Format& format, uint32_t w, uint32_t h) const
{
    if (format.sizeRange)
        return format.rangeIntervals;
    for (const auto& s : format.sizes) {
        if (s.width == w && s.height == h)
            return s.intervals;
    }
    return {};
}

int FakeV4L2Io::ioctl(int fd, unsigned long request, void* argument)
{
    std::lock_guard lock(m_mutex);
    m_requests.push_back(request);
    auto it = m_open.find(fd);
    if (it == m_open.end()) {
        errno = EBADF;
        return -1;
    }
    Node& node = m_nodes[it->second.path];
    if (node.unplugged) {
        errno = ENODEV;
        return -1;
    }
    const int error = answer(it->second, node, request, argument);
    if (error) {
        errno = error;
        return -1;
    }
    return 0;
}

int FakeV4L2Io::answer(Open& open, Node& node, unsigned long request, void* argument)
{
    const FakeV4L2Device& device = node.device;
    switch (request) {
    case VIDIOC_QUERYCAP: {
        auto* cap = static_cast<v4l2_capability*>(argument);
        *cap = v4l2_capability{};
        copyText(cap->driver, sizeof cap->driver, QStringLiteral("fake"));
        copyText(cap->card, sizeof cap->card, device.card);
        copyText(cap->bus_info, sizeof cap->bus_info, QStringLiteral("usb-fake"));
        cap->device_caps = device.deviceCaps;
        cap->capabilities = device.deviceCaps | V4L2_CAP_META_CAPTURE | V4L2_CAP_DEVICE_CAPS;
        return 0;
    }
    case VIDIOC_ENUM_FMT: {
        auto* d = static_cast<v4l2_fmtdesc*>(argument);
        if (d->type != V4L2_BUF_TYPE_VIDEO_CAPTURE || d->index >= device.formats.size())
            return EINVAL;
        d->pixelformat = device.formats[d->index].fourcc;
        d->flags = isRaw(d->pixelformat) ? 0 : V4L2_FMT_FLAG_COMPRESSED;
        copyText(d->description, sizeof d->description, CameraPixelFormat::name(d->pixelformat));
        return 0;
    }
    case VIDIOC_ENUM_FRAMESIZES: {
        auto* e = static_cast<v4l2_frmsizeenum*>(argument);
        const auto* format = findFormat(node, e->pixel_format);
        if (!format)
            return EINVAL;
        if (format->sizeRange) {
            if (e->index != 0)
                return EINVAL;
            e->type = format->continuousSizes ? V4L2_FRMSIZE_TYPE_CONTINUOUS : V4L2_FRMSIZE_TYPE_STEPWISE;
            e->stepwise = *format->sizeRange;
            return 0;
        }
        if (e->index >= format->sizes.size())
            return EINVAL;
        e->type = V4L2_FRMSIZE_TYPE_DISCRETE;
        e->discrete = {format->sizes[e->index].width, format->sizes[e->index].height};
        return 0;
    }
    case VIDIOC_ENUM_FRAMEINTERVALS: {
        auto* e = static_cast<v4l2_frmivalenum*>(argument);
        const auto* format = findFormat(node, e->pixel_format);
        if (!format)
            return EINVAL;
        if (format->intervalRange) {
            if (e->index != 0)
                return EINVAL;
            const auto& r = *format->intervalRange;
            e->type = r.continuous ? V4L2_FRMIVAL_TYPE_CONTINUOUS : V4L2_FRMIVAL_TYPE_STEPWISE;
            e->stepwise = {r.min, r.max, r.continuous ? v4l2_fract{1, 1} : r.step};
            return 0;
        }
        const auto intervals = intervalsFor(*format, e->width, e->height);
        if (e->index >= intervals.size())
            return EINVAL;
        e->type = V4L2_FRMIVAL_TYPE_DISCRETE;
        e->discrete = intervals[e->index];
        return 0;
    }
    case VIDIOC_G_FMT: {
        auto* f = static_cast<v4l2_format*>(argument);
        if (f->type != V4L2_BUF_TYPE_VIDEO_CAPTURE)
            return EINVAL;
        f->fmt.pix = open.format;
        return 0;
    }
    case VIDIOC_S_FMT: {
        auto* f = static_cast<v4l2_format*>(argument);
        if (f->type != V4L2_BUF_TYPE_VIDEO_CAPTURE || device.formats.empty())
            return EINVAL;
        m_lastFormat = f->fmt.pix;
        if (device.sFmtError)
            return device.sFmtError;
        if (!open.buffers.empty())
            return EBUSY;
        // Drivers substitute a layout they have and the nearest size.
        const auto* format = findFormat(node, f->fmt.pix.pixelformat);
        if (!format)
            format = &device.formats.front();
        uint32_t w = f->fmt.pix.width;
        uint32_t h = f->fmt.pix.height;
        if (format->sizeRange) {
            const auto& r = *format->sizeRange;
            w = std::clamp(w, r.min_width, r.max_width);
            h = std::clamp(h, r.min_height, r.max_height);
            if (!format->continuousSizes && r.step_width)
                w = r.min_width + (w - r.min_width) / r.step_width * r.step_width;
            if (!format->continuousSizes && r.step_height)
                h = r.min_height + (h - r.min_height) / r.step_height * r.step_height;
        } else {
            const FakeV4L2Device::Size* best = nullptr;
            int64_t bestDistance = INT64_MAX;
            for (const auto& s : format->sizes) {
                const int64_t d = std::abs(int64_t(s.width) - int64_t(w)) + std::abs(int64_t(s.height) - int64_t(h));
                if (d < bestDistance) {
                    bestDistance = d;
                    best = &s;
                }
            }
            if (!best)
                return EINVAL;
            w = best->width;
            h = best->height;
        }
        v4l2_pix_format pix{};
        pix.width = w;
        pix.height = h;
        pix.pixelformat = format->fourcc;
        pix.field = V4L2_FIELD_NONE;
        switch (format->fourcc) {
        case CameraPixelFormat::YUYV:
        case CameraPixelFormat::UYVY:
            pix.bytesperline = w * 2 + device.linePadding;
            pix.sizeimage = pix.bytesperline * h;
            break;
        case CameraPixelFormat::NV12:
        case CameraPixelFormat::YU12:
            pix.bytesperline = w + device.linePadding;
            pix.sizeimage = pix.bytesperline * h * 3 / 2;
            break;
        default:
            pix.bytesperline = 0;
            pix.sizeimage = w * h * 2;
            break;
        }
        pix.colorspace = isRaw(format->fourcc) ? V4L2_COLORSPACE_SRGB : V4L2_COLORSPACE_JPEG;
        pix.priv = V4L2_PIX_FMT_PRIV_MAGIC;
        open.format = pix;
        f->fmt.pix = pix;
        const auto intervals = intervalsFor(*format, w, h);
        if (!intervals.empty())
            open.interval = intervals.front();
        return 0;
    }
    case VIDIOC_G_PARM:
    case VIDIOC_S_PARM: {
        auto* p = static_cast<v4l2_streamparm*>(argument);
        if (p->type != V4L2_BUF_TYPE_VIDEO_CAPTURE)
            return EINVAL;
        if (request == VIDIOC_S_PARM) {
            m_lastInterval = p->parm.capture.timeperframe;
            if (!device.timePerFrame)
                return ENOTTY;
            if (open.streaming)
                return EBUSY;
            const double wanted = seconds(p->parm.capture.timeperframe);
            const auto* format = findFormat(node, open.format.pixelformat);
            if (format && format->intervalRange) {
                const auto& r = *format->intervalRange;
                const double lo = seconds(r.min);
                const double hi = seconds(r.max);
                const double t = std::clamp(wanted, lo, hi);
                if (r.continuous) {
                    open.interval = t == wanted ? p->parm.capture.timeperframe : (t == lo ? r.min : r.max);
                } else {
                    // min + n * step, over the common denominator
                    const uint32_t n = uint32_t(std::lround((t - lo) / seconds(r.step)));
                    open.interval = {r.min.numerator * r.step.denominator + n * r.step.numerator * r.min.denominator,
                                     r.min.denominator * r.step.denominator};
                }
            } else if (format) {
                double best = 1e9;
                for (const auto& i : intervalsFor(*format, open.format.width, open.format.height)) {
                    if (std::abs(seconds(i) - wanted) < best) {
                        best = std::abs(seconds(i) - wanted);
                        open.interval = i;
                    }
                }
            }
        }
        p->parm.capture = v4l2_captureparm{};
        p->parm.capture.capability = device.timePerFrame ? V4L2_CAP_TIMEPERFRAME : 0;
        p->parm.capture.timeperframe = open.interval;
        return 0;
    }
    case VIDIOC_REQBUFS: {
        auto* r = static_cast<v4l2_requestbuffers*>(argument);
        if (r->memory != V4L2_MEMORY_MMAP || r->type != V4L2_BUF_TYPE_VIDEO_CAPTURE)
            return EINVAL;
        if (open.streaming)
            return EBUSY;
        if (r->count == 0) {
            open.buffers.clear();
            open.queued.clear();
            return 0;
        }
        if (device.reqBufsError)
            return device.reqBufsError;
        r->count = std::min<uint32_t>(r->count, 8);
        open.buffers.assign(r->count, std::vector<uint8_t>(std::max<uint32_t>(open.format.sizeimage, 1)));
        open.queued.assign(r->count, false);
        return 0;
    }
    case VIDIOC_QUERYBUF: {
        auto* b = static_cast<v4l2_buffer*>(argument);
        if (b->index >= open.buffers.size())
            return EINVAL;
        b->length = uint32_t(open.buffers[b->index].size());
        b->m.offset = uint32_t(b->index * kBufferStride);
        return 0;
    }
    case VIDIOC_QBUF: {
        auto* b = static_cast<v4l2_buffer*>(argument);
        if (b->index >= open.buffers.size() || open.queued[b->index])
            return EINVAL;
        open.queued[b->index] = true;
        return 0;
    }
    case VIDIOC_DQBUF: {
        auto* b = static_cast<v4l2_buffer*>(argument);
        if (!open.streaming)
            return EINVAL;
        auto slot = std::find(open.queued.begin(), open.queued.end(), true);
        if (slot == open.queued.end() || node.frames.empty())
            return EAGAIN;
        const uint32_t index = uint32_t(slot - open.queued.begin());
        Frame frame = std::move(node.frames.front());
        node.frames.pop_front();
        auto& buffer = open.buffers[index];
        const size_t n = std::min(buffer.size(), frame.bytes.size());
        std::memcpy(buffer.data(), frame.bytes.data(), n);
        open.queued[index] = false;
        b->index = index;
        b->bytesused = uint32_t(n);
        b->flags = frame.flags | device.timestampFlags;
        b->sequence = frame.sequence;
        b->timestamp.tv_sec = frame.timestampNs / 1'000'000'000;
        b->timestamp.tv_usec = (frame.timestampNs % 1'000'000'000) / 1000;
        return 0;
    }
    case VIDIOC_STREAMON:
        if (device.streamOnError)
            return device.streamOnError;
        if (open.buffers.empty())
            return EINVAL;
        open.streaming = true;
        return 0;
    case VIDIOC_STREAMOFF:
        open.streaming = false;
        std::fill(open.queued.begin(), open.queued.end(), false);
        return 0;
    case VIDIOC_QUERYCTRL:
    case VIDIOC_G_CTRL:
    case VIDIOC_S_CTRL: {
        const uint32_t id = request == VIDIOC_QUERYCTRL ? static_cast<v4l2_queryctrl*>(argument)->id
                                                        : static_cast<v4l2_control*>(argument)->id;
        const auto control = std::find_if(device.controls.begin(), device.controls.end(),
                                          [id](const v4l2_queryctrl& c) { return c.id == id; });
        if (control == device.controls.end())
            return EINVAL;
        if (request == VIDIOC_QUERYCTRL) {
            *static_cast<v4l2_queryctrl*>(argument) = *control;
            return 0;
        }
        auto* value = static_cast<v4l2_control*>(argument);
        if (request == VIDIOC_G_CTRL) {
            const auto set = node.controlValues.find(id);
            value->value = set == node.controlValues.end() ? control->default_value : set->second;
            return 0;
        }
        if (value->value < control->minimum || value->value > control->maximum)
            return ERANGE;
        node.controlValues[id] = value->value;
        return 0;
    }
    default:
        return ENOTTY;
    }
}

void* FakeV4L2Io::mmap(size_t length, int fd, int64_t offset)
{
    std::lock_guard lock(m_mutex);
    auto it = m_open.find(fd);
    if (it == m_open.end() || offset % kBufferStride != 0) {
        errno = EINVAL;
        return MAP_FAILED;
    }
    const size_t index = size_t(offset / kBufferStride);
    if (index >= it->second.buffers.size() || length > it->second.buffers[index].size()) {
        errno = EINVAL;
        return MAP_FAILED;
    }
    it->second.mapped += 1;
    return it->second.buffers[index].data();
}

int FakeV4L2Io::munmap(void* address, size_t)
{
    std::lock_guard lock(m_mutex);
    for (auto& [fd, o] : m_open) {
        for (auto& b : o.buffers) {
            if (b.data() == address) {
                o.mapped -= 1;
                return 0;
            }
        }
    }
    // The buffers may be gone already (REQBUFS 0 came first); the mapping count still drops.
    for (auto& [fd, o] : m_open) {
        if (o.mapped > 0) {
            o.mapped -= 1;
            return 0;
        }
    }
    return 0;
}

short FakeV4L2Io::readiness(int fd)
{
    auto it = m_open.find(fd);
    if (it == m_open.end())
        return POLLNVAL;
    const Node& node = m_nodes[it->second.path];
    if (node.unplugged)
        return POLLERR;
    const Open& o = it->second;
    if (!o.streaming)
        return POLLERR;
    const bool queued = std::find(o.queued.begin(), o.queued.end(), true) != o.queued.end();
    return queued && !node.frames.empty() ? POLLIN : 0;
}

int FakeV4L2Io::poll(pollfd* fds, nfds_t count, int timeoutMs)
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        int ready = 0;
        {
            std::lock_guard lock(m_mutex);
            for (nfds_t i = 0; i < count; ++i) {
                fds[i].revents = 0;
                if (m_open.count(fds[i].fd)) {
                    fds[i].revents = short(readiness(fds[i].fd) & (fds[i].events | POLLERR | POLLHUP | POLLNVAL));
                } else {
                    pollfd real = fds[i];
                    if (::poll(&real, 1, 0) > 0)
                        fds[i].revents = real.revents;
                }
                if (fds[i].revents)
                    ++ready;
            }
        }
        if (ready > 0)
            return ready;
        if (timeoutMs >= 0 && std::chrono::steady_clock::now() >= deadline)
            return 0;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
}

} // namespace corvessa::test
