#include "platform/ffmpeg/FFmpegMuxer.h"

#include "platform/core/OpenFileLocator.h"

extern "C" {
#include <libavutil/dict.h>
}

#include <QFile>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

namespace corvessa {

namespace {

// How far the muxer may run one track ahead while waiting for the other. Its
// default of 10 s would keep that much video out of the file (and lose it in a
// crash) whenever a movie has no sound to interleave with.
constexpr int64_t kMaxInterleaveDelta = 500000; // microseconds
// Bytes handed to the file at once.
constexpr int kFileBufferSize = 256 * 1024;

} // namespace

int FFmpegMuxer::create(const QByteArray& path)
{
    AVFormatContext* raw = nullptr;
    const int r = avformat_alloc_output_context2(&raw, nullptr, "mov", path.constData());
    if (r >= 0)
        m_format.reset(raw);
    return r;
}

bool FFmpegMuxer::wantsGlobalHeader() const
{
    return m_format->oformat->flags & AVFMT_GLOBALHEADER;
}

int FFmpegMuxer::openFile(const QByteArray& path)
{
    m_fd = ::open(path.constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (m_fd < 0)
        return AVERROR(errno);
    m_fileOpened = true;
    struct stat st{};
    if (::fstat(m_fd, &st) != 0)
        return AVERROR(errno);
    // Empty for what is not a regular file (a device): nothing there can move.
    m_written = WrittenFile::ofDescriptor(QFile::decodeName(path), m_fd);
    auto* buffer = static_cast<unsigned char*>(av_malloc(kFileBufferSize));
    if (!buffer)
        return AVERROR(ENOMEM);
    m_format->pb = avio_alloc_context(buffer, kFileBufferSize, 1, this, nullptr, &FFmpegMuxer::writeFile,
                                      &FFmpegMuxer::seekFile);
    if (!m_format->pb) {
        av_free(buffer);
        return AVERROR(ENOMEM);
    }
    return 0;
}

int FFmpegMuxer::writeHeader(double fragmentInterval)
{
    AVDictionary* options = nullptr;
    av_dict_set(&options, "movflags", "frag_keyframe+empty_moov+default_base_moof", 0);
    av_dict_set_int(&options, "frag_duration", std::max<int64_t>(1, std::llround(fragmentInterval * 1e6)), 0);
    m_format->max_interleave_delta = kMaxInterleaveDelta;
    int r = avformat_write_header(m_format.get(), &options);
    av_dict_free(&options);
    // The header must be on disk now: a crash before the first fragment still
    // leaves a file that says what it is, and a full disk shows up here.
    if (r >= 0)
        r = pushToFile();
    return r;
}

int FFmpegMuxer::write(AVPacket* pkt, AVRational timeBase, AVStream* stream)
{
    av_packet_rescale_ts(pkt, timeBase, stream->time_base);
    pkt->stream_index = stream->index;
    const double end = double(pkt->dts + pkt->duration) * av_q2d(stream->time_base);
    int r = av_interleaved_write_frame(m_format.get(), pkt);
    // The muxer's own cut comes every fragment interval; with a still screen
    // that is too seldom for a crash to lose little, so cut sooner.
    if (r >= 0 && end - m_lastCutSeconds >= kCutEverySeconds) {
        m_lastCutSeconds = end;
        r = av_write_frame(m_format.get(), nullptr);
    }
    // The muxer writes nothing between fragments, so output means a fragment
    // was completed: push all of it to the file now, not when the next
    // fragment fills the buffer, or a crash would tear it.
    if (r >= 0)
        r = pushToFile();
    return r;
}

int FFmpegMuxer::cut(double atSeconds)
{
    // Out of the muxer's interleaving queue, then the fragment is cut.
    int r = av_interleaved_write_frame(m_format.get(), nullptr);
    if (r >= 0)
        r = av_write_frame(m_format.get(), nullptr);
    if (r >= 0)
        r = pushToFile();
    if (r >= 0)
        m_lastCutSeconds = std::max(m_lastCutSeconds, atSeconds);
    return r;
}

int FFmpegMuxer::writeTrailer()
{
    int r = av_write_trailer(m_format.get());
    if (r >= 0)
        r = pushToFile();
    return r;
}

int FFmpegMuxer::pushToFile()
{
    if (avio_tell(m_format->pb) != m_flushedPosition) {
        avio_flush(m_format->pb);
        m_flushedPosition = avio_tell(m_format->pb);
    }
    if (m_format->pb->error < 0)
        return m_format->pb->error;
    m_completeEnd = m_filePosition;
    return 0;
}

int FFmpegMuxer::writeFile(void* opaque, uint8_t* data, int size)
{
    auto* m = static_cast<FFmpegMuxer*>(opaque);
    int64_t allowed = size;
    const int64_t limit = m->m_noSpaceAfter.load();
    if (limit >= 0)
        allowed = std::clamp<int64_t>(limit - m->m_filePosition, 0, size);
    int64_t done = 0;
    while (done < allowed) {
        const ssize_t n = ::write(m->m_fd, data + done, size_t(allowed - done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0) {
            m->m_filePosition += done;
            return AVERROR(errno);
        }
        done += n;
    }
    m->m_filePosition += done;
    return allowed < size ? AVERROR(ENOSPC) : size;
}

int64_t FFmpegMuxer::seekFile(void* opaque, int64_t offset, int whence)
{
    auto* m = static_cast<FFmpegMuxer*>(opaque);
    if (whence & AVSEEK_SIZE) {
        struct stat st{};
        return ::fstat(m->m_fd, &st) == 0 ? int64_t(st.st_size) : AVERROR(errno);
    }
    const off_t at = ::lseek(m->m_fd, offset, whence & ~AVSEEK_FORCE);
    if (at < 0)
        return AVERROR(errno);
    m->m_filePosition = at;
    return at;
}

std::optional<WrittenFile> FFmpegMuxer::locateFile()
{
    if (m_written)
        m_written = OpenFileLocator::locate(*m_written, m_fd);
    return m_written;
}

int FFmpegMuxer::closeFile()
{
    return ::close(std::exchange(m_fd, -1)) != 0 ? AVERROR(errno) : 0;
}

void FFmpegMuxer::cutToLastWholeFragment()
{
    if (m_fd >= 0 && m_completeEnd > 0)
        (void)::ftruncate(m_fd, m_completeEnd);
}

void FFmpegMuxer::close()
{
    if (m_format && m_format->pb) {
        av_freep(&m_format->pb->buffer);
        avio_context_free(&m_format->pb);
    }
    m_format.reset();
    if (m_fd >= 0) {
        ::close(m_fd);
        m_fd = -1;
    }
}

} // namespace corvessa
