#pragma once

#include "platform/MovieWriter.h"
#include "platform/core/RecorderError.h"
#include "platform/core/WrittenFile.h"

#include <QString>

#include <optional>

namespace corvessa {

// What became of a file once its writer has finished: saved where it was
// started, saved where the user moved it (or its folder) while it was written,
// or not saved, because the writer failed or the file is gone. A value, made on
// the engine queue ("recorder.engine").
class FinishedFile {
public:
    static FinishedFile of(const MovieWriter& writer);

    // Where the file is saved; none when it is not.
    const std::optional<QString>& path() const { return m_path; }
    // The saved file as the writer made it, where it is now; none when not saved
    // or when the writer made no file of its own.
    const std::optional<WrittenFile>& written() const { return m_written; }
    // Why it is not saved.
    const std::optional<RecorderError>& error() const { return m_error; }
    // Saved somewhere else than where it was started: the event line that says where.
    std::optional<QString> movedLine() const;

    // Why a file that is no longer anywhere is not saved.
    static RecorderError goneError();

private:
    QString m_startPath;
    std::optional<QString> m_path;
    std::optional<WrittenFile> m_written;
    std::optional<RecorderError> m_error;
};

} // namespace corvessa
