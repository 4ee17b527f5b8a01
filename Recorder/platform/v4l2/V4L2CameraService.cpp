#include "platform/v4l2/V4L2CameraService.h"

#include "platform/v4l2/V4L2CameraStream.h"
#include "platform/v4l2/V4L2DeviceReader.h"
#include "platform/v4l2/V4L2DeviceWatcher.h"
#include "platform/v4l2/V4L2SystemIo.h"

#include <algorithm>
#include <cerrno>

#include <linux/videodev2.h>

namespace corvessa {

V4L2CameraService::V4L2CameraService() : V4L2CameraService(std::make_shared<V4L2SystemIo>())
{
}

V4L2CameraService::V4L2CameraService(std::shared_ptr<V4L2Io> io, QString directory, std::chrono::milliseconds settle)
    : m_io(std::move(io)), m_directory(std::move(directory)), m_settle(settle)
{
}

V4L2CameraService::~V4L2CameraService()
{
    // The watcher's thread calls rescan(): it ends before anything it uses.
    std::unique_ptr<V4L2DeviceWatcher> watcher;
    {
        std::lock_guard lock(m_mutex);
        watcher = std::move(m_watcher);
    }
    watcher.reset();
}

std::vector<V4L2CameraService::Node> V4L2CameraService::nodes()
{
    std::vector<Node> result;
    for (const QString& path : m_io->listNodes(m_directory)) {
        QString id = m_io->persistentName(path);
        result.push_back(Node{path, id.isEmpty() ? path : id});
    }
    return result;
}

std::vector<CameraDevice> V4L2CameraService::devices()
{
    std::vector<CameraDevice> result;
    for (const Node& node : nodes()) {
        const int fd = m_io->open(node.path);
        if (fd < 0)
            continue; // gone meanwhile, or not ours to open
        if (auto device = V4L2DeviceReader::read(*m_io, fd, node.id)) {
            // Two nodes under one persistent name: the first is the camera.
            const bool seen = std::any_of(result.begin(), result.end(),
                                          [&](const CameraDevice& d) { return d.id == device->id; });
            if (!seen)
                result.push_back(std::move(*device));
        }
        m_io->close(fd);
    }
    return result;
}

namespace {

uint32_t controlId(CameraPictureControl::Kind kind)
{
    switch (kind) {
    case CameraPictureControl::Kind::brightness:
        return V4L2_CID_BRIGHTNESS;
    case CameraPictureControl::Kind::contrast:
        return V4L2_CID_CONTRAST;
    case CameraPictureControl::Kind::saturation:
        return V4L2_CID_SATURATION;
    case CameraPictureControl::Kind::autoWhiteBalance:
        return V4L2_CID_AUTO_WHITE_BALANCE;
    case CameraPictureControl::Kind::whiteBalance:
        return V4L2_CID_WHITE_BALANCE_TEMPERATURE;
    case CameraPictureControl::Kind::backlightCompensation:
        break;
    }
    return V4L2_CID_BACKLIGHT_COMPENSATION;
}

} // namespace

int V4L2CameraService::openNode(const QString& id)
{
    for (const Node& node : nodes()) {
        if (node.id != id)
            continue;
        const int fd = m_io->open(node.path);
        if (fd >= 0)
            return fd;
    }
    return -1;
}

std::vector<CameraPictureControl> V4L2CameraService::controls(const QString& id)
{
    std::vector<CameraPictureControl> result;
    const int fd = openNode(id);
    if (fd < 0)
        return result;
    for (CameraPictureControl::Kind kind : CameraPictureControl::allKinds()) {
        v4l2_queryctrl query{};
        query.id = controlId(kind);
        if (m_io->ioctl(fd, VIDIOC_QUERYCTRL, &query) < 0 || (query.flags & V4L2_CTRL_FLAG_DISABLED))
            continue;
        if (query.type != V4L2_CTRL_TYPE_INTEGER && query.type != V4L2_CTRL_TYPE_BOOLEAN)
            continue;
        v4l2_control current{};
        current.id = query.id;
        if (m_io->ioctl(fd, VIDIOC_G_CTRL, &current) < 0)
            continue;
        result.push_back({kind, query.minimum, query.maximum, std::max(1, query.step), query.default_value,
                          current.value, query.type == V4L2_CTRL_TYPE_BOOLEAN});
    }
    m_io->close(fd);
    return result;
}

bool V4L2CameraService::setControl(const QString& id, CameraPictureControl::Kind kind, int value)
{
    const int fd = openNode(id);
    if (fd < 0)
        return false;
    v4l2_control control{};
    control.id = controlId(kind);
    control.value = value;
    const bool set = m_io->ioctl(fd, VIDIOC_S_CTRL, &control) == 0;
    m_io->close(fd);
    return set;
}

std::unique_ptr<CameraStream> V4L2CameraService::open(const QString& id, SerialQueue* queue,
                                                      CameraStreamOutput output, CameraError* error)
{
    auto fail = [&](CameraError e) -> std::unique_ptr<CameraStream> {
        if (error)
            *error = std::move(e);
        return nullptr;
    };
    if (!queue)
        return fail({CameraErrorCode::OpenFailed, QStringLiteral("The camera stream has no output queue."), 0});

    bool found = false;
    CameraError last{CameraErrorCode::NotFound, QStringLiteral("No camera has the id ") + id, 0};
    for (const Node& node : nodes()) {
        if (node.id != id)
            continue;
        found = true;
        const int fd = m_io->open(node.path);
        if (fd < 0) {
            const int e = errno;
            last = V4L2CameraStream::systemError(e == ENOENT ? CameraErrorCode::NotFound
                                                 : e == EBUSY ? CameraErrorCode::Busy
                                                              : CameraErrorCode::OpenFailed,
                                                 e);
            if (last.code == CameraErrorCode::Disconnected)
                last.code = CameraErrorCode::NotFound; // gone before it was opened
            continue;
        }
        auto device = V4L2DeviceReader::read(*m_io, fd, node.id);
        if (!device) {
            m_io->close(fd);
            last = {CameraErrorCode::OpenFailed, node.path + QStringLiteral(" is no video capture device."), 0};
            continue;
        }
        return std::make_unique<V4L2CameraStream>(m_io, fd, std::move(*device), queue, std::move(output));
    }
    if (!found)
        last = {CameraErrorCode::NotFound, QStringLiteral("No camera has the id ") + id, 0};
    return fail(last);
}

CameraService::Observation V4L2CameraService::observeDevices(DevicesChanged handler)
{
    Observation observation = m_observers.add(std::move(handler));
    bool seed = false;
    {
        std::lock_guard lock(m_mutex);
        seed = !m_known.has_value();
    }
    if (seed) {
        // What the first observer sees now is the base the notices are told against.
        std::vector<CameraDevice> now = devices();
        std::lock_guard lock(m_mutex);
        if (!m_known)
            m_known = std::move(now);
    }
    std::lock_guard lock(m_mutex);
    if (!m_watcher)
        m_watcher = std::make_unique<V4L2DeviceWatcher>(m_directory, [this] { rescan(); }, m_settle);
    return observation;
}

void V4L2CameraService::rescan()
{
    std::vector<CameraDevice> now = devices();
    CameraDeviceChange change;
    {
        std::lock_guard lock(m_mutex);
        const std::vector<CameraDevice> before = m_known.value_or(std::vector<CameraDevice>{});
        auto has = [](const std::vector<CameraDevice>& list, const QString& id) {
            return std::any_of(list.begin(), list.end(), [&](const CameraDevice& d) { return d.id == id; });
        };
        for (const CameraDevice& d : now) {
            if (!has(before, d.id))
                change.added.push_back(d);
        }
        for (const CameraDevice& d : before) {
            if (!has(now, d.id))
                change.removed.push_back(d);
        }
        m_known = std::move(now);
    }
    m_observers.notify(change);
}

} // namespace corvessa
