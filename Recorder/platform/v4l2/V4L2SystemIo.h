#pragma once

#include "platform/v4l2/V4L2Io.h"

namespace corvessa {

// The real system calls.
class V4L2SystemIo : public V4L2Io {
public:
    std::vector<QString> listNodes(const QString& directory) override;
    QString persistentName(const QString& node) override;
    int access(const QString& path) override;
    int open(const QString& path) override;
    int close(int fd) override;
    int ioctl(int fd, unsigned long request, void* argument) override;
    void* mmap(size_t length, int fd, int64_t offset) override;
    int munmap(void* address, size_t length) override;
    int poll(pollfd* fds, nfds_t count, int timeoutMs) override;
};

} // namespace corvessa
