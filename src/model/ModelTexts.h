#pragma once

#include "store/PlatformTexts.h"

#include <QString>

#include <string_view>

// Every sentence the camera model shows; the few that name places of the desktop come
// from the platform's own wording.
namespace verticora::texts {

inline constexpr std::string_view chooseCamera = "Choose your camera. ";
inline constexpr std::string_view permissionDenied = platformTexts.allowCameraAccess;
inline constexpr std::string_view initialGuidance = "Looking for your face. Keep your eyes and nose visible.";
inline constexpr std::string_view analysisInterrupted =
    "Camera analysis interrupted. Keep your face visible and try again.";

// Frames and setup.
inline constexpr std::string_view movedBelowCamera = "You moved below the camera. Come back up to your comfortable height.";
inline constexpr std::string_view trackingLost = "Tracking paused. Bring your face back into view.";
inline constexpr std::string_view captureRestarted = "A little movement. Hold steady to restart the three seconds.";
inline constexpr std::string_view captureHold = "Hold your comfortable position for three seconds.";
inline constexpr std::string_view setHeightFirst = "Sit comfortably, then set your height. That’s the only capture.";
inline constexpr std::string_view heightNotSaved = "Your height could not be saved. Try saving again to start.";
inline constexpr std::string_view finishingSetup = "Finishing your height setup…";
inline constexpr std::string_view atHeight = "At your comfortable height. Keep doing your thing.";
inline constexpr std::string_view aLittleLower = "A little lower. Come back toward your line.";
inline constexpr std::string_view belowRed = "You’ve sunk below your red level. Come back up when you’re ready.";
inline constexpr std::string_view zonesSet = "Your zones are set. Monitoring continues while you use other apps.";
inline constexpr std::string_view setHeightAgain =
    "Set your comfortable height again. Your saved height is kept until you finish.";
inline constexpr std::string_view previousRestored = "Your previous height and levels are restored.";
inline constexpr std::string_view zonesSaved = "Your zones are saved. Start the camera to resume with this setup.";

// Camera lifecycle.
inline constexpr std::string_view cameraDisconnected =
    "Selected camera disconnected. Choose a camera explicitly and start again.";
inline constexpr std::string_view cameraUnavailableName = "Selected camera unavailable";
inline constexpr std::string_view cameraChanged = "Camera changed. Start again to use this camera’s zones.";
inline constexpr std::string_view cameraOff = "Camera off. Start whenever you’re ready.";
inline constexpr std::string_view waitingForPermission = "Waiting for camera permission…";
inline constexpr std::string_view chooseAvailableCamera = "Choose an available camera, then start again.";
inline constexpr std::string_view openingPrefix = "Opening ";
inline constexpr std::string_view openingSuffix = "…";
inline constexpr std::string_view couldNotOpen = "Could not open this camera. Close other camera apps and try again.";
inline constexpr std::string_view didNotStart = "Camera did not start. Check the connection, then try again.";
inline constexpr std::string_view resumedSavedZones =
    "Resumed your saved zones. Keep your camera and seating setup in the same position.";
inline constexpr std::string_view sitComfortably =
    "Sit at a comfortable height. Set it once, then adjust the two levels on your meter.";
inline constexpr std::string_view paused = "Camera and reminders paused. Resume whenever you’re ready.";
inline constexpr std::string_view pausedForAWhile = "Camera and reminders paused for a little while.";
inline constexpr std::string_view resuming = "Resuming your zones…";
inline constexpr std::string_view cameraLent = "Camera lent to another app. Tracking resumes when it’s free.";
inline constexpr std::string_view screenLocked = "Your screen is locked. Tracking resumes when you unlock it.";
inline constexpr std::string_view stoppedBeforeSleep =
    "Camera stopped before sleep. Your saved zones are kept; start again when ready.";
inline constexpr std::string_view interrupted = "Camera interrupted. Check the connection, then start again.";
inline constexpr std::string_view couldNotResumeAfterPause =
    "Camera could not resume after the pause. Check your selected camera and permission.";

// Update handoff.
inline constexpr std::string_view couldNotPrepareResume = "Could not prepare tracking to resume after update. ";
inline constexpr std::string_view updateNotRestored =
    "Update installed, but tracking could not be restored safely. Turn Camera on when ready.";
inline constexpr std::string_view updateInstalled = "Update installed. ";
inline constexpr std::string_view turnCameraOnWhenReady = " Turn Camera on when ready.";
inline constexpr std::string_view setupKept = "Your saved setup is kept. Turn Camera on to finish setting your height.";
inline constexpr std::string_view cameraSetupNotRestored =
    "Update installed. Your saved camera setup could not be restored. Choose your camera and set your height.";
inline constexpr std::string_view updateNeedsCameraAccess = platformTexts.updateInstalledAllowCamera;
inline constexpr std::string_view updateCameraUnavailable =
    "Update installed. Your selected camera is unavailable; reconnect it and turn Camera on.";
inline constexpr std::string_view pausedAfterUpdate = "Camera paused. Resume when you’re ready.";
inline constexpr std::string_view previousInstanceClosing =
    "The previous Verticora instance is still closing. Turn Camera on when ready.";

// One of the sentences above as the QString the published properties carry.
[[nodiscard]] inline QString text(std::string_view sentence)
{
    return QString::fromUtf8(sentence.data(), static_cast<qsizetype>(sentence.size()));
}

} // namespace verticora::texts
