#pragma once

#include "platform/core/WrittenFile.h"
#include "platform/ffmpeg/FFmpegHandles.h"

#include <QByteArray>
#include <QString>

#include <atomic>
#include <cstdint>
#include <optional>
#include <sys/types.h>

namespace corvessa {

// libavformat's fragmented QuickTime muxer over a file of our own: the file is
// written through our own I/O context, so that its identity is known and a torn
// fragment can be cut off. Every completed fragment is pushed to the file at
// once, and a fragment is cut at least every kCutEverySeconds of movie time.
// Functions returning int give FFmpeg's error code (negative) or 0 or more.
// Owned by the movie writer's thread ("movie.writer"), but for the full-disk test
// seam, which any thread may set.
class FFmpegMuxer {
public:
    // A fragment is cut once this much movie time has gone into the muxer since
    // the last cut, so that a killed process loses at most about this much plus
    // the newest frame's wait (up to 0.9 s on a still screen) and the sound's lag.
    static constexpr double kCutEverySeconds = 1.0;

    FFmpegMuxer() = default;
    ~FFmpegMuxer() { close(); }
    FFmpegMuxer(const FFmpegMuxer&) = delete;
    FFmpegMuxer& operator=(const FFmpegMuxer&) = delete;

    // The muxer for `path`, before the streams are added; it exists if context()
    // is not null afterwards.
    int create(const QByteArray& path);
    // Null until create() succeeded, and after close().
    AVFormatContext* context() const { return m_format.get(); }
    // Whether the codecs must put their headers in the stream's parameters.
    bool wantsGlobalHeader() const;
    // Creates (or empties) the file and makes it the muxer's output.
    int openFile(const QByteArray& path);
    // Whether openFile() created the file, even if it failed after.
    bool fileOpened() const { return m_fileOpened; }
    // Writes the header, with fragments of `fragmentInterval` seconds, and
    // pushes it to the file.
    int writeHeader(double fragmentInterval);

    // Writes an encoded packet of `stream`, its times counted in `timeBase`.
    int write(AVPacket* packet, AVRational timeBase, AVStream* stream);
    // Empties the interleaving queue and cuts the fragment: everything before
    // movie time `atSeconds` is in the file.
    int cut(double atSeconds);
    int writeTrailer();

    // The file openFile() made, as it was made; empty before.
    std::optional<WrittenFile> writtenFile() const { return m_written; }
    // Where the file opened is now: its own path, or the one it was moved to
    // (renamed, or with its folder); empty when it has no name left or another
    // file took its path.
    std::optional<WrittenFile> locateFile();
    // Closes the finished file; 0 or -errno.
    int closeFile();
    // Cuts the file back to its last whole fragment: a write that failed
    // half-way (a full disk) leaves a torn one that players stumble over.
    void cutToLastWholeFragment();
    // Lets go of the muxer and the file. Bytes still buffered belong to an
    // unfinished fragment and are dropped.
    void close();

    // For tests: the file system refuses every byte past `bytes` (ENOSPC).
    void simulateFullDiskAfter(int64_t bytes) { m_noSpaceAfter = bytes; }

private:
    // Flushes the muxer's output to the file; the file then ends on a whole
    // fragment (or the header).
    int pushToFile();
    static int writeFile(void* opaque, uint8_t* data, int size);
    static int64_t seekFile(void* opaque, int64_t offset, int whence);

    AVOutputContextPtr m_format;
    bool m_fileOpened = false;
    int64_t m_flushedPosition = 0;
    int m_fd = -1;
    std::optional<WrittenFile> m_written;
    int64_t m_filePosition = 0;
    // The file's length up to the end of the last fragment that reached it whole.
    int64_t m_completeEnd = 0;
    double m_lastCutSeconds = 0;
    // Test seam: the file system refuses bytes past this offset (ENOSPC); -1 = never.
    std::atomic<int64_t> m_noSpaceAfter{-1};
};

} // namespace corvessa
