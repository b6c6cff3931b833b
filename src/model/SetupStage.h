#pragma once

#include <string_view>

namespace verticora {

// Where the height setup stands while the camera runs.
enum class SetupStage {
    idle,        // camera off
    heightSetup, // sitting comfortably, then capturing the height
    review,      // height captured, levels not saved yet
    monitoring,  // height set: the zones are tracked
};

// "idle", "green", "review" or "monitoring": the stage as the JSON lines, the samples
// file and the tools name it.
[[nodiscard]] constexpr std::string_view setupStageName(SetupStage stage)
{
    switch (stage) {
    case SetupStage::heightSetup:
        return "green";
    case SetupStage::review:
        return "review";
    case SetupStage::monitoring:
        return "monitoring";
    case SetupStage::idle:
        break;
    }
    return "idle";
}

} // namespace verticora
