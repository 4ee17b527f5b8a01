#pragma once

#include "platform/ScreenSource.h"
#include "platform/x11/XRandRDisplayList.h"

#include <QString>

#include <functional>
#include <mutex>

namespace corvessa {

class AudioInput;

// The screen-capture service of an X server: displays from RandR, windows from
// the window manager's stacking list (or, without a window manager, the root's
// mapped children), and X11ScreenStream for capture. Every call opens what it
// needs, so the source may be used from any thread; without a server, content()
// reports an error and streams fail to start.
class X11ScreenSource : public ScreenSource {
public:
    // The display layout as the X server's RandR outputs give it.
    using Layout = std::function<std::vector<XRandRDisplayList::Output>()>;

    // displayName: the X display, e.g. ":1"; empty means $DISPLAY.
    explicit X11ScreenSource(QString displayName = {});

    std::optional<ShareableContent> content(RecorderError* error = nullptr) override;
    std::unique_ptr<ScreenStream> makeStream(const ScreenFilter& filter, const ScreenStreamConfig& config,
                                             SerialQueue* queue, ScreenStreamOutput output) override;

    // Replaces where the layout comes from (tests use it to unplug a display the
    // server cannot lose); the default reads RandR.
    void setLayout(Layout layout);

    // Where streams take the microphone from. Without one, `provider` is asked
    // each time a stream is made (the loader gives the process-wide service).
    void setAudioInput(std::shared_ptr<AudioInput> input);
    using AudioInputProvider = std::function<std::shared_ptr<AudioInput>()>;
    void setAudioInputProvider(AudioInputProvider provider);

    // Whether the X display can be opened.
    static bool isAvailable(const QString& displayName = {});

private:
    Layout layout() const;

    const QString m_displayName;
    mutable std::mutex m_mutex;
    Layout m_layout;
    std::shared_ptr<AudioInput> m_audioInput;
    AudioInputProvider m_audioInputProvider;
};

} // namespace corvessa
