#pragma once

#include "capture/TextLookup.h"
#include "engine/EngineLine.h"

namespace corvessa {

// Every event line the engine sends, each written once. The lines the owner
// shows translated go through textKey(): the translation tables hold them as
// they stand here, values as "%@", and the owner's reverse lookup translates a
// formatted line by them. The others stay English.
struct EngineLines {
    static constexpr EngineLine noMicPermission{
        textKey("No microphone permission, so the microphone will not be recorded this time")};
    static constexpr EngineLine systemAudioFailed{
        textKey("System audio could not be enabled this time, will not record system audio: %@")};
    static constexpr EngineLine started{"Started recording %@x%@@%@"};
    static constexpr EngineLine paused{"Paused (instant tier)"};
    static constexpr EngineLine eco{"Entered eco tier"};
    static constexpr EngineLine deep{"Entered deep tier (capture stopped)"};
    static constexpr EngineLine resumed{"Resumed (previous level: %@)"};
    static constexpr EngineLine resumeFailed{"Failed to resume capture: %@"};
    static constexpr EngineLine resumeFilled{"No new frames after resume, filled with the last frame."};
    static constexpr EngineLine videoSync{
        "[video-sync] wait<=200ms queued=%@ pixels=%@KB dropped=%@ matched=%@ missing=%@"};
    static constexpr EngineLine micDead{
        textKey("Microphone has no data (disconnected or not connected), skipping this track (screen continues "
                "recording); reconnect the same microphone, or stop recording before selecting another device.")};
    static constexpr EngineLine lowDisk{
        textKey("Insufficient disk space (remaining %@ MB), stopped and saved automatically.")};
    static constexpr EngineLine micFormat{
        "Microphone format: %@ Hz, %@ channel(s), %@ bit, flags=0x%@, %@ bytes per frame"};
    static constexpr EngineLine screenLost{
        textKey("Screen is temporarily unavailable (sleep, lock, or monitor disconnected), screen is frozen, will "
                "automatically resume when available.")};
    static constexpr EngineLine screenRestored{"Screen restored, resuming recording."};
    // The display of a recorded area was moved in the layout: the area follows it.
    static constexpr EngineLine areaMoved{
        textKey("The screen of the recorded area moved; the area moved with it.")};
    // A closed window never comes back: the owner stops and saves the recording.
    static constexpr EngineLine windowClosed{
        textKey("The window being recorded was closed, so the recording was stopped and saved.")};
    static constexpr EngineLine micGone{
        textKey("Microphone disconnected, skipping this track (screen continues recording); reconnect the same "
                "microphone, or stop recording before selecting another device.")};
    static constexpr EngineLine micCouldNotConnect{
        textKey("Microphone track could not connect, skipping (screen continues recording); reconnect the same "
                "microphone, or stop recording before selecting another device.")};
    static constexpr EngineLine videoWriteFailed{"Failed to write video: %@"};
    // The track's label, then the writer's message.
    static constexpr EngineLine writeError{textKey("%@ write error, this track has stopped (others continue): %@")};
    static constexpr EngineLine formatChanged{
        textKey("%@ audio format changed mid-way (device changed?), skipping this segment.")};
    static constexpr EngineLine saveFailed{textKey("Save failed: %@")};
    // Seconds of sound that reached the engine too late even for the waiting mix.
    static constexpr EngineLine soundDropped{
        textKey("%@ s of sound arrived too late under heavy load and is missing from the recording.")};
    // Seconds of sound missing from the movie for any reason: too late, or not
    // taken by a writer that fell behind.
    static constexpr EngineLine soundMissing{
        textKey("%@ s of sound could not be written in time under heavy load and is missing from the recording.")};
    // The same for a camera file's sound (the microphone), naming the file.
    static constexpr EngineLine cameraSoundMissing{
        textKey("%@ s of sound could not be written in time under heavy load and is missing from the camera file "
                "“%@”.")};
    static constexpr EngineLine audioSync{"[audio-sync] late=%@ overlap=%@ resync=%@ frames=%@"};
    static constexpr EngineLine completed{"File completed"};
    // The movie or a camera file was renamed, or its folder moved, while it was
    // written: saved whole where it is now.
    static constexpr EngineLine fileMoved{"File moved while recording, saved as %@"};
    // A source that broke off and came back (the sound server restarted, the
    // microphone was away): the recorded seconds without it, told when it is back.
    static constexpr EngineLine micGap{
        textKey("The microphone was unavailable for %@ s; that part of the recording has no microphone sound.")};
    static constexpr EngineLine systemGap{
        textKey("System audio was unavailable for %@ s; that part of the recording has no system audio.")};
    static constexpr EngineLine cameraSizeChanged{
        textKey("Camera frame size changed (device changed?), saving as a new file.")};
    static constexpr EngineLine cameraWriteFailed{textKey("Camera write failed: %@")};
    static constexpr EngineLine cameraNotCreated{textKey("Camera file could not be created")};
    static constexpr EngineLine cameraNotStarted{textKey("Camera file could not be started: %@")};
};

} // namespace corvessa
