#pragma once

#include <QString>

#include <poll.h>

#include <cstddef>
#include <cstdint>
#include <vector>

namespace corvessa {

// Every system call the V4L2 camera makes, behind one small interface, so that
// format negotiation, streaming and frame decoding can be tested against
// recorded device answers. Calls return what the system calls return and set
// errno the same way. Implementations are thread-safe.
class V4L2Io {
public:
    virtual ~V4L2Io() = default;

    // The video device nodes in `directory` ("/dev/video0", ...), by number.
    virtual std::vector<QString> listNodes(const QString& directory) = 0;
    // The persistent name of a node where udev made one (the /dev/v4l/by-id
    // link, else the by-path link); empty when there is none.
    virtual QString persistentName(const QString& node) = 0;

    // access(2) for reading and writing: whether we may open the node, without
    // waking the device as an open would.
    virtual int access(const QString& path) = 0;
    // open(2) for reading and writing, non-blocking, close-on-exec.
    virtual int open(const QString& path) = 0;
    virtual int close(int fd) = 0;
    // ioctl(2), retried when interrupted.
    virtual int ioctl(int fd, unsigned long request, void* argument) = 0;
    // A shared read-write mapping; MAP_FAILED on failure.
    virtual void* mmap(size_t length, int fd, int64_t offset) = 0;
    virtual int munmap(void* address, size_t length) = 0;
    // poll(2). The set may hold descriptors that are not the camera's (the wake-up of a stream).
    virtual int poll(pollfd* fds, nfds_t count, int timeoutMs) = 0;
};

} // namespace corvessa
