#pragma once

#include "analysis/FaceObservation.h"
#include "analysis/Geometry.h"
#include "analysis/PixelBuffer.h"

#include <optional>
#include <stdexcept>
#include <vector>

namespace verticora {

// A failed landmark request (for example a model file that cannot be read).
class LandmarkRequestError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// What the caller knows before a full pass: the time on its clock and, while a subject is
// tracked, the subject's box (normalised, origin lower-left). A request may use it to skip
// looking for faces too small to matter.
struct FaceSearchHint {
    double time = 0;
    std::optional<Rect> subjectBox;
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
    // Applies to the following performs, until the next hint.
    virtual void setSearchHint(const FaceSearchHint&) {}
    // Looks again, with a second face finder, at the frame of the last perform, for the
    // faces it missed or could not measure (a dark, rolled or cut face); a face perform
    // reported may come again. Costs a few milliseconds more, so it is for frames where
    // perform found nobody usable. None by default.
    [[nodiscard]] virtual std::vector<FaceObservation> findMissedFaces(const PixelBufferView&) { return {}; }
};

} // namespace verticora
