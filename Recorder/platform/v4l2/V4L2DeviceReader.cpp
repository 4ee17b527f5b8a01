#include "platform/v4l2/V4L2DeviceReader.h"

#include "platform/ffmpeg/CameraFrameDecoder.h"

#include <algorithm>
#include <climits>
#include <cstring>
#include <numeric>

namespace corvessa {

namespace {

// Bounds on enumerations, against a driver that never says "no more".
constexpr uint32_t kMaxFormats = 64;
constexpr uint32_t kMaxSizes = 256;
constexpr uint32_t kMaxIntervals = 64;
// Used when the driver lists no frame durations and reports none in use.
constexpr MediaTime kFallbackInterval{1, 30};

template <size_t n>
QString fixedText(const __u8 (&text)[n])
{
    const auto* chars = reinterpret_cast<const char*>(text);
    return QString::fromUtf8(chars, qsizetype(strnlen(chars, n))).trimmed();
}

// A V4L2 fraction of seconds as a time; invalid when it is zero or too large.
MediaTime timeOf(const v4l2_fract& f)
{
    if (f.numerator == 0 || f.denominator == 0)
        return MediaTime::invalid();
    const uint32_t g = std::gcd(f.numerator, f.denominator);
    const uint32_t num = f.numerator / g;
    const uint32_t den = f.denominator / g;
    if (den > uint32_t(INT32_MAX))
        return MediaTime::invalid();
    return MediaTime(int64_t(num), int32_t(den));
}

// Raw layouts cost nothing to decode; JPEG costs a decoder.
int cost(uint32_t pixelFormat)
{
    return pixelFormat == CameraPixelFormat::MJPEG || pixelFormat == CameraPixelFormat::JPEG ? 1 : 0;
}

std::vector<CameraFormat::Intervals> intervals(V4L2Io& io, int fd, uint32_t pixelFormat, int width, int height)
{
    std::vector<CameraFormat::Intervals> result;
    for (uint32_t index = 0; index < kMaxIntervals; ++index) {
        v4l2_frmivalenum e{};
        e.index = index;
        e.pixel_format = pixelFormat;
        e.width = uint32_t(width);
        e.height = uint32_t(height);
        if (io.ioctl(fd, VIDIOC_ENUM_FRAMEINTERVALS, &e) < 0)
            break;
        if (e.type == V4L2_FRMIVAL_TYPE_DISCRETE) {
            const MediaTime t = timeOf(e.discrete);
            if (t.isValid())
                result.push_back({t, t, MediaTime::invalid()});
            continue;
        }
        // Stepwise and continuous answers come alone, at index 0.
        const MediaTime shortest = timeOf(e.stepwise.min);
        const MediaTime longest = timeOf(e.stepwise.max);
        if (shortest.isValid() && longest.isValid() && shortest <= longest) {
            MediaTime step = MediaTime::invalid();
            if (e.type == V4L2_FRMIVAL_TYPE_STEPWISE)
                step = timeOf(e.stepwise.step);
            result.push_back({shortest, longest, step});
        }
        break;
    }
    if (result.empty()) {
        // No list: the duration in use is the one we know works.
        v4l2_streamparm parm{};
        parm.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
        MediaTime t = MediaTime::invalid();
        if (io.ioctl(fd, VIDIOC_G_PARM, &parm) == 0)
            t = timeOf(parm.parm.capture.timeperframe);
        if (!t.isValid())
            t = kFallbackInterval;
        result.push_back({t, t, MediaTime::invalid()});
    }
    return result;
}

std::vector<std::pair<int, int>> sizes(V4L2Io& io, int fd, uint32_t pixelFormat)
{
    std::vector<std::pair<int, int>> result;
    for (uint32_t index = 0; index < kMaxSizes; ++index) {
        v4l2_frmsizeenum e{};
        e.index = index;
        e.pixel_format = pixelFormat;
        if (io.ioctl(fd, VIDIOC_ENUM_FRAMESIZES, &e) < 0)
            break;
        if (e.type == V4L2_FRMSIZE_TYPE_DISCRETE) {
            if (e.discrete.width > 0 && e.discrete.height > 0 && e.discrete.width <= INT_MAX
                && e.discrete.height <= INT_MAX)
                result.emplace_back(int(e.discrete.width), int(e.discrete.height));
            continue;
        }
        const auto& s = e.stepwise;
        const bool stepwise = e.type == V4L2_FRMSIZE_TYPE_STEPWISE;
        auto fits = [&](uint32_t w, uint32_t h) {
            if (w < s.min_width || w > s.max_width || h < s.min_height || h > s.max_height)
                return false;
            if (stepwise && s.step_width > 0 && (w - s.min_width) % s.step_width != 0)
                return false;
            if (stepwise && s.step_height > 0 && (h - s.min_height) % s.step_height != 0)
                return false;
            return true;
        };
        for (const auto& [w, h] : V4L2DeviceReader::commonSizes()) {
            if (fits(uint32_t(w), uint32_t(h)))
                result.emplace_back(w, h);
        }
        if (s.max_width > 0 && s.max_height > 0 && s.max_width <= INT_MAX && s.max_height <= INT_MAX
            && fits(s.max_width, s.max_height))
            result.emplace_back(int(s.max_width), int(s.max_height));
        break;
    }
    if (result.empty()) {
        // No list at all: the size in use, when it is in this layout.
        v4l2_format current{};
        current.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
        if (io.ioctl(fd, VIDIOC_G_FMT, &current) == 0 && current.fmt.pix.pixelformat == pixelFormat
            && current.fmt.pix.width > 0 && current.fmt.pix.height > 0 && current.fmt.pix.width <= INT_MAX
            && current.fmt.pix.height <= INT_MAX)
            result.emplace_back(int(current.fmt.pix.width), int(current.fmt.pix.height));
    }
    std::vector<std::pair<int, int>> unique;
    for (const auto& s : result) {
        if (std::find(unique.begin(), unique.end(), s) == unique.end())
            unique.push_back(s);
    }
    return unique;
}

} // namespace

const std::vector<std::pair<int, int>>& V4L2DeviceReader::commonSizes()
{
    static const std::vector<std::pair<int, int>> sizes{
        {160, 120},  {176, 144},  {320, 240},   {352, 288},   {640, 360},   {640, 480},
        {800, 600},  {960, 540},  {1024, 768},  {1280, 720},  {1280, 960},  {1600, 1200},
        {1920, 1080}, {2560, 1440}, {3840, 2160}, {4096, 2160},
    };
    return sizes;
}

uint32_t V4L2DeviceReader::capabilities(const v4l2_capability& cap)
{
    return (cap.capabilities & V4L2_CAP_DEVICE_CAPS) ? cap.device_caps : cap.capabilities;
}

bool V4L2DeviceReader::isCamera(const v4l2_capability& cap)
{
    const uint32_t caps = capabilities(cap);
    return (caps & V4L2_CAP_VIDEO_CAPTURE) && (caps & V4L2_CAP_STREAMING);
}

std::optional<CameraDevice> V4L2DeviceReader::read(V4L2Io& io, int fd, const QString& id)
{
    v4l2_capability cap{};
    if (io.ioctl(fd, VIDIOC_QUERYCAP, &cap) < 0 || !isCamera(cap))
        return std::nullopt;
    CameraDevice device;
    device.id = id;
    device.name = fixedText(cap.card);
    if (device.name.isEmpty())
        device.name = fixedText(cap.driver);
    device.formats = formats(io, fd);
    return device;
}

std::vector<CameraFormat> V4L2DeviceReader::formats(V4L2Io& io, int fd)
{
    std::vector<uint32_t> layouts;
    for (uint32_t index = 0; index < kMaxFormats; ++index) {
        v4l2_fmtdesc d{};
        d.index = index;
        d.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
        if (io.ioctl(fd, VIDIOC_ENUM_FMT, &d) < 0)
            break;
        if (CameraFrameDecoder::canDecode(d.pixelformat)
            && std::find(layouts.begin(), layouts.end(), d.pixelformat) == layouts.end())
            layouts.push_back(d.pixelformat);
    }
    std::stable_sort(layouts.begin(), layouts.end(), [](uint32_t a, uint32_t b) { return cost(a) < cost(b); });

    std::vector<CameraFormat> result;
    for (const uint32_t layout : layouts) {
        for (const auto& [w, h] : sizes(io, fd, layout))
            result.push_back(CameraFormat{w, h, layout, intervals(io, fd, layout, w, h)});
    }
    return result;
}

} // namespace corvessa
