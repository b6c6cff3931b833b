#pragma once

#include "platform/CaptureModes.h"

#include <string>
#include <vector>

namespace verticora {

// The translation between GStreamer caps, in their text form, and the stream modes the
// capture pipeline chooses from. Pure: no pipeline and no device is involved.

// Every format, size and rate the caps allow that the pipeline can take, in the order the
// caps list them. A size range gives the one size in it nearest 1280x720; caps that are
// not system memory, formats the pipeline cannot read, "ANY", "EMPTY" and text that is not
// caps give nothing.
[[nodiscard]] std::vector<StreamMode> streamModesOf(const std::string& caps);

// The caps that ask a camera for `mode` at `rate`; at any rate when `rate` is 0.
[[nodiscard]] std::string capsFor(const StreamMode& mode, CameraRate rate);

} // namespace verticora
