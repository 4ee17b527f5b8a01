#include "platform/MovieWriter.h"

#include "platform/ffmpeg/FFmpegMovieWriter.h"

namespace corvessa {

bool MovieWriter::hasInput(Input input) const
{
    return input == Input::Video ? settings().video.has_value() : settings().audio.has_value();
}

std::shared_ptr<MovieWriter> MovieWriter::create(Settings settings)
{
    return std::make_shared<FFmpegMovieWriter>(std::move(settings));
}

QString MovieWriter::statusName(Status status)
{
    switch (status) {
    case Status::Unknown:
        return QStringLiteral("unknown");
    case Status::Writing:
        return QStringLiteral("writing");
    case Status::Completed:
        return QStringLiteral("completed");
    case Status::Failed:
        return QStringLiteral("failed");
    case Status::Cancelled:
        return QStringLiteral("cancelled");
    }
    return QStringLiteral("unknown");
}

} // namespace corvessa
