#include "platform/ffmpeg/MovieProbe.h"

#include "platform/ffmpeg/FFmpegHandles.h"

extern "C" {
#include <libavutil/pixdesc.h>
}

#include <QFile>

#include <algorithm>
#include <limits>

namespace corvessa {

namespace {

QString fourCC(uint32_t tag)
{
    if (tag == 0)
        return {};
    QString s;
    for (int i = 0; i < 4; ++i)
        s += QChar(char((tag >> (8 * i)) & 0xff));
    return s;
}

QString name(const char* n)
{
    return n ? QString::fromUtf8(n) : QString();
}

// libavformat asks this between reads; non-zero stops the read under way.
int pastDeadline(void* opaque)
{
    return MovieProbe::Deadline::clock::now() >= *static_cast<const MovieProbe::Deadline*>(opaque) ? 1 : 0;
}

} // namespace

const MovieProbe::Stream* MovieProbe::Result::firstOf(Stream::Kind kind) const
{
    for (const Stream& s : streams) {
        if (s.kind == kind)
            return &s;
    }
    return nullptr;
}

MovieProbe::Result MovieProbe::probe(const QString& path)
{
    return probe(path, Deadline::max());
}

MovieProbe::Result MovieProbe::probe(const QString& path, Deadline deadline)
{
    Result result;
    AVFormatContext* raw = avformat_alloc_context();
    if (!raw) {
        result.error = ffmpegErrorText(AVERROR(ENOMEM));
        return result;
    }
    raw->interrupt_callback = AVIOInterruptCB{pastDeadline, &deadline};
    // On failure avformat_open_input frees the context itself.
    int r = avformat_open_input(&raw, QFile::encodeName(path).constData(), nullptr, nullptr);
    if (r < 0) {
        result.error = ffmpegErrorText(r);
        result.timedOut = pastDeadline(&deadline) != 0;
        return result;
    }
    AVInputContextPtr input(raw);
    r = avformat_find_stream_info(input.get(), nullptr);
    if (r < 0) {
        result.error = ffmpegErrorText(r);
        result.timedOut = pastDeadline(&deadline) != 0;
        return result;
    }
    result.opened = true;

    const unsigned count = input->nb_streams;
    result.streams.resize(count);
    std::vector<int64_t> first(count, std::numeric_limits<int64_t>::max());
    std::vector<int64_t> last(count, std::numeric_limits<int64_t>::min());
    for (unsigned i = 0; i < count; ++i) {
        const AVCodecParameters* par = input->streams[i]->codecpar;
        Stream& s = result.streams[i];
        s.kind = par->codec_type == AVMEDIA_TYPE_VIDEO   ? Stream::Kind::Video
                 : par->codec_type == AVMEDIA_TYPE_AUDIO ? Stream::Kind::Audio
                                                         : Stream::Kind::Other;
        s.codec = name(avcodec_get_name(par->codec_id));
        s.codecTag = fourCC(par->codec_tag);
        s.decodable = avcodec_find_decoder(par->codec_id) != nullptr;
        s.width = par->width;
        s.height = par->height;
        s.sampleRate = par->sample_rate;
        s.channels = par->ch_layout.nb_channels;
        s.colorPrimaries = name(av_color_primaries_name(par->color_primaries));
        s.colorTransfer = name(av_color_transfer_name(par->color_trc));
        s.colorSpace = name(av_color_space_name(par->color_space));
        s.colorRange = name(av_color_range_name(par->color_range));
    }

    AVPacketPtr packet(av_packet_alloc());
    if (!packet)
        return result;
    std::vector<std::vector<int64_t>> keyPts(count);
    // A movie cut short ends in a torn fragment: the packets before it count,
    // the torn ones do not.
    bool torn = false;
    int readResult = 0;
    while ((readResult = av_read_frame(input.get(), packet.get())) >= 0) {
        const int i = packet->stream_index;
        if (packet->flags & AV_PKT_FLAG_CORRUPT) {
            torn = true;
        } else if (i >= 0 && unsigned(i) < count) {
            const int64_t t = packet->pts != AV_NOPTS_VALUE ? packet->pts : packet->dts;
            if (t != AV_NOPTS_VALUE) {
                first[i] = std::min(first[i], t);
                last[i] = std::max(last[i], t + std::max<int64_t>(0, packet->duration));
                if (packet->flags & AV_PKT_FLAG_KEY)
                    keyPts[i].push_back(t);
            }
            ++result.streams[i].packets;
        }
        av_packet_unref(packet.get());
        // Data already buffered is read without asking the callback.
        if (pastDeadline(&deadline)) {
            readResult = AVERROR_EXIT;
            break;
        }
    }

    result.timedOut = readResult != AVERROR_EOF && pastDeadline(&deadline) != 0;
    torn = torn || readResult != AVERROR_EOF;
    result.torn = torn;

    for (unsigned i = 0; i < count; ++i) {
        Stream& s = result.streams[i];
        const AVStream* st = input->streams[i];
        const AVRational tb = st->time_base;
        if (s.packets > 0 && last[i] >= first[i]) {
            // The packets of a fragmented movie do not tell how long the last one
            // lasts; a movie read to its end without damage says it in its header.
            int64_t end = last[i];
            if (!torn && st->duration != AV_NOPTS_VALUE && st->duration > 0)
                end = std::max(end, (st->start_time != AV_NOPTS_VALUE ? st->start_time : 0) + st->duration);
            s.seconds = double(end - first[i]) * av_q2d(tb);
            for (int64_t k : keyPts[i])
                s.keyTimes.push_back(double(k - first[i]) * av_q2d(tb));
        }
        if (s.kind != Stream::Kind::Other && s.decodable && s.packets > 0) {
            result.playable = true;
            result.seconds = std::max(result.seconds, s.seconds);
        }
    }
    return result;
}

} // namespace corvessa
