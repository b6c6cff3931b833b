#include "platform/DlibFaceModel.h"

#include <dlib/image_processing.h>
#include <dlib/image_processing/frontal_face_detector.h>
#include <dlib/serialize.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <system_error>
#include <string>

namespace verticora::detail {

struct DlibFaceModel::Engine {
    dlib::frontal_face_detector faces = dlib::get_frontal_face_detector();
    dlib::shape_predictor landmarks;
    dlib::array2d<unsigned char> image;
};

DlibFaceModel::DlibFaceModel(const std::filesystem::path& shapeModelPath)
{
    const std::string name = shapeModelPath.string();
    std::error_code ignored;
    if (std::filesystem::is_directory(shapeModelPath, ignored))
        throw FaceModelError("The face landmark model " + name + " is a folder, not a file.");
    std::ifstream file(shapeModelPath, std::ios::binary);
    if (!file)
        throw FaceModelError("The face landmark model " + name + " cannot be read: " + std::strerror(errno) + ".");

    auto engine = std::make_unique<Engine>();
    try {
        dlib::deserialize(engine->landmarks, file);
    } catch (const dlib::serialization_error&) {
        throw FaceModelError("The face landmark model " + name + " is damaged or not a dlib shape predictor.");
    } catch (const std::exception&) { // a damaged size field can ask for absurd amounts of memory
        throw FaceModelError("The face landmark model " + name + " is damaged and cannot be loaded.");
    }
    if (engine->landmarks.num_parts() != faceLandmarkCount) {
        throw FaceModelError("The face landmark model " + name + " has " + std::to_string(engine->landmarks.num_parts())
                             + " landmarks, not the 68 faces are read with.");
    }
    m_engine = std::move(engine);
}

DlibFaceModel::~DlibFaceModel() = default;

std::vector<DetectedFace> DlibFaceModel::detect(const std::uint8_t* grey, int width, int height,
                                                std::size_t bytesPerRow)
{
    dlib::array2d<unsigned char>& image = m_engine->image;
    if (image.nc() != width || image.nr() != height)
        image.set_size(height, width);
    for (int y = 0; y < height; ++y)
        std::copy_n(grey + static_cast<std::size_t>(y) * bytesPerRow, width, &image[y][0]);

    std::vector<dlib::rect_detection> found;
    m_engine->faces(image, found);

    std::vector<DetectedFace> faces;
    faces.reserve(found.size());
    for (const dlib::rect_detection& detection : found) {
        const dlib::rectangle& box = detection.rect;
        const dlib::full_object_detection shape = m_engine->landmarks(image, box);
        DetectedFace face;
        face.left = static_cast<double>(box.left()) - 0.5;
        face.top = static_cast<double>(box.top()) - 0.5;
        face.right = static_cast<double>(box.right()) + 0.5;
        face.bottom = static_cast<double>(box.bottom()) + 0.5;
        face.score = detection.detection_confidence;
        for (std::size_t i = 0; i < faceLandmarkCount; ++i) {
            const dlib::point& p = shape.part(i);
            face.points[i] = {static_cast<double>(p.x()), static_cast<double>(p.y())};
        }
        faces.push_back(face);
    }
    return faces;
}

} // namespace verticora::detail
