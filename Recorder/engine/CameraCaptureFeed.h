#pragma once

#include "engine/CameraFeed.h"

#include <memory>

namespace corvessa {

class CameraCapture;

// Hands a running CameraCapture to the recording engine: its pictures, the deep
// pause's suspend and resume, and its overlay store. The capture stays the
// owner's; the feed only forwards.
class CameraCaptureFeed final : public CameraFeed {
public:
    explicit CameraCaptureFeed(std::shared_ptr<CameraCapture> capture);

    void setOnSample(SampleHandler handler) override;
    void suspend() override;
    void resume() override;
    std::shared_ptr<CameraOverlayState> overlay() const override;

    const std::shared_ptr<CameraCapture>& capture() const { return m_capture; }

private:
    const std::shared_ptr<CameraCapture> m_capture;
};

} // namespace corvessa
