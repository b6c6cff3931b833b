#pragma once

#include <string_view>

namespace verticora {

// User-facing sentences that name places of the desktop they run on. Every other text
// is the same everywhere; these differ, so each platform's wording lives here, side by
// side, and the code asks `platformTexts` for the one of this build.
struct PlatformTexts {
    std::string_view videoStaysLocal;
    std::string_view couldNotSaveSettings; // followed by the reason
    std::string_view allowCameraAccess;
    std::string_view updateInstalledAllowCamera;
    std::string_view stopCameraAndQuit;
};

inline constexpr PlatformTexts macPlatformTexts{
    "Your video stays on this Mac.",
    "Could not save settings on this Mac. ",
    "Allow Verticora in System Settings → Privacy & Security → Camera, then try again.",
    "Update installed. Allow Camera access in System Settings, then turn Camera on.",
    "Stop the camera and quit Verticora (⌘Q)",
};

inline constexpr PlatformTexts linuxPlatformTexts{
    "Your video stays on this computer.",
    "Could not save settings on this computer. ",
    "Allow Verticora to use the camera in your system’s privacy settings, then try again.",
    "Update installed. Allow camera access in your system’s privacy settings, then turn Camera on.",
    "Stop the camera and quit Verticora (Ctrl+Q)",
};

#ifdef __APPLE__
inline constexpr const PlatformTexts& platformTexts = macPlatformTexts;
#else
inline constexpr const PlatformTexts& platformTexts = linuxPlatformTexts;
#endif

} // namespace verticora
