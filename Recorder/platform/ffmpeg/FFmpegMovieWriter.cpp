#include "platform/ffmpeg/FFmpegMovieWriter.h"

#include "platform/core/Guarded.h"
#include "platform/core/OpenFileLocator.h"
#include "platform/core/PixelBuffer.h"
#include "platform/core/RecorderLog.h"
#include "platform/core/SampleBuffer.h"
#include "platform/core/SerialQueue.h"
#include "platform/core/ThreadPriority.h"
#include "platform/ffmpeg/FFmpegHandles.h"
#include "platform/ffmpeg/SwsScaler.h"

extern "C" {
#include <libavutil/channel_layout.h>
#include <libavutil/dict.h>
#include <libavutil/opt.h>
}

#include <QFile>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <deque>
#include <fcntl.h>
#include <mutex>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>
#include <vector>

namespace corvessa {

namespace {

// Video time stamps count 1/90000 s: exact for 24, 25, 30, 50, 60 and 120 fps
// and fine enough for the irregular times of a screen that changes now and then.
constexpr int kVideoTimescale = 90000;
// Audio pieces that start within this many samples of where the last one ended
// are taken as contiguous: their times were rounded, not cut.
constexpr int64_t kAudioSlack = 2;
// How far the muxer may run one track ahead while waiting for the other. Its
// default of 10 s would keep that much video out of the file (and lose it in a
// crash) whenever a movie has no sound to interleave with.
constexpr int64_t kMaxInterleaveDelta = 500000; // microseconds
// A stretch of missing audio is filled with silence in pieces of this many
// samples, so a long gap never needs a long buffer.
constexpr int64_t kSilenceChunk = 48000;
// A fragment is cut once this much movie time has gone into the muxer since the
// last cut, so that a killed process loses at most about this much plus the
// newest frame's wait (up to 0.9 s on a still screen) and the sound's lag.
constexpr double kCutEverySeconds = 1.0;
// Bytes handed to the file at once.
constexpr int kFileBufferSize = 256 * 1024;
// Slices converted in parallel from BGRA, or NV12 of another size, to the
// encoder's 4:2:0.
constexpr int kConversionThreads = 4;

bool isPicture(PixelFormat f)
{
    return f == PixelFormat::BGRA || f == PixelFormat::NV12VideoRange;
}

size_t pixelBytes(const PixelBuffer& p)
{
    size_t n = 0;
    for (size_t i = 0; i < p.planeCount(); ++i)
        n += p.plane(i).bytesPerRow * size_t(p.plane(i).height);
    return n;
}

// NV12 of the encoder's size into its three planes: the luma rows copied, the
// CbCr pairs parted. A plain copy, where swscale would wake its slice threads
// for what takes a fraction of a millisecond.
void splitNV12(const PixelBuffer& from, AVFrame& to)
{
    for (int y = 0; y < from.height(); ++y)
        std::memcpy(to.data[0] + ptrdiff_t(y) * to.linesize[0], from.baseAddress(0) + y * from.bytesPerRow(0),
                    size_t(from.width()));
    const int pairs = from.width() / 2;
    for (int y = 0; y < from.height() / 2; ++y) {
        const uint8_t* uv = from.baseAddress(1) + y * from.bytesPerRow(1);
        uint8_t* u = to.data[1] + ptrdiff_t(y) * to.linesize[1];
        uint8_t* v = to.data[2] + ptrdiff_t(y) * to.linesize[2];
        int x = 0;
#if defined(__SSE2__)
        const __m128i low = _mm_set1_epi16(0x00ff);
        for (; x + 16 <= pairs; x += 16) {
            const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(uv + 2 * x));
            const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(uv + 2 * x + 16));
            _mm_storeu_si128(reinterpret_cast<__m128i*>(u + x),
                             _mm_packus_epi16(_mm_and_si128(a, low), _mm_and_si128(b, low)));
            _mm_storeu_si128(reinterpret_cast<__m128i*>(v + x),
                             _mm_packus_epi16(_mm_srli_epi16(a, 8), _mm_srli_epi16(b, 8)));
        }
#endif
        for (; x < pairs; ++x) {
            u[x] = uv[2 * x];
            v[x] = uv[2 * x + 1];
        }
    }
}

bool isRegularFile(const QString& path)
{
    struct stat st{};
    return ::stat(QFile::encodeName(path).constData(), &st) == 0 && S_ISREG(st.st_mode);
}

} // namespace

// Everything the writer thread works on. Jobs hold it by shared_ptr, so it
// outlives a writer object destroyed while they still run. The writer thread
// ("movie.writer") owns it, but for `shared`, which any thread reaches under its lock.
struct FFmpegMovieWriter::Core {
    explicit Core(Settings s) : settings(std::move(s)), frameLimit(frameLimitFor(settings)) {}
    ~Core() { close(); }

    const Settings settings;
    // Video frames the queue holds at most, from the expected rate.
    const int frameLimit;

    static int frameLimitFor(const Settings& settings)
    {
        const int rate = settings.video && settings.video->expectedFrameRate > 0 ? settings.video->expectedFrameRate : 30;
        return std::max(maxQueuedFrames, int(std::ceil(rate * maxQueuedVideoSeconds)));
    }

    // Shared between callers and the writer thread.
    struct Shared {
        Status status = Status::Unknown;
        std::optional<RecorderError> error;
        bool sessionStarted = false;
        MediaTime sessionStart;
        MediaTime endTime;
        bool videoFinished = false;
        bool audioFinished = false;
        bool finishing = false;
        MediaTime lastVideoPts;
        int queuedFrames = 0;
        size_t queuedVideoBytes = 0;
        int64_t queuedAudioFrames = 0;
        // Sound handed over and not yet encoded, oldest first: samples and their
        // movie sample position.
        std::deque<std::pair<std::vector<float>, int64_t>> pendingAudio;
        std::optional<WrittenFile> written; // the file opened, where it is
    };
    Guarded<Shared> shared;

    // The writer thread's own (set up by startWriting before any job exists).
    AVOutputContextPtr format;
    AVCodecContextPtr video;
    AVStream* videoStream = nullptr;
    AVFramePtr videoFrame;
    // Converting a 4K picture takes one core about a frame's time at 30 fps; in
    // slices it keeps up.
    SwsScaler scaler{kConversionThreads};
    AVCodecContextPtr audio;
    AVStream* audioStream = nullptr;
    AVFramePtr audioFrame;
    AVPacketPtr packet;

    // Video packets are written one behind, so that each one's duration can be
    // the distance to the next: a still screen gives long frames, not gaps.
    AVPacketPtr heldVideo;
    bool hasHeld = false;
    int64_t heldNominalDuration = 0;
    std::deque<int64_t> nominalDurations; // of the frames inside the encoder, in order
    int64_t defaultFrameTicks = kVideoTimescale / 30;
    int64_t lastVideoTicks = -1;
    int64_t lastKeyTicks = 0;
    bool keySeen = false;
    int64_t keyIntervalTicks = 2 * kVideoTimescale;

    // Audio: interleaved samples waiting to fill an encoder frame.
    std::vector<float> fifo;
    size_t fifoRead = 0;       // floats already consumed from the front of `fifo`
    int64_t fifoStart = 0;     // movie sample position of the first unconsumed sample
    int64_t audioNext = 0;     // movie sample position where the next piece belongs
    int64_t audioPadding = 0;  // the encoder's priming delay, in samples

    bool fileOpened = false;
    int64_t flushedPosition = 0;
    // The movie file, written through our own I/O context so that its identity
    // is known and a torn fragment can be cut off.
    int fd = -1;
    int64_t filePosition = 0;
    // The file's length up to the end of the last fragment that reached it whole.
    int64_t completeEnd = 0;
    double lastCutSeconds = 0;
    // Test seam: the file system refuses bytes past this offset (ENOSPC); -1 = never.
    std::atomic<int64_t> noSpaceAfter{-1};

    bool isWriting() const { return shared.lock()->status == Status::Writing; }

    int channels() const { return settings.audio ? settings.audio->channels : 0; }

    // Opens the file, the encoders and writes the header.
    std::optional<RecorderError> open();
    std::optional<RecorderError> openVideo(const VideoSettings& v);
    std::optional<RecorderError> openAudio(const AudioSettings& a);

    // Marks the writer failed (once) and lets go of the file, cut back to its
    // last whole fragment: a write that failed half-way (a full disk) leaves a
    // torn one that players stumble over.
    void fail(const QString& what, int code)
    {
        {
            auto s = shared.lock();
            if (s->status == Status::Writing) {
                s->status = Status::Failed;
                s->error =
                    RecorderError{MovieWriter::errorDomain, code, what + QStringLiteral(": ") + ffmpegErrorText(code)};
            }
        }
        if (fd >= 0 && completeEnd > 0)
            (void)::ftruncate(fd, completeEnd);
        close();
    }

    // Lets go of the file and the encoders. Frames and packets stay until the
    // core goes, as a failure can come from inside a loop that still holds them.
    // Bytes still buffered belong to an unfinished fragment and are dropped.
    void close()
    {
        if (heldVideo)
            av_packet_unref(heldVideo.get());
        hasHeld = false;
        if (format && format->pb) {
            av_freep(&format->pb->buffer);
            avio_context_free(&format->pb);
        }
        format.reset();
        if (fd >= 0) {
            ::close(fd);
            fd = -1;
        }
        scaler.reset();
        video.reset();
        audio.reset();
        videoStream = audioStream = nullptr;
    }

    bool write(AVPacket* pkt, AVCodecContext* codec, AVStream* stream)
    {
        av_packet_rescale_ts(pkt, codec->time_base, stream->time_base);
        pkt->stream_index = stream->index;
        const double end = double(pkt->dts + pkt->duration) * av_q2d(stream->time_base);
        int r = av_interleaved_write_frame(format.get(), pkt);
        // The muxer's own cut comes every fragment interval; with a still screen
        // that is too seldom for a crash to lose little, so cut sooner.
        if (r >= 0 && end - lastCutSeconds >= kCutEverySeconds) {
            lastCutSeconds = end;
            r = av_write_frame(format.get(), nullptr);
        }
        // The muxer writes nothing between fragments, so output means a fragment
        // was completed: push all of it to the file now, not when the next
        // fragment fills the buffer, or a crash would tear it.
        if (r >= 0)
            r = pushToFile();
        if (r < 0) {
            fail(QStringLiteral("The movie file could not be written"), r);
            return false;
        }
        return true;
    }

    // Flushes the muxer's output to the file; the file then ends on a whole
    // fragment (or the header).
    int pushToFile()
    {
        if (avio_tell(format->pb) != flushedPosition) {
            avio_flush(format->pb);
            flushedPosition = avio_tell(format->pb);
        }
        if (format->pb->error < 0)
            return format->pb->error;
        completeEnd = filePosition;
        return 0;
    }

    static int writeFile(void* opaque, uint8_t* data, int size);
    static int64_t seekFile(void* opaque, int64_t offset, int whence);
    int openFile(const QByteArray& path);
    // The path still names the file this writer opened.
    bool locateFile();

    void encodeVideo(const PixelBufferRef& pixels, MediaTime at, MediaTime duration);
    bool convert(const PixelBuffer& pixels);
    bool drainVideo();
    bool writeHeldVideo(int64_t duration);

    // Encodes all the sound waiting in `pendingAudio`. Every job on the writer
    // thread begins with it, so sound never waits behind the pictures queued
    // before it: at most behind the one being encoded.
    void encodePendingAudio();
    void encodeAudio(const std::vector<float>& samples, int64_t position);
    // Queues `count` frames for the encoder; null `samples` queue silence.
    void pushAudio(const float* samples, int64_t count);
    bool encodeAudioFrames(bool flushAll);
    bool drainAudio();

    // Writes out what came before movie time `at`, where the movie goes on.
    void flushFragment(MediaTime at);
    void finish();
};

std::optional<RecorderError> FFmpegMovieWriter::Core::open()
{
    const QByteArray path = QFile::encodeName(settings.path);
    AVFormatContext* raw = nullptr;
    int r = avformat_alloc_output_context2(&raw, nullptr, "mov", path.constData());
    if (r < 0 || !raw)
        return RecorderError{errorDomain, r, QStringLiteral("The movie file could not be created: ") + ffmpegErrorText(r)};
    format.reset(raw);
    packet.reset(av_packet_alloc());
    if (!packet)
        return RecorderError{errorDomain, AVERROR(ENOMEM), QStringLiteral("Out of memory")};

    if (settings.video) {
        if (auto e = openVideo(*settings.video))
            return e;
    }
    if (settings.audio) {
        if (auto e = openAudio(*settings.audio))
            return e;
    }

    r = openFile(path);
    if (r < 0)
        return RecorderError{errorDomain, r, QStringLiteral("The movie file could not be created: ") + ffmpegErrorText(r)};
    fileOpened = true;

    AVDictionary* options = nullptr;
    av_dict_set(&options, "movflags", "frag_keyframe+empty_moov+default_base_moof", 0);
    av_dict_set_int(&options, "frag_duration", std::max<int64_t>(1, std::llround(settings.fragmentInterval * 1e6)), 0);
    format->max_interleave_delta = kMaxInterleaveDelta;
    r = avformat_write_header(format.get(), &options);
    av_dict_free(&options);
    // The header must be on disk now: a crash before the first fragment still
    // leaves a file that says what it is, and a full disk shows up here.
    if (r >= 0)
        r = pushToFile();
    if (r < 0)
        return RecorderError{errorDomain, r, QStringLiteral("The movie file could not be written: ") + ffmpegErrorText(r)};
    return std::nullopt;
}

int FFmpegMovieWriter::Core::openFile(const QByteArray& path)
{
    fd = ::open(path.constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0)
        return AVERROR(errno);
    fileOpened = true;
    struct stat st{};
    if (::fstat(fd, &st) != 0)
        return AVERROR(errno);
    shared.lock()->written = WrittenFile::ofDescriptor(settings.path, fd);
    auto* buffer = static_cast<unsigned char*>(av_malloc(kFileBufferSize));
    if (!buffer)
        return AVERROR(ENOMEM);
    format->pb = avio_alloc_context(buffer, kFileBufferSize, 1, this, nullptr, &Core::writeFile, &Core::seekFile);
    if (!format->pb) {
        av_free(buffer);
        return AVERROR(ENOMEM);
    }
    return 0;
}

int FFmpegMovieWriter::Core::writeFile(void* opaque, uint8_t* data, int size)
{
    auto* c = static_cast<Core*>(opaque);
    int64_t allowed = size;
    const int64_t limit = c->noSpaceAfter.load();
    if (limit >= 0)
        allowed = std::clamp<int64_t>(limit - c->filePosition, 0, size);
    int64_t done = 0;
    while (done < allowed) {
        const ssize_t n = ::write(c->fd, data + done, size_t(allowed - done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0) {
            c->filePosition += done;
            return AVERROR(errno);
        }
        done += n;
    }
    c->filePosition += done;
    return allowed < size ? AVERROR(ENOSPC) : size;
}

int64_t FFmpegMovieWriter::Core::seekFile(void* opaque, int64_t offset, int whence)
{
    auto* c = static_cast<Core*>(opaque);
    if (whence & AVSEEK_SIZE) {
        struct stat st{};
        return ::fstat(c->fd, &st) == 0 ? int64_t(st.st_size) : AVERROR(errno);
    }
    const off_t at = ::lseek(c->fd, offset, whence & ~AVSEEK_FORCE);
    if (at < 0)
        return AVERROR(errno);
    c->filePosition = at;
    return at;
}

bool FFmpegMovieWriter::Core::locateFile()
{
    const std::optional<WrittenFile> opened = shared.lock()->written;
    const auto where = opened ? OpenFileLocator::locate(*opened, fd) : std::nullopt;
    if (where)
        shared.lock()->written = *where;
    return where.has_value();
}

std::optional<RecorderError> FFmpegMovieWriter::Core::openVideo(const VideoSettings& v)
{
    auto failure = [](int code, const QString& text) {
        return RecorderError{errorDomain, code, text};
    };
    if (v.width <= 0 || v.height <= 0)
        return failure(AVERROR(EINVAL), QStringLiteral("The movie size %1x%2 is not valid").arg(v.width).arg(v.height));
    const AVCodec* codec = avcodec_find_encoder_by_name("libx265");
    if (!codec)
        return failure(AVERROR_ENCODER_NOT_FOUND, QStringLiteral("No HEVC encoder (libx265) is available"));
    video.reset(avcodec_alloc_context3(codec));
    if (!video)
        return failure(AVERROR(ENOMEM), QStringLiteral("Out of memory"));

    const int fps = v.expectedFrameRate > 0 ? v.expectedFrameRate : 30;
    const double keySeconds = v.maxKeyFrameInterval > 0 ? v.maxKeyFrameInterval : 2.0;
    const int keyint = std::max(1, int(std::lround(keySeconds * fps)));
    defaultFrameTicks = std::max<int64_t>(1, kVideoTimescale / fps);
    keyIntervalTicks = std::max<int64_t>(1, std::llround(keySeconds * kVideoTimescale));

    AVCodecContext* c = video.get();
    c->width = encodedSide(v.width);
    c->height = encodedSide(v.height);
    c->pix_fmt = AV_PIX_FMT_YUV420P;
    c->time_base = {1, kVideoTimescale};
    c->framerate = {fps, 1};
    c->bit_rate = std::max(v.averageBitRate, minimumVideoBitRate);
    c->gop_size = keyint;
    c->max_b_frames = v.allowFrameReordering ? -1 : 0;
    // One frame thread (below); x265 still spreads each picture's rows over
    // the cores.
    c->thread_count = 0;
    c->color_range = AVCOL_RANGE_MPEG;
    if (v.colorTags) {
        c->color_primaries = AVCOL_PRI_BT709;
        c->color_trc = AVCOL_TRC_IEC61966_2_1;
        c->colorspace = AVCOL_SPC_BT709;
    }
    if (format->oformat->flags & AVFMT_GLOBALHEADER)
        c->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;

    const QString preset = v.speedPreset.isEmpty() ? defaultSpeedPreset : v.speedPreset;
    // frame-threads: the wrapper overrides the tuning's one frame thread with
    // its own count (0 = several), and each frame thread holds a picture back.
    QString params = QStringLiteral("keyint=%1:open-gop=0:info=0:log-level=error:frame-threads=1").arg(keyint);
    if (!v.allowFrameReordering)
        params += QStringLiteral(":bframes=0");
    AVDictionary* options = nullptr;
    av_dict_set(&options, "preset", preset.toUtf8().constData(), 0);
    // No look-ahead and one frame thread: each picture leaves the encoder as it
    // goes in. Otherwise x265 holds about a dozen, which on a still screen (a
    // frame every 0.9 s) is ten seconds that a crash would lose.
    av_dict_set(&options, "tune", "zerolatency", 0);
    av_dict_set(&options, "x265-params", params.toUtf8().constData(), 0);
    av_dict_set(&options, "forced-idr", "1", 0);
    // x265 lowers its pool's threads by ten nice steps; with every CPU busy
    // they then get a tenth of a normal thread's share, the encoder falls
    // behind and the queue overflows. They are started while the encoder
    // opens, so it opens where they keep their priority: a little below their
    // creator's, where the sound's threads run.
    int r = 0;
    const bool kept = runWithPriorityKept([&] { r = avcodec_open2(c, codec, &options); }, encoderNiceSteps);
    av_dict_free(&options);
    if (!kept && r >= 0) {
        static std::once_flag said;
        std::call_once(said, [] {
            RecorderLog::write(QStringLiteral("[writer] the encoder's threads run at lowered priority on this system"));
        });
    }
    if (r < 0)
        return failure(r, QStringLiteral("The HEVC encoder could not be started: ") + ffmpegErrorText(r));

    videoStream = avformat_new_stream(format.get(), nullptr);
    if (!videoStream)
        return failure(AVERROR(ENOMEM), QStringLiteral("Out of memory"));
    avcodec_parameters_from_context(videoStream->codecpar, c);
    videoStream->codecpar->codec_tag = MKTAG('h', 'v', 'c', '1');
    videoStream->time_base = c->time_base;

    videoFrame.reset(av_frame_alloc());
    heldVideo.reset(av_packet_alloc());
    if (!videoFrame || !heldVideo)
        return failure(AVERROR(ENOMEM), QStringLiteral("Out of memory"));
    videoFrame->format = c->pix_fmt;
    videoFrame->width = c->width;
    videoFrame->height = c->height;
    videoFrame->color_range = c->color_range;
    videoFrame->color_primaries = c->color_primaries;
    videoFrame->color_trc = c->color_trc;
    videoFrame->colorspace = c->colorspace;
    if (const int e = av_frame_get_buffer(videoFrame.get(), 0); e < 0)
        return failure(e, QStringLiteral("Out of memory"));
    return std::nullopt;
}

std::optional<RecorderError> FFmpegMovieWriter::Core::openAudio(const AudioSettings& a)
{
    auto failure = [](int code, const QString& text) {
        return RecorderError{errorDomain, code, text};
    };
    if (a.sampleRate <= 0 || a.channels <= 0)
        return failure(AVERROR(EINVAL), QStringLiteral("The audio format %1 Hz, %2 channels is not valid").arg(a.sampleRate).arg(a.channels));
    const AVCodec* codec = avcodec_find_encoder(AV_CODEC_ID_AAC);
    if (!codec)
        return failure(AVERROR_ENCODER_NOT_FOUND, QStringLiteral("No AAC encoder is available"));
    audio.reset(avcodec_alloc_context3(codec));
    if (!audio)
        return failure(AVERROR(ENOMEM), QStringLiteral("Out of memory"));
    AVCodecContext* c = audio.get();
    c->sample_fmt = AV_SAMPLE_FMT_FLTP;
    c->sample_rate = a.sampleRate;
    av_channel_layout_default(&c->ch_layout, a.channels);
    c->bit_rate = a.bitRate;
    c->time_base = {1, a.sampleRate};
    if (format->oformat->flags & AVFMT_GLOBALHEADER)
        c->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    const int r = avcodec_open2(c, codec, nullptr);
    if (r < 0)
        return failure(r, QStringLiteral("The AAC encoder could not be started: ") + ffmpegErrorText(r));
    audioPadding = c->initial_padding;

    audioStream = avformat_new_stream(format.get(), nullptr);
    if (!audioStream)
        return failure(AVERROR(ENOMEM), QStringLiteral("Out of memory"));
    avcodec_parameters_from_context(audioStream->codecpar, c);
    audioStream->time_base = c->time_base;

    audioFrame.reset(av_frame_alloc());
    if (!audioFrame)
        return failure(AVERROR(ENOMEM), QStringLiteral("Out of memory"));
    audioFrame->format = c->sample_fmt;
    audioFrame->sample_rate = c->sample_rate;
    av_channel_layout_copy(&audioFrame->ch_layout, &c->ch_layout);
    audioFrame->nb_samples = c->frame_size > 0 ? c->frame_size : 1024;
    if (const int e = av_frame_get_buffer(audioFrame.get(), 0); e < 0)
        return failure(e, QStringLiteral("Out of memory"));
    return std::nullopt;
}

bool FFmpegMovieWriter::Core::convert(const PixelBuffer& pixels)
{
    if (const int r = av_frame_make_writable(videoFrame.get()); r < 0) {
        fail(QStringLiteral("The picture could not be converted"), r);
        return false;
    }
    // Screen pictures are BT.709 (NV12 in video range, BGRA full range); the
    // movie is BT.709 video range, as its colour tags say. The scaler's
    // defaults are just that.
    if (pixels.format() == PixelFormat::NV12VideoRange && pixels.width() == videoFrame->width
        && pixels.height() == videoFrame->height) {
        splitNV12(pixels, *videoFrame);
        return true;
    }
    SwsScaler::Picture to;
    to.format = SwsScaler::Format::YUV420P;
    to.width = videoFrame->width;
    to.height = videoFrame->height;
    for (int i = 0; i < 3; ++i) {
        to.data[i] = videoFrame->data[i];
        to.stride[i] = videoFrame->linesize[i];
    }
    if (!scaler.scale(SwsScaler::crop(pixels, QRect(0, 0, pixels.width(), pixels.height())), to)) {
        fail(QStringLiteral("The picture could not be converted"), scaler.lastError());
        return false;
    }
    return true;
}

void FFmpegMovieWriter::Core::encodeVideo(const PixelBufferRef& pixels, MediaTime at, MediaTime duration)
{
    if (!isWriting() || !video)
        return;
    if (!convert(*pixels))
        return;
    int64_t ticks = at.convertScale(kVideoTimescale).value();
    if (ticks <= lastVideoTicks)
        ticks = lastVideoTicks + 1; // two times closer than one tick
    lastVideoTicks = ticks;

    // The encoder counts its key frame interval in frames; a screen that is still
    // for a while sends few frames, so the interval is also kept in time here.
    const bool forceKey = !keySeen || ticks - lastKeyTicks >= keyIntervalTicks - defaultFrameTicks / 2;
    if (forceKey) {
        keySeen = true;
        lastKeyTicks = ticks;
    }
    videoFrame->pict_type = forceKey ? AV_PICTURE_TYPE_I : AV_PICTURE_TYPE_NONE;
    videoFrame->pts = ticks;
    const int64_t nominal = duration.isValid() && duration > MediaTime::zero()
                                ? std::max<int64_t>(1, duration.convertScale(kVideoTimescale).value())
                                : defaultFrameTicks;
    nominalDurations.push_back(nominal);

    const int r = avcodec_send_frame(video.get(), videoFrame.get());
    if (r < 0) {
        fail(QStringLiteral("The video could not be encoded"), r);
        return;
    }
    drainVideo();
}

bool FFmpegMovieWriter::Core::drainVideo()
{
    for (;;) {
        const int r = avcodec_receive_packet(video.get(), packet.get());
        if (r == AVERROR(EAGAIN) || r == AVERROR_EOF)
            return true;
        if (r < 0) {
            fail(QStringLiteral("The video could not be encoded"), r);
            return false;
        }
        if (packet->flags & AV_PKT_FLAG_KEY)
            lastKeyTicks = std::max(lastKeyTicks, packet->pts);
        int64_t nominal = defaultFrameTicks;
        if (!nominalDurations.empty()) {
            nominal = nominalDurations.front();
            nominalDurations.pop_front();
        }
        if (hasHeld) {
            const int64_t gap = packet->dts - heldVideo->dts;
            if (!writeHeldVideo(gap > 0 ? gap : heldNominalDuration)) {
                av_packet_unref(packet.get());
                return false;
            }
        }
        av_packet_move_ref(heldVideo.get(), packet.get());
        hasHeld = true;
        heldNominalDuration = nominal;
    }
}

bool FFmpegMovieWriter::Core::writeHeldVideo(int64_t duration)
{
    hasHeld = false;
    heldVideo->duration = duration;
    return write(heldVideo.get(), video.get(), videoStream);
}

void FFmpegMovieWriter::Core::pushAudio(const float* samples, int64_t count)
{
    const int ch = channels();
    // The encoder's priming output stands in for the movie's first samples, so
    // the input starts that far in and every sample keeps its movie time.
    if (audioNext < audioPadding) {
        const int64_t skip = std::min(count, audioPadding - audioNext);
        audioNext += skip;
        if (samples) // no samples stands for silence: nothing to step over
            samples += skip * ch;
        count -= skip;
    }
    if (count <= 0)
        return;
    if (fifoRead == fifo.size()) {
        fifo.clear();
        fifoRead = 0;
        fifoStart = audioNext;
    }
    if (samples)
        fifo.insert(fifo.end(), samples, samples + count * ch);
    else
        fifo.resize(fifo.size() + size_t(count * ch), 0.0f);
    audioNext += count;
}

void FFmpegMovieWriter::Core::encodePendingAudio()
{
    for (;;) {
        std::pair<std::vector<float>, int64_t> piece;
        {
            auto s = shared.lock();
            if (s->pendingAudio.empty())
                return;
            piece = std::move(s->pendingAudio.front());
            s->pendingAudio.pop_front();
        }
        encodeAudio(piece.first, piece.second);
        shared.lock()->queuedAudioFrames -= int64_t(piece.first.size()) / std::max(1, channels());
    }
}

void FFmpegMovieWriter::Core::encodeAudio(const std::vector<float>& samples, int64_t position)
{
    if (!isWriting() || !audio)
        return;
    const int ch = channels();
    const int64_t count = int64_t(samples.size()) / ch;
    int64_t skip = 0;
    if (position > audioNext + kAudioSlack) {
        // A gap: keep the track continuous with silence.
        int64_t gap = position - audioNext;
        while (gap > 0) {
            const int64_t n = std::min(gap, kSilenceChunk);
            pushAudio(nullptr, n);
            gap -= n;
            if (!encodeAudioFrames(false))
                return;
        }
    } else if (position < audioNext - kAudioSlack) {
        skip = std::min(count, audioNext - position); // overlaps what was written
    }
    pushAudio(samples.data() + skip * ch, count - skip);
    encodeAudioFrames(false);
}

bool FFmpegMovieWriter::Core::encodeAudioFrames(bool flushAll)
{
    const int ch = channels();
    const int64_t frameSize = audio->frame_size > 0 ? audio->frame_size : 1024;
    for (;;) {
        const int64_t available = int64_t(fifo.size() - fifoRead) / ch;
        if (available == 0 || (available < frameSize && !flushAll))
            break;
        const int64_t n = std::min(available, frameSize);
        if (const int r = av_frame_make_writable(audioFrame.get()); r < 0) {
            fail(QStringLiteral("The audio could not be encoded"), r);
            return false;
        }
        audioFrame->nb_samples = int(n);
        const float* in = fifo.data() + fifoRead;
        for (int c = 0; c < ch; ++c) {
            auto* out = reinterpret_cast<float*>(audioFrame->data[c]);
            for (int64_t i = 0; i < n; ++i)
                out[i] = in[i * ch + c];
        }
        audioFrame->pts = fifoStart;
        fifoRead += size_t(n * ch);
        fifoStart += n;
        const int r = avcodec_send_frame(audio.get(), audioFrame.get());
        if (r < 0) {
            fail(QStringLiteral("The audio could not be encoded"), r);
            return false;
        }
        if (!drainAudio())
            return false;
    }
    if (fifoRead > 0 && fifoRead * 2 >= fifo.size()) {
        fifo.erase(fifo.begin(), fifo.begin() + ptrdiff_t(fifoRead));
        fifoRead = 0;
    }
    return true;
}

bool FFmpegMovieWriter::Core::drainAudio()
{
    for (;;) {
        const int r = avcodec_receive_packet(audio.get(), packet.get());
        if (r == AVERROR(EAGAIN) || r == AVERROR_EOF)
            return true;
        if (r < 0) {
            fail(QStringLiteral("The audio could not be encoded"), r);
            return false;
        }
        if (!write(packet.get(), audio.get(), audioStream))
            return false;
    }
}

void FFmpegMovieWriter::Core::flushFragment(MediaTime at)
{
    encodePendingAudio(); // the sound handed over before the flush goes into its fragment
    if (!isWriting())
        return;
    // The held picture lasts until the movie goes on, unless the encoder still
    // holds later ones, whose times then tell.
    if (video && hasHeld && nominalDurations.empty()) {
        const int64_t endTicks = at.convertScale(kVideoTimescale).value();
        const int64_t duration = endTicks > heldVideo->pts ? endTicks - heldVideo->pts : heldNominalDuration;
        lastVideoTicks = std::max(lastVideoTicks, heldVideo->pts + duration - 1); // nothing lands inside it
        if (!writeHeldVideo(duration))
            return;
    }
    // Out of the muxer's interleaving queue, then the fragment is cut.
    int r = av_interleaved_write_frame(format.get(), nullptr);
    if (r >= 0)
        r = av_write_frame(format.get(), nullptr);
    if (r >= 0)
        r = pushToFile();
    if (r < 0) {
        fail(QStringLiteral("The movie file could not be written"), r);
        return;
    }
    lastCutSeconds = std::max(lastCutSeconds, at.seconds());
}

void FFmpegMovieWriter::Core::finish()
{
    encodePendingAudio();
    if (!isWriting())
        return;
    const auto [end, start] = shared.with([](const Shared& s) { return std::pair(s.endTime, s.sessionStart); });
    const bool hasEnd = end.isValid() && start.isValid();

    if (video) {
        if (const int r = avcodec_send_frame(video.get(), nullptr); r < 0 && r != AVERROR_EOF) {
            fail(QStringLiteral("The video could not be encoded"), r);
            return;
        }
        if (!drainVideo())
            return;
        if (hasHeld) {
            int64_t duration = heldNominalDuration;
            if (hasEnd) {
                const int64_t endTicks = (end - start).convertScale(kVideoTimescale).value();
                if (endTicks > heldVideo->pts)
                    duration = endTicks - heldVideo->pts;
            }
            if (!writeHeldVideo(duration))
                return;
        }
    }
    if (audio) {
        if (hasEnd) {
            // Drop what lies past the end of the movie.
            const int64_t endSample = (end - start).convertScale(audio->sample_rate).value();
            const int ch = channels();
            const int64_t available = int64_t(fifo.size() - fifoRead) / ch;
            const int64_t keep = std::clamp<int64_t>(endSample - fifoStart, 0, available);
            fifo.resize(fifoRead + size_t(keep * ch));
        }
        if (!encodeAudioFrames(true))
            return;
        if (const int r = avcodec_send_frame(audio.get(), nullptr); r < 0 && r != AVERROR_EOF) {
            fail(QStringLiteral("The audio could not be encoded"), r);
            return;
        }
        if (!drainAudio())
            return;
    }
    int r = av_write_trailer(format.get());
    if (r >= 0)
        r = pushToFile();
    if (r < 0) {
        fail(QStringLiteral("The movie file could not be written"), r);
        return;
    }
    // Renamed, or moved with its folder, the movie is where it went; removed, or
    // replaced by another on its path, it is nowhere the owner could find it.
    if (!locateFile()) {
        fail(QStringLiteral("The movie file was removed or replaced while recording"), AVERROR(ENOENT));
        return;
    }
    if (::close(std::exchange(fd, -1)) != 0) {
        fail(QStringLiteral("The movie file could not be written"), AVERROR(errno));
        return;
    }
    {
        auto s = shared.lock();
        if (s->status == Status::Writing)
            s->status = Status::Completed;
    }
    close();
}

// --- FFmpegMovieWriter ---

FFmpegMovieWriter::FFmpegMovieWriter(Settings settings)
    : m_core(std::make_shared<Core>(std::move(settings)))
    , m_queue(std::make_unique<SerialQueue>("movie.writer", SerialQueue::QoS::UserInitiated))
{
}

FFmpegMovieWriter::~FFmpegMovieWriter()
{
    const bool abandon = m_core->shared.with([](Core::Shared& s) {
        if (s.status != Status::Writing || s.finishing)
            return false;
        s.status = Status::Cancelled;
        return true;
    });
    if (abandon)
        m_queue->async([core = m_core] { core->close(); });
    m_queue.reset(); // runs what is queued, a finish included, then ends the thread
}

int FFmpegMovieWriter::encodedSide(int side)
{
    return std::max(minimumVideoSide, side + (side & 1));
}

const MovieWriter::Settings& FFmpegMovieWriter::settings() const
{
    return m_core->settings;
}

bool FFmpegMovieWriter::startWriting()
{
    Core& c = *m_core;
    if (c.shared.lock()->status != Status::Unknown)
        return false;
    if (!c.settings.video && !c.settings.audio) {
        auto s = c.shared.lock();
        s->status = Status::Failed;
        s->error = RecorderError{errorDomain, AVERROR(EINVAL), QStringLiteral("A movie needs a video or an audio input")};
        return false;
    }
    if (auto e = c.open()) {
        c.close();
        // A half-made movie is of no use. Only a file this writer opened is
        // removed, and never anything but a plain file (think of /dev/full).
        if (c.fileOpened && isRegularFile(c.settings.path))
            ::unlink(QFile::encodeName(c.settings.path).constData());
        auto s = c.shared.lock();
        s->status = Status::Failed;
        s->error = std::move(e);
        return false;
    }
    c.shared.lock()->status = Status::Writing;
    return true;
}

void FFmpegMovieWriter::startSession(MediaTime sourceTime)
{
    auto s = m_core->shared.lock();
    if (s->status != Status::Writing || s->sessionStarted || !sourceTime.isValid())
        return;
    s->sessionStarted = true;
    s->sessionStart = sourceTime;
}

int FFmpegMovieWriter::queuedFrameLimit() const
{
    return m_core->frameLimit;
}

bool FFmpegMovieWriter::isReadyForMoreMediaData(Input input) const
{
    const Core& c = *m_core;
    const auto s = c.shared.lock();
    if (s->status != Status::Writing || s->finishing || !hasInput(input))
        return false;
    if (input == Input::Video)
        return !s->videoFinished && s->queuedFrames < c.frameLimit
               && (s->queuedFrames == 0 || s->queuedVideoBytes < maxQueuedVideoBytes);
    return !s->audioFinished
           && s->queuedAudioFrames < int64_t(maxQueuedAudioSeconds * c.settings.audio->sampleRate);
}

bool FFmpegMovieWriter::append(Input input, const SampleBuffer& sample)
{
    if (!isReadyForMoreMediaData(input))
        return false;
    const MediaTime pts = sample.presentationTime();
    if (!pts.isValid())
        return false;
    auto core = m_core;

    if (input == Input::Video) {
        PixelBufferRef pixels = sample.imageBuffer();
        if (!pixels || !isPicture(pixels->format()))
            return false;
        const size_t bytes = pixelBytes(*pixels);
        MediaTime at;
        {
            auto s = core->shared.lock();
            if (!s->sessionStarted || (s->lastVideoPts.isValid() && pts <= s->lastVideoPts))
                return false;
            s->lastVideoPts = pts;
            // Before the session or past its end: taken, and not part of the movie.
            if (pts < s->sessionStart || (s->endTime.isValid() && pts >= s->endTime))
                return true;
            at = pts - s->sessionStart;
            ++s->queuedFrames;
            s->queuedVideoBytes += bytes;
        }
        m_queue->async([core, pixels = std::move(pixels), at, duration = sample.duration(), bytes] {
            core->encodePendingAudio();
            core->encodeVideo(pixels, at, duration);
            auto s = core->shared.lock();
            --s->queuedFrames;
            s->queuedVideoBytes -= bytes;
        });
        return true;
    }

    const AudioSettings& a = *core->settings.audio;
    const auto& fmt = sample.audioFormat();
    const float* data = sample.floatData(0);
    if (!fmt || !data || !fmt->isInterleaved() || int(fmt->channelsPerFrame) != a.channels
        || fmt->sampleRate != double(a.sampleRate))
        return false;
    int64_t frames = int64_t(sample.frameCount());
    if (frames <= 0 || sample.audioBuffers()->buffers[0].size() < size_t(frames) * fmt->bytesPerFrame)
        return false;
    int64_t position = 0;
    {
        auto s = core->shared.lock();
        if (!s->sessionStarted)
            return false;
        position = (pts - s->sessionStart).convertScale(a.sampleRate).value();
        int64_t first = 0;
        if (position < 0) {
            first = std::min(frames, -position); // before the session
            position = 0;
        }
        if (s->endTime.isValid()) {
            const int64_t endSample = (s->endTime - s->sessionStart).convertScale(a.sampleRate).value();
            frames = std::min(frames, std::max<int64_t>(first, endSample - position + first));
        }
        if (frames - first <= 0)
            return true;
        s->pendingAudio.emplace_back(std::vector<float>(data + first * a.channels, data + frames * a.channels),
                                     position);
        s->queuedAudioFrames += frames - first;
    }
    m_queue->async([core] { core->encodePendingAudio(); });
    return true;
}

void FFmpegMovieWriter::markAsFinished(Input input)
{
    auto s = m_core->shared.lock();
    (input == Input::Video ? s->videoFinished : s->audioFinished) = true;
}

void FFmpegMovieWriter::endSession(MediaTime sourceTime)
{
    auto s = m_core->shared.lock();
    if (s->status == Status::Writing && sourceTime.isValid())
        s->endTime = sourceTime;
}

void FFmpegMovieWriter::flushFragment(MediaTime sourceTime)
{
    MediaTime at;
    {
        auto s = m_core->shared.lock();
        if (s->status != Status::Writing || s->finishing || !s->sessionStarted || !sourceTime.isValid()
            || sourceTime < s->sessionStart)
            return;
        at = sourceTime - s->sessionStart;
    }
    m_queue->async([core = m_core, at] { core->flushFragment(at); });
}

void FFmpegMovieWriter::finishWriting(std::function<void()> completion)
{
    {
        auto s = m_core->shared.lock();
        if (s->status == Status::Writing)
            s->finishing = true;
    }
    m_queue->async([core = m_core, completion = std::move(completion)] {
        core->finish();
        if (completion)
            completion();
    });
}

void FFmpegMovieWriter::cancelWriting()
{
    {
        auto s = m_core->shared.lock();
        if (s->status == Status::Completed || s->status == Status::Failed || s->status == Status::Cancelled)
            return;
        s->status = Status::Cancelled;
    }
    m_queue->sync([core = m_core] { core->close(); });
}

void FFmpegMovieWriter::simulateFullDiskAfter(int64_t bytes)
{
    m_core->noSpaceAfter = bytes;
}

MovieWriter::Status FFmpegMovieWriter::status() const
{
    return m_core->shared.lock()->status;
}

std::optional<WrittenFile> FFmpegMovieWriter::writtenFile() const
{
    return m_core->shared.lock()->written;
}

std::optional<RecorderError> FFmpegMovieWriter::error() const
{
    auto s = m_core->shared.lock();
    return s->status == Status::Failed ? s->error : std::nullopt;
}

} // namespace corvessa
