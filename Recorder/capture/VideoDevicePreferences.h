#pragma once

#include "capture/VideoDeviceChoice.h"

#include <QMap>
#include <QString>

#include <optional>

namespace corvessa {

class UserDefaults;

// The remembered format per camera ("camera:<id>") and per screen target
// ("screen:<display>:<mode>"), kept as one JSON object in a data value of the user
// defaults. Nothing is cached: every call reads the stored blob again. Used from
// the main thread.
class VideoDevicePreferences {
public:
    static inline const QString defaultKey = QStringLiteral("captureVideoChoices.v1");
    // A stored blob this large or larger is not parsed.
    static constexpr qsizetype maximumBlobSize = 128 * 1024;

    // The program's store: the standard user defaults under defaultKey.
    VideoDevicePreferences();
    explicit VideoDevicePreferences(UserDefaults& defaults, QString key = defaultKey);

    // The remembered choice for a device key.
    std::optional<VideoDeviceChoice> choice(const QString& deviceKey) const;
    // Remembers a valid choice, replacing the key's earlier one; an invalid one
    // (rate outside 0.1...120) changes nothing. The blob is rewritten without the
    // entries that could not be read.
    void save(const VideoDeviceChoice& choice, const QString& deviceKey);

    const QString& key() const { return m_key; }

private:
    // Every readable, valid entry. A blob that is missing, too large or not a JSON
    // object reads as empty; a single malformed or invalid entry is left out
    // without costing the others.
    QMap<QString, VideoDeviceChoice> choices() const;

    UserDefaults& m_defaults;
    QString m_key;
};

} // namespace corvessa
