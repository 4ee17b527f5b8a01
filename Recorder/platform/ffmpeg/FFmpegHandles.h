#pragma once

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/audio_fifo.h>
#include <libavutil/frame.h>
#include <libswscale/swscale.h>
}

#include <QString>

#include <memory>

namespace corvessa {

// Owners of FFmpeg's C handles: each handle belongs to exactly one of these and
// is freed with the function FFmpeg pairs with its allocation.
struct FFmpegFree {
    void operator()(AVCodecContext* c) const { avcodec_free_context(&c); }
    void operator()(AVFrame* f) const { av_frame_free(&f); }
    void operator()(AVPacket* p) const { av_packet_free(&p); }
    void operator()(SwsContext* s) const { sws_freeContext(s); }
    void operator()(AVAudioFifo* f) const { av_audio_fifo_free(f); }
};

// An output context also owns the file it writes to, if one was opened.
struct FFmpegFreeOutput {
    void operator()(AVFormatContext* f) const
    {
        if (f->pb && !(f->oformat->flags & AVFMT_NOFILE))
            avio_closep(&f->pb);
        avformat_free_context(f);
    }
};

struct FFmpegFreeInput {
    void operator()(AVFormatContext* f) const { avformat_close_input(&f); }
};

using AVCodecContextPtr = std::unique_ptr<AVCodecContext, FFmpegFree>;
using AVFramePtr = std::unique_ptr<AVFrame, FFmpegFree>;
using AVPacketPtr = std::unique_ptr<AVPacket, FFmpegFree>;
using SwsContextPtr = std::unique_ptr<SwsContext, FFmpegFree>;
using AVAudioFifoPtr = std::unique_ptr<AVAudioFifo, FFmpegFree>;
using AVOutputContextPtr = std::unique_ptr<AVFormatContext, FFmpegFreeOutput>;
using AVInputContextPtr = std::unique_ptr<AVFormatContext, FFmpegFreeInput>;

// FFmpeg's text for an error code ("No space left on device").
inline QString ffmpegErrorText(int code)
{
    char buf[AV_ERROR_MAX_STRING_SIZE] = {};
    av_strerror(code, buf, sizeof buf);
    return QString::fromUtf8(buf);
}

} // namespace corvessa
