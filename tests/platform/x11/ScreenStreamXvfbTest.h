#pragma once

#include "platform/core/SerialQueue.h"
#include "platform/x11/ScreenStreamCollector.h"
#include "platform/x11/X11ScreenSource.h"
#include "support/XvfbTest.h"

#include <gtest/gtest.h>

#include <memory>

// After gtest: Xlib defines macros (None, Bool) that clash with it.
#include "support/Painter.h"

namespace corvessa::test {

// Frames of `width` × `height` in BGRA, at most 60 a second.
inline ScreenStreamConfig bgraConfig(int width, int height)
{
    ScreenStreamConfig c;
    c.width = width;
    c.height = height;
    c.pixelFormat = PixelFormat::BGRA;
    c.minimumFrameInterval = MediaTime(1, 60);
    return c;
}

// Base for suites that run capture streams of the X11 screen source on the
// private server, with a second client painting the windows they read. A
// derived SetUp calls this one first and returns when IsSkipped() or HasFatalFailure().
class ScreenStreamXvfbTest : public XvfbTest {
protected:
    void SetUp() override
    {
        XvfbTest::SetUp();
        if (IsSkipped() || HasFatalFailure())
            return;
        painter = std::make_unique<Painter>(s_xvfb->display());
        ASSERT_TRUE(painter->isOpen());
        source = std::make_shared<X11ScreenSource>(s_xvfb->display());
        collector.queue = &queue;
    }
    void TearDown() override
    {
        if (stream)
            stream->stop();
        stream.reset();
        painter.reset(); // its windows go with its connection
    }

    static ScreenFilter windowFilter(Window w)
    {
        ScreenFilter f;
        f.kind = ScreenFilter::Kind::Window;
        f.windowId = uint32_t(w);
        return f;
    }
    void startStream(const ScreenFilter& filter, const ScreenStreamConfig& config)
    {
        stream = source->makeStream(filter, config, &queue, collector.output());
        ASSERT_TRUE(stream);
        const auto error = stream->start();
        ASSERT_FALSE(error.has_value()) << error->message.toStdString();
    }

    std::unique_ptr<Painter> painter;
    std::shared_ptr<X11ScreenSource> source;
    SerialQueue queue{"test.capture"};
    Collector collector;
    std::unique_ptr<ScreenStream> stream;
};

} // namespace corvessa::test
