#include "platform/ffmpeg/FFmpegMovieWriter.h"

#include "platform/core/Guarded.h"
#include "platform/core/PixelBuffer.h"
#include "platform/core/SampleBuffer.h"
#include "platform/core/SerialQueue.h"
#include "platform/ffmpeg/FFmpegHandles.h"
#include "platform/ffmpeg/FFmpegMuxer.h"
#include "platform/ffmpeg/FFmpegPictureEncoder.h"
#include "platform/ffmpeg/FFmpegSoundEncoder.h"

#include <QFile>

#include <algorithm>
#include <cmath>
#include <deque>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>
#include <vector>

namespace corvessa {

namespace {

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

bool isRegularFile(const QString& path)
{
    struct stat st{};
    return ::stat(QFile::encodeName(path).constData(), &st) == 0 && S_ISREG(st.st_mode);
}

} // namespace

// Everything the writer thread works on: the muxer with its file, the picture
// and the sound encoder. Jobs hold it by shared_ptr, so it outlives a writer
// object destroyed while they still run. The writer thread ("movie.writer")
// owns it, but for `shared`, which any thread reaches under its lock.
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
    FFmpegMuxer muxer;
    FFmpegPictureEncoder picture;
    FFmpegSoundEncoder sound;

    bool isWriting() const { return shared.lock()->status == Status::Writing; }

    int channels() const { return settings.audio ? settings.audio->channels : 0; }

    // Opens the file, the encoders and writes the header.
    std::optional<RecorderError> open();

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
        muxer.cutToLastWholeFragment();
        close();
    }
    void fail(const FFmpegFailure& failure) { fail(failure.what, failure.code); }

    // Lets go of the file and the encoders. Frames and packets stay until the
    // core goes, as a failure can come from inside a loop that still holds them.
    // Bytes still buffered belong to an unfinished fragment and are dropped.
    void close()
    {
        picture.close();
        muxer.close();
        sound.close();
    }

    void encodeVideo(const PixelBufferRef& pixels, MediaTime at, MediaTime duration)
    {
        if (!isWriting() || !picture.isOpen())
            return;
        if (auto failed = picture.encode(*pixels, at, duration))
            fail(*failed);
    }

    // Encodes all the sound waiting in `pendingAudio`. Every job on the writer
    // thread begins with it, so sound never waits behind the pictures queued
    // before it: at most behind the one being encoded.
    void encodePendingAudio();

    // Writes out what came before movie time `at`, where the movie goes on.
    void flushFragment(MediaTime at);
    void finish();
};

std::optional<RecorderError> FFmpegMovieWriter::Core::open()
{
    const QByteArray path = QFile::encodeName(settings.path);
    int r = muxer.create(path);
    if (r < 0 || !muxer.context())
        return RecorderError{errorDomain, r, QStringLiteral("The movie file could not be created: ") + ffmpegErrorText(r)};
    if (settings.video) {
        if (auto e = picture.open(muxer, *settings.video))
            return e;
    }
    if (settings.audio) {
        if (auto e = sound.open(muxer, *settings.audio))
            return e;
    }
    r = muxer.openFile(path);
    shared.lock()->written = muxer.writtenFile();
    if (r < 0)
        return RecorderError{errorDomain, r, QStringLiteral("The movie file could not be created: ") + ffmpegErrorText(r)};
    r = muxer.writeHeader(settings.fragmentInterval);
    if (r < 0)
        return RecorderError{errorDomain, r, QStringLiteral("The movie file could not be written: ") + ffmpegErrorText(r)};
    return std::nullopt;
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
        if (isWriting() && sound.isOpen()) {
            if (auto failed = sound.encode(piece.first, piece.second))
                fail(*failed);
        }
        shared.lock()->queuedAudioFrames -= int64_t(piece.first.size()) / std::max(1, channels());
    }
}

void FFmpegMovieWriter::Core::flushFragment(MediaTime at)
{
    encodePendingAudio(); // the sound handed over before the flush goes into its fragment
    if (!isWriting())
        return;
    // The held picture lasts until the movie goes on, unless the encoder still
    // holds later ones, whose times then tell.
    if (auto failed = picture.writeHeldUntil(at)) {
        fail(*failed);
        return;
    }
    if (const int r = muxer.cut(at.seconds()); r < 0)
        fail(QStringLiteral("The movie file could not be written"), r);
}

void FFmpegMovieWriter::Core::finish()
{
    encodePendingAudio();
    if (!isWriting())
        return;
    const auto [end, start] = shared.with([](const Shared& s) { return std::pair(s.endTime, s.sessionStart); });
    const bool hasEnd = end.isValid() && start.isValid();

    if (picture.isOpen()) {
        if (auto failed = picture.finish(hasEnd ? std::optional(end - start) : std::nullopt)) {
            fail(*failed);
            return;
        }
    }
    if (sound.isOpen()) {
        // What lies past the end of the movie is dropped.
        std::optional<int64_t> endSample;
        if (hasEnd)
            endSample = (end - start).convertScale(sound.sampleRate()).value();
        if (auto failed = sound.finish(endSample)) {
            fail(*failed);
            return;
        }
    }
    if (const int r = muxer.writeTrailer(); r < 0) {
        fail(QStringLiteral("The movie file could not be written"), r);
        return;
    }
    // Renamed, or moved with its folder, the movie is where it went; removed, or
    // replaced by another on its path, it is nowhere the owner could find it.
    const std::optional<WrittenFile> where = muxer.locateFile();
    shared.lock()->written = where;
    if (!where) {
        fail(QStringLiteral("The movie file was removed or replaced while recording"), AVERROR(ENOENT));
        return;
    }
    if (const int r = muxer.closeFile(); r < 0) {
        fail(QStringLiteral("The movie file could not be written"), r);
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
        if (c.muxer.fileOpened() && isRegularFile(c.settings.path))
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
    m_core->muxer.simulateFullDiskAfter(bytes);
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
