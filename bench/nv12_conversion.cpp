// The same-size BGRX -> NV12 conversion of a 1920x1080 screen picture (BT.709,
// video range), the candidates side by side on one core:
//   swscale bilinear      - what the capture used before (SwsScaler);
//   swscale fast-bilinear - swscale's cheaper horizontal filter;
//   swscale point         - swscale picking one pixel's chroma per block;
//   ours, plain           - NV12Converter's plain loop, the reference;
//   ours, SSE2            - its SSE2 loop, for processors without AVX2;
//   ours, AVX2            - its AVX2 loop, what the capture uses where it can.
// libyuv is not among them: Debian 12's libyuv-dev converts RGB to YUV only with
// the BT.601 matrix (ARGBToI420/NV12) or in full range (J420).
// For each: median and best thread-CPU milliseconds per frame over the runs,
// and the largest difference of any sample from the BT.709 formula (chroma
// weighed as NV12Converter says) and from swscale bilinear's picture.
// Usage: bench_nv12_conversion [runs] (default 100).

#include "platform/core/NV12Converter.h"

extern "C" {
#include <libswscale/swscale.h>
}

#include <sched.h>
#include <time.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <random>
#include <string>
#include <vector>

using namespace corvessa;

namespace {

constexpr int kWidth = 1920;
constexpr int kHeight = 1080;

double threadMs()
{
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return double(t.tv_sec) * 1e3 + double(t.tv_nsec) / 1e6;
}

struct NV12 {
    std::vector<uint8_t> y = std::vector<uint8_t>(size_t(kWidth) * kHeight);
    std::vector<uint8_t> uv = std::vector<uint8_t>(size_t(kWidth) * kHeight / 2);
};

// A desktop-like picture: flat panels, gradients, text-like noise.
std::vector<uint8_t> scene()
{
    std::vector<uint8_t> p(size_t(kWidth) * kHeight * 4);
    std::mt19937 rng(7);
    for (int y = 0; y < kHeight; ++y) {
        for (int x = 0; x < kWidth; ++x) {
            uint8_t* px = &p[(size_t(y) * kWidth + x) * 4];
            if (x < kWidth / 3) {
                px[0] = uint8_t(x * 255 / kWidth);
                px[1] = uint8_t(y * 255 / kHeight);
                px[2] = uint8_t((x + y) & 255);
            } else if (x < 2 * kWidth / 3) {
                const uint8_t v = (rng() & 7) == 0 ? uint8_t(rng()) : 235;
                px[0] = px[1] = px[2] = v;
            } else {
                px[0] = uint8_t(rng());
                px[1] = uint8_t(rng());
                px[2] = uint8_t(rng());
            }
            px[3] = uint8_t(rng()); // the X byte carries nothing
        }
    }
    return p;
}

struct Difference {
    double formula = 0;
    int today = 0;
};

Difference compare(const std::vector<uint8_t>& src, const NV12& out, const NV12& today)
{
    Difference d;
    for (int y = 0; y < kHeight; ++y) {
        for (int x = 0; x < kWidth; ++x) {
            const NV12Converter::YCbCr e = NV12Converter::exactAt(src.data(), kWidth * 4, kWidth, kHeight, x, y);
            const size_t i = size_t(y) * kWidth + x;
            d.formula = std::max(d.formula, std::abs(out.y[i] - e.y));
            d.today = std::max(d.today, std::abs(int(out.y[i]) - int(today.y[i])));
            if (x % 2 || y % 2)
                continue;
            const size_t c = size_t(y / 2) * kWidth + x;
            d.formula = std::max({d.formula, std::abs(out.uv[c] - e.cb), std::abs(out.uv[c + 1] - e.cr)});
            d.today = std::max({d.today, std::abs(int(out.uv[c]) - int(today.uv[c])),
                                std::abs(int(out.uv[c + 1]) - int(today.uv[c + 1]))});
        }
    }
    return d;
}

std::function<void(NV12&)> swscale(const std::vector<uint8_t>& src, int flags)
{
    SwsContext* c = sws_getContext(kWidth, kHeight, AV_PIX_FMT_BGR0, kWidth, kHeight, AV_PIX_FMT_NV12, flags, nullptr,
                                   nullptr, nullptr);
    const int* bt709 = sws_getCoefficients(SWS_CS_ITU709);
    sws_setColorspaceDetails(c, bt709, 1, bt709, 0, 0, 1 << 16, 1 << 16);
    return [c, &src](NV12& out) {
        const uint8_t* in[4] = {src.data()};
        const int inStride[4] = {kWidth * 4};
        uint8_t* planes[4] = {out.y.data(), out.uv.data()};
        const int strides[4] = {kWidth, kWidth};
        sws_scale(c, in, inStride, 0, kHeight, planes, strides);
    };
}

} // namespace

int main(int argc, char** argv)
{
    const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 100;
    cpu_set_t one;
    CPU_ZERO(&one);
    CPU_SET(sched_getcpu(), &one);
    sched_setaffinity(0, sizeof one, &one);

    const std::vector<uint8_t> src = scene();
    auto ours = [&src](NV12Converter::Loop loop) {
        return [&src, loop](NV12& out) {
            const NV12Converter::Target to{out.y.data(), kWidth, out.uv.data(), kWidth};
            NV12Converter::convert(loop, src.data(), kWidth * 4, kWidth, kHeight, to);
        };
    };
    struct Candidate {
        const char* name;
        std::function<void(NV12&)> run;
    };
    std::vector<Candidate> candidates{
        {"swscale bilinear", swscale(src, SWS_BILINEAR)},
        {"swscale fast-bilinear", swscale(src, SWS_FAST_BILINEAR)},
        {"swscale point", swscale(src, SWS_POINT)},
        {"ours, plain", ours(NV12Converter::Loop::plain)},
    };
    if (NV12Converter::available(NV12Converter::Loop::sse2))
        candidates.push_back({"ours, SSE2", ours(NV12Converter::Loop::sse2)});
    if (NV12Converter::available(NV12Converter::Loop::avx2))
        candidates.push_back({"ours, AVX2", ours(NV12Converter::Loop::avx2)});
    NV12 today;
    candidates.front().run(today);
    std::printf("BGRX -> NV12, %dx%d, %d runs, one core; thread CPU ms per frame\n", kWidth, kHeight, runs);
    std::printf("%-24s %8s %8s %12s %12s\n", "candidate", "median", "best", "vs formula", "vs bilinear");
    for (const Candidate& c : candidates) {
        NV12 out;
        std::vector<double> ms;
        for (int i = 0; i < runs + 3; ++i) {
            const double start = threadMs();
            c.run(out);
            if (i >= 3)
                ms.push_back(threadMs() - start);
        }
        std::sort(ms.begin(), ms.end());
        const Difference d = compare(src, out, today);
        std::printf("%-24s %8.2f %8.2f %12.2f %12d\n", c.name, ms[ms.size() / 2], ms.front(), d.formula, d.today);
    }
    return 0;
}
