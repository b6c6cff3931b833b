#pragma once

#include "analysis/Geometry.h"
#include "analysis/PixelBuffer.h"
#include "platform/BlazeFaceNetwork.h"

#include <array>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace verticora {

// One face the finder saw, in pixels of the frame it was given (x to the right, y down).
struct BlazeFace {
    // The keypoints, in the model's order: the person's right eye (image left), left eye,
    // nose tip, mouth centre, right ear tragion, left ear tragion.
    enum Keypoint : std::size_t { rightEye, leftEye, noseTip, mouth, rightEar, leftEar };

    Point center;      // of the model's square face box, whose bottom lies at about the chin
    double side = 0;   // of that box
    float score = 0;   // 0 to 1
    std::array<Point, 6> keypoints{};
};

// A second face finder for the faces dlib's HOG detector misses: dark, rolled and cut
// ones. MediaPipe's BlazeFace short-range detector (128x128 ONNX) run by OpenCV's DNN
// module on the whole frame, letterboxed to a square. It finds a face whose eyes it can
// place anywhere a hand or a shadow leaves a face-like pattern, so its faces are only
// candidates for the landmark checks. About 3 ms a pass on one core.
//
// The network lives in a module of its own (BlazeFaceNetwork.h), the only code that
// links OpenCV. The first find(), never the constructor, loads the module and reads the
// network, so a user whom HOG always finds never has either in memory. The module is
// loaded only from the fixed path the build compiled in, and only when no other user
// could have changed it. Not thread-safe.
class BlazeFaceFinder {
public:
    static constexpr int inputSide = blazeface::inputSide;
    static constexpr float minimumScore = 0.6f;

    // The model this build fetched.
    [[nodiscard]] static std::filesystem::path defaultModelPath();
    // The module this build made (where the package installs it, for a packaged build).
    [[nodiscard]] static std::filesystem::path defaultModulePath();

    explicit BlazeFaceFinder(std::filesystem::path modelPath = defaultModelPath(),
                             std::filesystem::path modulePath = defaultModulePath());
    ~BlazeFaceFinder();
    BlazeFaceFinder(const BlazeFaceFinder&) = delete;
    BlazeFaceFinder& operator=(const BlazeFaceFinder&) = delete;

    // The faces in `frame` scoring at least `minimumScore`, best first. Frames may be BGRA
    // (colour is used) or any format the detector reads (its luma is used). `tone` maps
    // every 8-bit channel value before the network sees it (a brightening of a dark
    // frame), or is empty. Empty when the module cannot be loaded or the model cannot be
    // read; `loadFailure` then says why, and neither is tried again.
    [[nodiscard]] std::vector<BlazeFace> find(const PixelBufferView& frame, std::span<const std::uint8_t> tone = {});

    [[nodiscard]] bool loaded() const { return m_network != nullptr; }
    [[nodiscard]] const std::optional<std::string>& loadFailure() const { return m_loadFailure; }

private:
    struct Network;

    bool load();
    void fillInput(const PixelBufferView& frame, std::span<const std::uint8_t> tone);

    std::filesystem::path m_modelPath;
    std::filesystem::path m_modulePath;
    std::unique_ptr<Network> m_network;
    std::optional<std::string> m_loadFailure;
    // Where the frame sits in the square input: its scale and offset in input pixels.
    double m_scale = 1;
    double m_offsetX = 0;
    double m_offsetY = 0;
};

} // namespace verticora
