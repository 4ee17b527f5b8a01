#include "platform/pulse/PulseAudioInput.h"

#include <gtest/gtest.h>

using namespace corvessa;

namespace {

PulseContext::SourceEntry source(const char* name, const char* description, uint32_t monitorOf = PA_INVALID_INDEX)
{
    PulseContext::SourceEntry s;
    s.name = QString::fromUtf8(name);
    s.description = QString::fromUtf8(description);
    s.monitorOfSink = monitorOf;
    s.spec = {PA_SAMPLE_S16LE, 44100, 1};
    return s;
}

PulseContext::SinkEntry sink(const char* name, QMap<QString, QString> properties = {})
{
    PulseContext::SinkEntry s;
    s.name = QString::fromUtf8(name);
    s.description = s.name;
    s.monitorSource = s.name + QStringLiteral(".monitor");
    s.spec = {PA_SAMPLE_FLOAT32LE, 48000, 2};
    s.properties = std::move(properties);
    return s;
}

} // namespace

TEST(PulseAudioInputTest, MicrophonesLeaveOutMonitorsAndTheTap)
{
    auto classMonitor = source("odd", "Monitor by class");
    classMonitor.properties.insert(QStringLiteral("device.class"), QStringLiteral("monitor"));
    const auto devices = PulseAudioInput::microphones(
        {source("alsa_input.usb", "USB Mic"), source("alsa_output.monitor", "Monitor of Speakers", 0),
         source("recorder_tap_2", "Something"), source("virtual", "Recorder tap"), classMonitor,
         source("alsa_input.pci", "Built-in")},
        QStringLiteral("alsa_input.pci"));
    ASSERT_EQ(devices.size(), 2u);
    EXPECT_EQ(devices[0].name, QStringLiteral("alsa_input.usb"));
    EXPECT_FALSE(devices[0].isDefault);
    EXPECT_EQ(devices[0].nativeFormat, AudioFormat::integerFormat(44100, 1, 16));
    EXPECT_EQ(devices[1].description, QStringLiteral("Built-in"));
    EXPECT_TRUE(devices[1].isDefault);
}

TEST(PulseAudioInputTest, WhileATapIsTheDefaultTheOutputItReplacedStandsIn)
{
    const std::vector<PulseContext::SinkEntry> sinks{
        sink("speakers", {{QStringLiteral("device.bus"), QStringLiteral("pci")}}),
        sink("recorder_tap", {{QStringLiteral("corvessa.tap.previous"), QStringLiteral("speakers")}}),
        sink("orphan_tap_of_gone_sink",
             {{QStringLiteral("corvessa.tap.pid"), QStringLiteral("1")},
              {QStringLiteral("corvessa.tap.previous"), QStringLiteral("unplugged")}})};
    auto plain = PulseAudioInput::effectiveDefaultSink(sinks, QStringLiteral("speakers"));
    ASSERT_TRUE(plain);
    EXPECT_EQ(plain->properties.value(QStringLiteral("device.bus")), QStringLiteral("pci"));
    EXPECT_EQ(plain->monitorSource, QStringLiteral("speakers.monitor"));
    EXPECT_EQ(plain->nativeFormat, AudioFormat::floatFormat(48000, 2));

    EXPECT_EQ(PulseAudioInput::effectiveDefaultSink(sinks, QStringLiteral("recorder_tap"))->name,
              QStringLiteral("speakers"));
    // Nothing better to show than the tap itself.
    EXPECT_EQ(PulseAudioInput::effectiveDefaultSink(sinks, QStringLiteral("orphan_tap_of_gone_sink"))->name,
              QStringLiteral("orphan_tap_of_gone_sink"));
    EXPECT_FALSE(PulseAudioInput::effectiveDefaultSink(sinks, QStringLiteral("gone")));
    EXPECT_FALSE(PulseAudioInput::effectiveDefaultSink({}, {}));
}
