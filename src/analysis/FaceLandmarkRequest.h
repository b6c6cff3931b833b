#pragma once

#include "analysis/FaceObservation.h"
#include "analysis/PixelBuffer.h"

#include <stdexcept>
#include <vector>

namespace verticora {

// A failed landmark request (for example a model file that cannot be read).
class LandmarkRequestError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Finds every face in a frame with its landmarks. One object is reused for every full
// pass; it is used on one thread at a time.
class FaceLandmarkRequest {
public:
    virtual ~FaceLandmarkRequest() = default;
    // Throws LandmarkRequestError when the request cannot run.
    [[nodiscard]] virtual std::vector<FaceObservation> perform(const PixelBufferView& frame) = 0;
    // Gets ready for the first perform (reads a model, say) ahead of time; a failure
    // is kept for perform to report.
    virtual void prepare() {}
};

} // namespace verticora
