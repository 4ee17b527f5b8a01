#include "platform/MovieWriter.h"


namespace corvessa {

bool MovieWriter::hasInput(Input input) const
{
    return input == Input::Video ? settings().video.has_value() : settings().audio.has_value();
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
