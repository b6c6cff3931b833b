#pragma once

#include "analysis/FaceLandmarkRequest.h"

#include <memory>
#include <mutex>
#include <vector>

namespace verticora::testing {

// A face as the landmark detector would report it, placed by its nose height
// (top-down) and its horizontal centre. Width 0.2 and height 0.24 of the frame: the
// face sinks into yellow 0.04 below its calibrated height and into red 0.0688 below.
FaceObservation faceWithNoseAt(double noseY, double centerX = 0.5, float confidence = 0.95f);

// The faces the next landmark requests return; shared between the test and the
// request that the capture thread uses.
class FaceScript {
public:
    void show(std::vector<FaceObservation> faces)
    {
        std::lock_guard lock(m_lock);
        m_faces = std::move(faces);
    }
    void showNobody() { show({}); }
    void failRequests(bool fail)
    {
        std::lock_guard lock(m_lock);
        m_fail = fail;
    }
    [[nodiscard]] std::vector<FaceObservation> faces()
    {
        std::lock_guard lock(m_lock);
        if (m_fail)
            throw LandmarkRequestError("The landmark model could not be read.");
        ++m_requests;
        return m_faces;
    }
    [[nodiscard]] int requests()
    {
        std::lock_guard lock(m_lock);
        return m_requests;
    }

private:
    std::mutex m_lock;
    std::vector<FaceObservation> m_faces;
    bool m_fail = false;
    int m_requests = 0;
};

class ScriptedLandmarkRequest final : public FaceLandmarkRequest {
public:
    explicit ScriptedLandmarkRequest(std::shared_ptr<FaceScript> script) : m_script(std::move(script)) {}
    [[nodiscard]] std::vector<FaceObservation> perform(const PixelBufferView&) override { return m_script->faces(); }

private:
    std::shared_ptr<FaceScript> m_script;
};

} // namespace verticora::testing
