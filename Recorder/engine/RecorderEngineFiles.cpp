// The recording engine's files after a recording, as their writers made them.
#include "engine/RecorderEngine.h"

namespace corvessa {

std::vector<WrittenFile> RecorderEngine::writtenFiles() const
{
    std::vector<WrittenFile> files;
    m_q->sync([&] {
        if (m_writer)
            if (const auto movie = m_writer->writtenFile())
                files.push_back(*movie);
        const std::vector<WrittenFile>& camera = m_cameraFile.writtenFiles();
        files.insert(files.end(), camera.begin(), camera.end());
    });
    return files;
}

} // namespace corvessa
