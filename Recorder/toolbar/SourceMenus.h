#pragma once

#include "model/MenuRow.h"

namespace corvessa {

class RecorderModel;

// The pop-up menus of the camera, microphone and system-audio items, built
// afresh from the model each time a menu opens. The rows' actions hold the
// model by reference: it lives as long as the program, longer than any menu.
// Main thread.
class SourceMenus {
public:
    SourceMenus() = delete;

    // Both re-read the device lists first.
    static MenuRows camera(RecorderModel& m);
    static MenuRows microphone(RecorderModel& m);
    static MenuRows systemAudio(RecorderModel& m);

    // The note under the system-audio menu while a recording that started
    // without system audio runs; shown as written, in every language.
    static inline const QString systemAudioOffNote =
        QStringLiteral("System audio was off when this recording started; enable it after stopping.");
};

} // namespace corvessa
