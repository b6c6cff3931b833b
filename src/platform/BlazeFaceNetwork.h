#pragma once

#include <array>
#include <span>

// The second face finder's network, run by OpenCV's DNN module. It is built into a module
// of its own (BlazeFaceNetwork.cpp, the only code that links OpenCV), which BlazeFaceFinder
// loads when it is first needed: a user whom the HOG detector always finds never has
// OpenCV in memory. The finder and the module meet only through this header.
namespace verticora::blazeface {

inline constexpr int inputSide = 128;

class Network {
public:
    virtual ~Network() = default;

    // Where the caller puts the picture: inputSide x inputSide pixels of red, green and
    // blue floats from -1 to 1, row by row.
    [[nodiscard]] virtual std::span<float> input() = 0;
    // Runs the network on the picture in input(). On success `outputs` holds the
    // network's four outputs, valid until the next run; false when the network fails.
    [[nodiscard]] virtual bool run(std::array<std::span<const float>, 4>& outputs) = 0;
};

enum class Opening : int { opened, unreadable, notBlazeFace };

// The module's one entry point: the network read from `modelPath`, owned by the caller,
// or null with `result` saying why. The name carries the version of this interface, so
// that a module of another build is refused rather than misread.
inline constexpr char entryPoint[] = "verticoraOpenBlazeFaceNetwork1";
using OpenNetwork = Network* (*)(const char* modelPath, Opening* result);

} // namespace verticora::blazeface
