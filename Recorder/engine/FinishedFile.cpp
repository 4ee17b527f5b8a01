#include "engine/FinishedFile.h"

#include "engine/EngineLines.h"

#include <cerrno>
#include <cstring>

namespace corvessa {

FinishedFile FinishedFile::of(const MovieWriter& writer)
{
    FinishedFile f;
    f.m_startPath = writer.settings().path;
    if (writer.status() != MovieWriter::Status::Completed) {
        f.m_error = writer.error();
        return f;
    }
    const std::optional<WrittenFile> written = writer.writtenFile();
    // A writer that made no file of its own is taken at its word.
    if (!written) {
        f.m_path = f.m_startPath;
        return f;
    }
    // The writer found the file where it is at its finish; removed or replaced
    // since, it is no longer there to be saved.
    if (!written->isAtPath()) {
        f.m_error = goneError();
        return f;
    }
    f.m_path = written->path();
    f.m_written = written;
    return f;
}

RecorderError FinishedFile::goneError()
{
    return RecorderError{MovieWriter::errorDomain, ENOENT,
                         QStringLiteral("The movie file was removed or replaced while recording: ")
                             + QString::fromLocal8Bit(std::strerror(ENOENT))};
}

std::optional<QString> FinishedFile::movedLine() const
{
    if (!m_path || *m_path == m_startPath)
        return std::nullopt;
    return EngineLines::fileMoved({*m_path});
}

} // namespace corvessa
