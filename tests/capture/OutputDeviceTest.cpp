#include "capture/OutputDevice.h"
#include "platform/AudioInputError.h"
#include "platform/synthetic/SyntheticAudioInput.h"

#include <gtest/gtest.h>

using namespace corvessa;

namespace {

AudioSink sink(QMap<QString, QString> properties, const char* port = "", const char* portDescription = "")
{
    AudioSink s;
    s.name = QStringLiteral("out");
    s.properties = std::move(properties);
    s.activePort = QString::fromUtf8(port);
    s.activePortDescription = QString::fromUtf8(portDescription);
    return s;
}

} // namespace

TEST(OutputDeviceTest, UnknownOrSpeakerOutputsCountAsBuiltIn)
{
    EXPECT_TRUE(OutputDevice::isBuiltInSpeaker(std::nullopt));
    EXPECT_TRUE(OutputDevice::isBuiltInSpeaker(sink({})));
    EXPECT_TRUE(OutputDevice::isBuiltInSpeaker(
        sink({{QStringLiteral("device.bus"), QStringLiteral("pci")}, {QStringLiteral("device.form_factor"), QStringLiteral("internal")}},
             "analog-output-speaker", "Speakers")));
}

TEST(OutputDeviceTest, HeadphonesUsbAndBluetoothDoNot)
{
    EXPECT_FALSE(OutputDevice::isBuiltInSpeaker(sink({{QStringLiteral("device.bus"), QStringLiteral("usb")}})));
    EXPECT_FALSE(OutputDevice::isBuiltInSpeaker(sink({{QStringLiteral("device.bus"), QStringLiteral("bluetooth")}})));
    EXPECT_FALSE(OutputDevice::isBuiltInSpeaker(sink({{QStringLiteral("device.form_factor"), QStringLiteral("headset")}})));
    EXPECT_FALSE(OutputDevice::isBuiltInSpeaker(sink({{QStringLiteral("device.form_factor"), QStringLiteral("headphone")}})));
    EXPECT_FALSE(OutputDevice::isBuiltInSpeaker(sink({{QStringLiteral("device.bus"), QStringLiteral("pci")}},
                                                    "analog-output-headphones", "Headphones")));
    EXPECT_FALSE(OutputDevice::isBuiltInSpeaker(sink({}, "[Out] Headphones")));
    EXPECT_FALSE(OutputDevice::isBuiltInSpeaker(sink({}, "port-3", "Headset Earphone")));
}

TEST(OutputDeviceTest, AskingTheServiceFallsBackToBuiltIn)
{
    auto input = std::make_shared<SyntheticAudioInput>();
    EXPECT_TRUE(OutputDevice::isBuiltInSpeaker(input));
    input->setDefaultSink(sink({{QStringLiteral("device.bus"), QStringLiteral("usb")}}));
    EXPECT_FALSE(OutputDevice::isBuiltInSpeaker(input));
    input->setDefaultSink(std::nullopt);
    EXPECT_TRUE(OutputDevice::isBuiltInSpeaker(input));
    input->setDefaultSink(sink({{QStringLiteral("device.bus"), QStringLiteral("usb")}}));
    input->failAt(AudioInputError::Stage::Connect);
    EXPECT_TRUE(OutputDevice::isBuiltInSpeaker(input));
}
