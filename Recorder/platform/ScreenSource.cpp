#include "platform/ScreenSource.h"

#include <cmath>

namespace corvessa {

namespace {

constexpr int kMaxSide = 16384;

RecorderError invalid(const QString& message)
{
    return screenCaptureError(ScreenCaptureErrorCode::InvalidConfiguration, message);
}

} // namespace

std::optional<RecorderError> ScreenSource::checkConfiguration(const ScreenStreamConfig& config)
{
    if (config.width <= 0 || config.height <= 0 || config.width > kMaxSide || config.height > kMaxSide) {
        return invalid(QStringLiteral("The capture size %1x%2 is out of range.").arg(config.width).arg(config.height));
    }
    if (config.pixelFormat == PixelFormat::NV12VideoRange && (config.width % 2 != 0 || config.height % 2 != 0)) {
        return invalid(QStringLiteral("The capture size %1x%2 must be even for NV12.").arg(config.width).arg(config.height));
    }
    if (config.pixelFormat != PixelFormat::NV12VideoRange && config.pixelFormat != PixelFormat::BGRA)
        return invalid(QStringLiteral("The capture pixel format is not supported."));
    if (!config.minimumFrameInterval.isValid() || config.minimumFrameInterval <= MediaTime::zero())
        return invalid(QStringLiteral("The minimum frame interval must be a positive time."));
    if (config.queueDepth < 1)
        return invalid(QStringLiteral("The queue depth must be at least 1."));
    if (config.sourceRect) {
        const QRectF& r = *config.sourceRect;
        if (!std::isfinite(r.x()) || !std::isfinite(r.y()) || !std::isfinite(r.width()) || !std::isfinite(r.height()) ||
            r.width() <= 0 || r.height() <= 0)
            return invalid(QStringLiteral("The area to record is empty."));
    }
    return std::nullopt;
}

std::optional<RecorderError> ScreenSource::checkStart(bool running, bool stopped, const ScreenStreamConfig& config,
                                                     const SerialQueue* queue)
{
    if (running || stopped) {
        return screenCaptureError(ScreenCaptureErrorCode::InvalidConfiguration,
                                  running ? QStringLiteral("The capture stream is already running.")
                                          : QStringLiteral("The capture stream was stopped."));
    }
    if (auto error = checkConfiguration(config))
        return error;
    if (!queue) {
        return screenCaptureError(ScreenCaptureErrorCode::InvalidConfiguration,
                                  QStringLiteral("The capture stream has no output queue."));
    }
    return std::nullopt;
}

} // namespace corvessa
