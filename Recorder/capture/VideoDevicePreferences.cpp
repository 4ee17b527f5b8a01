#include "capture/VideoDevicePreferences.h"

#include "platform/core/UserDefaults.h"

#include <QJsonDocument>
#include <QJsonObject>

namespace corvessa {

VideoDevicePreferences::VideoDevicePreferences() : VideoDevicePreferences(UserDefaults::standard()) {}

VideoDevicePreferences::VideoDevicePreferences(UserDefaults& defaults, QString key)
    : m_defaults(defaults), m_key(std::move(key))
{
}

QMap<QString, VideoDeviceChoice> VideoDevicePreferences::choices() const
{
    const std::optional<QByteArray> data = m_defaults.data(m_key);
    if (!data || data->size() >= maximumBlobSize)
        return {};
    QJsonParseError error{};
    const QJsonDocument doc = QJsonDocument::fromJson(*data, &error);
    if (error.error != QJsonParseError::NoError || !doc.isObject())
        return {};
    QMap<QString, VideoDeviceChoice> result;
    const QJsonObject object = doc.object();
    for (auto it = object.begin(); it != object.end(); ++it) {
        // One bad entry (hand-edited, or written by another version) must not
        // take the user's other remembered formats with it.
        const std::optional<VideoDeviceChoice> choice = VideoDeviceChoice::fromJson(it.value());
        if (choice && choice->isValid())
            result.insert(it.key(), *choice);
    }
    return result;
}

std::optional<VideoDeviceChoice> VideoDevicePreferences::choice(const QString& deviceKey) const
{
    const QMap<QString, VideoDeviceChoice> all = choices();
    if (const auto it = all.constFind(deviceKey); it != all.cend())
        return *it;
    return std::nullopt;
}

void VideoDevicePreferences::save(const VideoDeviceChoice& choice, const QString& deviceKey)
{
    if (!choice.isValid())
        return;
    QMap<QString, VideoDeviceChoice> all = choices();
    all.insert(deviceKey, choice);
    QJsonObject object;
    for (auto it = all.cbegin(); it != all.cend(); ++it)
        object.insert(it.key(), it->toJson());
    m_defaults.setData(m_key, QJsonDocument(object).toJson(QJsonDocument::Compact));
}

} // namespace corvessa
