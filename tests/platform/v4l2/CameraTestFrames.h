#pragma once

#include "platform/ffmpeg/FFmpegHandles.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <vector>

namespace corvessa::test {

// Sample camera frames made by the tests themselves: raw YCbCr laid out by
// hand, and JPEG made with libavcodec's encoder. Each frame has a left half in
// one colour and a right half in another, so orientation shows too.
struct Rgb {
    uint8_t r = 0, g = 0, b = 0;
};

struct YCbCr {
    uint8_t y = 0, cb = 0, cr = 0;
};

inline uint8_t clampByte(double v)
{
    return uint8_t(std::clamp(std::lround(v), 0L, 255L));
}

// BT.601 (or BT.709), video range (or full range).
inline YCbCr toYCbCr(Rgb c, bool bt709 = false, bool fullRange = false)
{
    const double kr = bt709 ? 0.2126 : 0.299;
    const double kb = bt709 ? 0.0722 : 0.114;
    const double luma = kr * c.r + (1 - kr - kb) * c.g + kb * c.b;
    const double cb = (c.b - luma) / (2 * (1 - kb));
    const double cr = (c.r - luma) / (2 * (1 - kr));
    if (fullRange)
        return {clampByte(luma), clampByte(128 + cb), clampByte(128 + cr)};
    return {clampByte(16 + luma * 219 / 255), clampByte(128 + cb * 224 / 255), clampByte(128 + cr * 224 / 255)};
}

// YUYV (or UYVY) with `padding` extra bytes at the end of every line.
inline std::vector<uint8_t> packed422(int w, int h, Rgb left, Rgb right, bool uyvy = false, int padding = 0,
                                      bool bt709 = false)
{
    const int line = w * 2 + padding;
    std::vector<uint8_t> bytes(size_t(line) * h, 0);
    for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; x += 2) {
            const YCbCr c = toYCbCr(x < w / 2 ? left : right, bt709);
            uint8_t* p = bytes.data() + size_t(y) * line + size_t(x) * 2;
            const uint8_t yuyv[4] = {c.y, c.cb, c.y, c.cr};
            const uint8_t uyvyBytes[4] = {c.cb, c.y, c.cr, c.y};
            std::copy_n(uyvy ? uyvyBytes : yuyv, 4, p);
        }
    }
    return bytes;
}

// NV12, or YU12 (three planes), with `padding` extra bytes per luma line.
inline std::vector<uint8_t> planar420(int w, int h, Rgb left, Rgb right, bool yu12 = false, int padding = 0)
{
    const int line = w + padding;
    std::vector<uint8_t> bytes(size_t(line) * h * 3 / 2, 0);
    for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x)
            bytes[size_t(y) * line + x] = toYCbCr(x < w / 2 ? left : right).y;
    }
    uint8_t* chroma = bytes.data() + size_t(line) * h;
    for (int y = 0; y < h / 2; ++y) {
        for (int x = 0; x < w / 2; ++x) {
            const YCbCr c = toYCbCr(x * 2 < w / 2 ? left : right);
            if (yu12) {
                chroma[size_t(y) * (line / 2) + x] = c.cb;
                chroma[size_t(line / 2) * (h / 2) + size_t(y) * (line / 2) + x] = c.cr;
            } else {
                chroma[size_t(y) * line + size_t(x) * 2] = c.cb;
                chroma[size_t(y) * line + size_t(x) * 2 + 1] = c.cr;
            }
        }
    }
    return bytes;
}

// A JPEG as webcams send it: 4:2:2, full range, BT.601.
inline std::vector<uint8_t> jpeg(int w, int h, Rgb left, Rgb right)
{
    const AVCodec* codec = avcodec_find_encoder(AV_CODEC_ID_MJPEG);
    if (!codec)
        return {};
    AVCodecContextPtr c(avcodec_alloc_context3(codec));
    c->width = w;
    c->height = h;
    c->pix_fmt = AV_PIX_FMT_YUVJ422P;
    c->color_range = AVCOL_RANGE_JPEG;
    c->time_base = {1, 30};
    c->flags |= AV_CODEC_FLAG_QSCALE;
    c->global_quality = FF_QP2LAMBDA * 2;
    if (avcodec_open2(c.get(), codec, nullptr) < 0)
        return {};
    AVFramePtr f(av_frame_alloc());
    f->format = c->pix_fmt;
    f->width = w;
    f->height = h;
    f->color_range = AVCOL_RANGE_JPEG;
    if (av_frame_get_buffer(f.get(), 0) < 0)
        return {};
    for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x)
            f->data[0][y * f->linesize[0] + x] = toYCbCr(x < w / 2 ? left : right, false, true).y;
        for (int x = 0; x < w / 2; ++x) {
            const YCbCr yc = toYCbCr(x * 2 < w / 2 ? left : right, false, true);
            f->data[1][y * f->linesize[1] + x] = yc.cb;
            f->data[2][y * f->linesize[2] + x] = yc.cr;
        }
    }
    f->pts = 0;
    f->quality = c->global_quality;
    AVPacketPtr p(av_packet_alloc());
    if (avcodec_send_frame(c.get(), f.get()) < 0 || avcodec_receive_packet(c.get(), p.get()) < 0)
        return {};
    return std::vector<uint8_t>(p->data, p->data + p->size);
}

} // namespace corvessa::test
