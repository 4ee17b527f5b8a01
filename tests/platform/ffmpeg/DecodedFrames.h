#pragma once

#include "platform/ffmpeg/FFmpegHandles.h"

#include <QFile>
#include <QString>

#include <functional>

namespace corvessa::test {

// Decodes the movie's best stream of `type`, handing each frame, with its
// decoder, to `take` until it returns false or the stream ends; false when the
// movie or its decoder cannot be opened.
inline bool eachDecodedFrame(const QString& path, AVMediaType type,
                             const std::function<bool(const AVCodecContext&, const AVFrame&)>& take)
{
    AVFormatContext* raw = nullptr;
    if (avformat_open_input(&raw, QFile::encodeName(path).constData(), nullptr, nullptr) < 0)
        return false;
    AVInputContextPtr input(raw);
    avformat_find_stream_info(input.get(), nullptr);
    const int index = av_find_best_stream(input.get(), type, -1, -1, nullptr, 0);
    if (index < 0)
        return false;
    const AVCodecParameters* par = input->streams[index]->codecpar;
    AVCodecContextPtr dec(avcodec_alloc_context3(avcodec_find_decoder(par->codec_id)));
    avcodec_parameters_to_context(dec.get(), par);
    if (avcodec_open2(dec.get(), nullptr, nullptr) < 0)
        return false;
    AVPacketPtr pkt(av_packet_alloc());
    AVFramePtr frame(av_frame_alloc());
    bool flushing = false;
    for (;;) {
        if (!flushing) {
            if (av_read_frame(input.get(), pkt.get()) < 0) {
                flushing = true;
                avcodec_send_packet(dec.get(), nullptr);
            } else {
                if (pkt->stream_index == index)
                    avcodec_send_packet(dec.get(), pkt.get());
                av_packet_unref(pkt.get());
            }
        }
        const int r = avcodec_receive_frame(dec.get(), frame.get());
        if (r == 0) {
            if (!take(*dec, *frame))
                return true;
        } else if (r == AVERROR_EOF || (r != AVERROR(EAGAIN) && flushing)) {
            return true;
        }
    }
}

} // namespace corvessa::test
