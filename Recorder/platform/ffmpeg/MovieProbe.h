#pragma once

#include <QString>

#include <chrono>
#include <cstdint>
#include <vector>

namespace corvessa {

// Reads a movie file back with libavformat: whether it plays, for how long, and
// what its streams are. Durations come from the packets themselves, because a
// fragmented movie cut short by a crash has no duration in its header.
class MovieProbe {
public:
    struct Stream {
        enum class Kind { Video, Audio, Other };
        Kind kind = Kind::Other;
        QString codec;     // FFmpeg's codec name: "hevc", "aac"
        QString codecTag;  // the container's four characters: "hvc1", "mp4a"
        bool decodable = false;
        int64_t packets = 0;
        // Presentation times of the key packets, in seconds from the stream's start.
        std::vector<double> keyTimes;
        // From the start of the first packet to the end of the last one.
        double seconds = 0;
        int width = 0;
        int height = 0;
        int sampleRate = 0;
        int channels = 0;
        QString colorPrimaries; // FFmpeg's names: "bt709", "iec61966-2-1", "tv"
        QString colorTransfer;
        QString colorSpace;
        QString colorRange;
    };

    struct Result {
        bool opened = false;   // libavformat recognised the file
        QString error;         // why it did not
        bool playable = false; // an audio or video stream that can be decoded has packets
        double seconds = 0;    // the longest such stream's length
        // The deadline came first: what is above covers only what was read by then.
        bool timedOut = false;
        // Reading ended in damage (a fragment cut short) rather than at the end.
        bool torn = false;
        std::vector<Stream> streams;

        const Stream* firstOf(Stream::Kind kind) const;
    };

    using Deadline = std::chrono::steady_clock::time_point;

    // Reads every packet; for a long movie that takes as long as reading the file.
    static Result probe(const QString& path);
    // The same, giving up at the deadline (a slow disk, a huge file): libavformat
    // is interrupted inside its reads, and the result says so.
    static Result probe(const QString& path, Deadline deadline);
};

} // namespace corvessa
