// verticora-convert-face-models: prepares the face model file the application maps,
// from dlib's face detector and shape predictor. The build runs it. --exact-leaves keeps
// the landmark trees' leaves as dlib's floats (four times the size), for comparisons.

#include "DlibFaceModels.h"

#include <cstdio>
#include <exception>
#include <string>

int main(int argc, char** argv)
{
    std::string shapePredictor = verticora::facemodels::dlibShapePredictorPath;
    std::string output;
    auto precision = verticora::facemodels::LeafPrecision::compact;
    for (int i = 1; i < argc; ++i) {
        const std::string argument = argv[i];
        if (argument == "--shape-predictor" && i + 1 < argc) {
            shapePredictor = argv[++i];
        } else if (argument == "--exact-leaves") {
            precision = verticora::facemodels::LeafPrecision::exact;
        } else if (output.empty() && !argument.starts_with("-")) {
            output = argument;
        } else {
            output.clear();
            break;
        }
    }
    if (output.empty()) {
        std::fputs("usage: verticora-convert-face-models [--shape-predictor FILE.dat] [--exact-leaves] OUTPUT\n", stderr);
        return 2;
    }
    try {
        verticora::facemodels::convertFaceModels(shapePredictor, output, precision);
    } catch (const std::exception& error) {
        std::fprintf(stderr, "verticora-convert-face-models: %s\n", error.what());
        return 1;
    }
    return 0;
}
