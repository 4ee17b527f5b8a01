#include "platform/synthetic/RecordingMovieWriter.h"

#include "platform/core/PixelBuffer.h"
#include "platform/core/SampleBuffer.h"

#include <QFile>

#include <algorithm>
#include <stdexcept>
#include <thread>

namespace corvessa {

RecordingMovieWriter::RecordingMovieWriter(Settings settings)
    : m_settings(std::move(settings))
{
}

MovieWriterFactory RecordingMovieWriter::factory(std::shared_ptr<std::vector<std::shared_ptr<RecordingMovieWriter>>> made,
                                                 std::function<void(RecordingMovieWriter&)> configure)
{
    // Writers may be made on any thread; the list is guarded by its own mutex.
    auto mutex = std::make_shared<std::mutex>();
    return [made, configure, mutex](const Settings& settings) -> std::shared_ptr<MovieWriter> {
        auto writer = std::make_shared<RecordingMovieWriter>(settings);
        if (configure)
            configure(*writer);
        std::lock_guard lock(*mutex);
        if (made)
            made->push_back(writer);
        return writer;
    };
}

bool RecordingMovieWriter::startWriting()
{
    std::lock_guard lock(m_mutex);
    Call call{CallKind::StartWriting};
    if (m_status == Status::Unknown) {
        if (m_startError) {
            m_status = Status::Failed;
            m_error = m_startError;
        } else {
            m_status = Status::Writing;
            call.accepted = true;
            if (m_createsFile && !m_settings.path.isEmpty()) {
                QFile f(m_settings.path);
                if (f.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
                    m_written = WrittenFile::ofDescriptor(m_settings.path, f.handle());
                    f.close();
                }
            }
        }
    }
    m_calls.push_back(call);
    return call.accepted;
}

void RecordingMovieWriter::startSession(MediaTime sourceTime)
{
    std::lock_guard lock(m_mutex);
    m_calls.emplace_back(CallKind::StartSession, std::nullopt, sourceTime);
    if (m_status == Status::Writing && !m_sessionStart && sourceTime.isValid()) {
        m_sessionStart = sourceTime;
        m_sessionStartedAt = std::chrono::steady_clock::now();
    }
}

void RecordingMovieWriter::setAudioRate(double framesPerSecond)
{
    std::lock_guard lock(m_mutex);
    m_audioRate = framesPerSecond;
}

bool RecordingMovieWriter::isReadyForMoreMediaData(Input input) const
{
    std::lock_guard lock(m_mutex);
    const InputState& s = state(input);
    if (input == Input::Audio && m_audioRate > 0) {
        const double since = m_sessionStart
                                 ? std::chrono::duration<double>(std::chrono::steady_clock::now() - m_sessionStartedAt).count()
                                 : 0;
        if (double(m_acceptedAudioFrames) >= m_audioRate * since)
            return false;
    }
    return m_status == Status::Writing && hasInput(input) && s.ready && !s.finished;
}

bool RecordingMovieWriter::append(Input input, const SampleBuffer& sample)
{
    std::lock_guard lock(m_mutex);
    Call call{CallKind::Append, input, sample.presentationTime(), sample.duration()};
    call.audioFrames = input == Input::Audio ? sample.frameCount() : 0;
    if (const float* d = call.audioFrames && sample.audioFormat() ? sample.floatData() : nullptr) {
        const size_t channels = sample.audioFormat()->channelsPerFrame;
        for (size_t f = 0; f < call.audioFrames; ++f)
            call.silentFrames += std::all_of(d + f * channels, d + (f + 1) * channels, [](float v) { return v == 0.0f; });
    }
    if (const auto& pixels = sample.imageBuffer()) {
        call.width = pixels->width();
        call.height = pixels->height();
    }
    InputState& s = state(input);
    if (s.throwMessage) {
        m_calls.push_back(call);
        throw std::runtime_error(s.throwMessage->toStdString());
    }
    if (m_failNext && m_status == Status::Writing) {
        m_status = Status::Failed;
        m_error = m_failNext;
        m_failNext.reset();
    }
    const bool inOrder = !s.lastPts.isValid() || call.time > s.lastPts;
    call.accepted = m_status == Status::Writing && hasInput(input) && m_sessionStart && s.ready && !s.finished
                    && !s.refuse && call.time.isValid() && inOrder;
    if (call.accepted) {
        s.lastPts = call.time;
        m_acceptedAudioFrames += call.audioFrames;
    }
    m_calls.push_back(call);
    return call.accepted;
}

void RecordingMovieWriter::markAsFinished(Input input)
{
    std::lock_guard lock(m_mutex);
    m_calls.emplace_back(CallKind::MarkAsFinished, input);
    state(input).finished = true;
}

void RecordingMovieWriter::endSession(MediaTime sourceTime)
{
    std::lock_guard lock(m_mutex);
    m_calls.emplace_back(CallKind::EndSession, std::nullopt, sourceTime);
    if (m_status == Status::Writing)
        m_sessionEnd = sourceTime;
}

void RecordingMovieWriter::flushFragment(MediaTime sourceTime)
{
    std::lock_guard lock(m_mutex);
    m_calls.emplace_back(CallKind::FlushFragment, std::nullopt, sourceTime);
}

void RecordingMovieWriter::finishWriting(std::function<void()> completion)
{
    {
        std::lock_guard lock(m_mutex);
        m_calls.emplace_back(CallKind::FinishWriting);
        if (m_holdFinish) {
            m_heldCompletion = std::move(completion);
            m_finishHeld = true;
            return;
        }
    }
    // Like a real writer: done elsewhere, later. The thread keeps the writer alive;
    // a writer not owned by a shared pointer completes at once instead.
    auto self = weak_from_this().lock();
    if (!self) {
        complete();
        if (completion)
            completion();
        return;
    }
    std::thread([self = std::move(self), completion = std::move(completion)] {
        self->complete();
        if (completion)
            completion();
    }).detach();
}

bool RecordingMovieWriter::releaseFinish()
{
    std::function<void()> completion;
    {
        std::lock_guard lock(m_mutex);
        if (!m_finishHeld)
            return false;
        m_finishHeld = false;
        completion = std::move(m_heldCompletion);
    }
    complete();
    if (completion)
        completion();
    return true;
}

void RecordingMovieWriter::complete()
{
    std::lock_guard lock(m_mutex);
    if (m_status != Status::Writing)
        return;
    if (m_finishError) {
        m_status = Status::Failed;
        m_error = m_finishError;
    } else {
        m_status = Status::Completed;
    }
}

void RecordingMovieWriter::cancelWriting()
{
    std::lock_guard lock(m_mutex);
    m_calls.emplace_back(CallKind::CancelWriting);
    if (m_status == Status::Writing || m_status == Status::Unknown)
        m_status = Status::Cancelled;
}

MovieWriter::Status RecordingMovieWriter::status() const
{
    std::lock_guard lock(m_mutex);
    return m_status;
}

std::optional<WrittenFile> RecordingMovieWriter::writtenFile() const
{
    std::lock_guard lock(m_mutex);
    return m_written;
}

std::optional<RecorderError> RecordingMovieWriter::error() const
{
    std::lock_guard lock(m_mutex);
    return m_status == Status::Failed ? m_error : std::nullopt;
}

std::vector<RecordingMovieWriter::Call> RecordingMovieWriter::calls() const
{
    std::lock_guard lock(m_mutex);
    return m_calls;
}

std::vector<RecordingMovieWriter::Call> RecordingMovieWriter::appended(Input input) const
{
    std::lock_guard lock(m_mutex);
    std::vector<Call> out;
    for (const Call& c : m_calls) {
        if (c.kind == CallKind::Append && c.input == input && c.accepted)
            out.push_back(c);
    }
    return out;
}

size_t RecordingMovieWriter::appendedAudioFrames() const
{
    size_t n = 0;
    for (const Call& c : appended(Input::Audio))
        n += c.audioFrames;
    return n;
}

std::optional<MediaTime> RecordingMovieWriter::sessionStart() const
{
    std::lock_guard lock(m_mutex);
    return m_sessionStart;
}

std::optional<MediaTime> RecordingMovieWriter::sessionEnd() const
{
    std::lock_guard lock(m_mutex);
    return m_sessionEnd;
}

void RecordingMovieWriter::setCreatesFile(bool creates)
{
    std::lock_guard lock(m_mutex);
    m_createsFile = creates;
}

void RecordingMovieWriter::setStartError(std::optional<RecorderError> error)
{
    std::lock_guard lock(m_mutex);
    m_startError = std::move(error);
}

void RecordingMovieWriter::setReady(Input input, bool ready)
{
    std::lock_guard lock(m_mutex);
    state(input).ready = ready;
}

void RecordingMovieWriter::setRefuseAppends(Input input, bool refuse)
{
    std::lock_guard lock(m_mutex);
    state(input).refuse = refuse;
}

void RecordingMovieWriter::failOnNextAppend(RecorderError error)
{
    std::lock_guard lock(m_mutex);
    m_failNext = std::move(error);
}

void RecordingMovieWriter::failNow(RecorderError error)
{
    std::lock_guard lock(m_mutex);
    if (m_status != Status::Writing)
        return;
    m_status = Status::Failed;
    m_error = std::move(error);
}

void RecordingMovieWriter::throwOnAppend(Input input, QString message)
{
    std::lock_guard lock(m_mutex);
    state(input).throwMessage = std::move(message);
}

void RecordingMovieWriter::setFinishError(std::optional<RecorderError> error)
{
    std::lock_guard lock(m_mutex);
    m_finishError = std::move(error);
}

void RecordingMovieWriter::setHoldFinish(bool hold)
{
    std::lock_guard lock(m_mutex);
    m_holdFinish = hold;
}

} // namespace corvessa
