#include "DlibFaceModels.h"

#include "platform/FaceModelFormat.h"

#include <dlib/image_processing.h>
#include <dlib/image_processing/frontal_face_detector.h>
#include <dlib/serialize.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <fstream>
#include <span>
#include <stdexcept>
#include <string>
#include <vector>

namespace verticora::facemodels {

namespace {

using detail::faceLandmarkCount;

// The members of dlib::shape_predictor, read in the order its deserialize() reads them
// (they are private there).
struct PredictorParts {
    dlib::matrix<float, 0, 1> initialShape;
    std::vector<std::vector<dlib::impl::regression_tree>> forests;
    std::vector<std::vector<unsigned long>> anchors;
    std::vector<std::vector<dlib::vector<float, 2>>> deltas;
};

PredictorParts readPredictor(const std::filesystem::path& path)
{
    const std::string name = path.string();
    std::ifstream in(path, std::ios::binary);
    if (!in)
        throw std::runtime_error("The shape predictor " + name + " cannot be read: " + std::strerror(errno) + ".");
    PredictorParts parts;
    try {
        int version = 0;
        dlib::deserialize(version, in);
        if (version != 1)
            throw dlib::serialization_error("unexpected version");
        dlib::deserialize(parts.initialShape, in);
        dlib::deserialize(parts.forests, in);
        dlib::deserialize(parts.anchors, in);
        dlib::deserialize(parts.deltas, in);
    } catch (const std::exception&) {
        throw std::runtime_error("The shape predictor " + name + " is damaged or not a dlib shape predictor.");
    }
    return parts;
}

dlib::array2d<unsigned char> copyOf(const detail::GreyView& view)
{
    dlib::array2d<unsigned char> image(view.height, view.width);
    for (int y = 0; y < view.height; ++y)
        std::copy_n(view.pixels + static_cast<std::size_t>(y) * view.bytesPerRow, view.width, &image[y][0]);
    return image;
}

void require(bool condition, const std::string& what)
{
    if (!condition)
        throw std::runtime_error("The face models cannot be converted: " + what + ".");
}

// A leaf as integers into `out`, in steps of the scale it returns: its largest value
// maps to the largest integer, every value to its nearest step.
float compact(const dlib::matrix<float, 0, 1>& leaf, std::span<facemodel::CompactLeaf> out)
{
    const float scale = dlib::max(dlib::abs(leaf)) / static_cast<float>(facemodel::compactLeafLimit);
    std::size_t i = 0;
    for (const float value : leaf) {
        const long step = scale > 0 ? std::lround(value / scale) : 0;
        out[i++] = static_cast<facemodel::CompactLeaf>(std::clamp<long>(step, -facemodel::compactLeafLimit,
                                                             facemodel::compactLeafLimit));
    }
    return scale;
}

template <typename T>
void put(std::vector<std::byte>& file, std::uint64_t offset, const T* values, std::size_t count)
{
    std::memcpy(file.data() + offset, values, count * sizeof(T));
}

} // namespace

void convertFaceModels(const std::filesystem::path& shapePredictor, const std::filesystem::path& output,
                       LeafPrecision leafPrecision)
{
    const PredictorParts parts = readPredictor(shapePredictor);
    facemodel::Header h;
    h.magic = facemodel::fileMagic;
    h.version = facemodel::fileVersion;
    h.byteOrder = facemodel::byteOrderMark;

    // The predictor: every stage and tree of the same size, as dlib trains them.
    require(parts.initialShape.size() == 2 * static_cast<long>(faceLandmarkCount), "the predictor has not 68 landmarks");
    require(!parts.forests.empty() && !parts.forests.front().empty(), "the predictor has no trees");
    require(parts.anchors.size() == parts.forests.size() && parts.deltas.size() == parts.forests.size(),
            "the predictor's stages do not match");
    const std::size_t trees = parts.forests.front().size();
    const std::size_t splits = parts.forests.front().front().splits.size();
    const std::size_t pixels = parts.anchors.front().size();
    require(pixels >= 1 && pixels <= 65535, "the predictor reads an unexpected number of pixels");
    for (std::size_t stage = 0; stage < parts.forests.size(); ++stage) {
        require(parts.forests[stage].size() == trees, "the predictor's stages differ in size");
        require(parts.anchors[stage].size() == pixels && parts.deltas[stage].size() == pixels,
                "the predictor's stages read different numbers of pixels");
        for (const unsigned long anchor : parts.anchors[stage])
            require(anchor < faceLandmarkCount, "a feature pixel hangs on no landmark");
        for (const dlib::impl::regression_tree& tree : parts.forests[stage]) {
            require(tree.splits.size() == splits && tree.leaf_values.size() == splits + 1, "the trees differ in depth");
            for (const auto& split : tree.splits)
                require(split.idx1 < pixels && split.idx2 < pixels, "a split reads a pixel that is not there");
            for (const auto& leaf : tree.leaf_values)
                require(leaf.size() == parts.initialShape.size(), "a leaf is not a whole shape");
        }
    }
    h.partCount = static_cast<std::uint32_t>(faceLandmarkCount);
    h.cascadeCount = static_cast<std::uint32_t>(parts.forests.size());
    h.treesPerCascade = static_cast<std::uint32_t>(trees);
    h.splitsPerTree = static_cast<std::uint32_t>(splits);
    h.featurePixels = static_cast<std::uint32_t>(pixels);
    h.leafBits = leafPrecision == LeafPrecision::exact ? facemodel::exactLeafBits : facemodel::compactLeafBits;

    // The detector, with the separable filters dlib would compute when it loads.
    const dlib::frontal_face_detector detector = dlib::get_frontal_face_detector();
    const auto& scanner = detector.get_scanner();
    require(scanner.get_fhog_window_width() == facemodel::filterTaps
                && scanner.get_fhog_window_height() == facemodel::filterTaps && scanner.get_padding() == 0
                && scanner.get_min_pyramid_layer_width() == scanner.get_min_pyramid_layer_height(),
            "the face detector's window is not the expected one");
    std::vector<facemodel::DetectorRecord> records;
    std::vector<facemodel::SeparableFilter> filters;
    for (unsigned long d = 0; d < detector.num_detectors(); ++d) {
        const auto& weights = detector.get_processed_w(d);
        const auto& bank = weights.get_detect_argument();
        require(bank.row_filters.size() == static_cast<std::size_t>(facemodel::hogPlanes),
                "the face detector does not read 31 feature planes");
        facemodel::DetectorRecord record;
        record.threshold = weights.w(scanner.get_num_dimensions());
        record.firstFilter = static_cast<std::uint32_t>(filters.size());
        for (std::size_t plane = 0; plane < bank.row_filters.size(); ++plane) {
            for (std::size_t j = 0; j < bank.row_filters[plane].size(); ++j) {
                const auto& row = bank.row_filters[plane][j];
                const auto& column = bank.col_filters[plane][j];
                require(row.size() == facemodel::filterTaps && column.size() == facemodel::filterTaps,
                        "a face detector filter is not 10 taps long");
                facemodel::SeparableFilter filter;
                filter.plane = static_cast<std::uint32_t>(plane);
                for (int k = 0; k < facemodel::filterTaps; ++k) {
                    filter.row[static_cast<std::size_t>(k)] = row(k);
                    filter.column[static_cast<std::size_t>(k)] = column(k);
                }
                filters.push_back(filter);
            }
        }
        record.filterCount = static_cast<std::uint32_t>(filters.size()) - record.firstFilter;
        records.push_back(record);
    }
    h.cellSize = static_cast<std::uint32_t>(scanner.get_cell_size());
    h.windowCells = static_cast<std::uint32_t>(scanner.get_fhog_window_width());
    h.pyramidStep = 6; // dlib::frontal_face_detector scans a pyramid_down<6>
    h.minimumLevelSide = static_cast<std::uint32_t>(scanner.get_min_pyramid_layer_width());
    h.detectorCount = static_cast<std::uint32_t>(records.size());
    h.filterCount = static_cast<std::uint32_t>(filters.size());
    h.overlapIou = detector.get_overlap_tester().get_iou_thresh();
    h.overlapCovered = detector.get_overlap_tester().get_percent_covered_thresh();

    facemodel::layOut(h);
    std::vector<std::byte> file(h.fileBytes);
    put(file, h.detectorsOffset, records.data(), records.size());
    put(file, h.filtersOffset, filters.data(), filters.size());
    put(file, h.initialShapeOffset, &parts.initialShape(0), static_cast<std::size_t>(parts.initialShape.size()));
    std::vector<std::uint8_t> anchors;
    std::vector<facemodel::Delta> deltas;
    std::vector<facemodel::Split> splitRecords;
    std::vector<float> leaves;
    std::vector<float> leafScales;
    std::vector<facemodel::CompactLeaf> compactLeaves;
    for (std::size_t stage = 0; stage < parts.forests.size(); ++stage) {
        for (std::size_t i = 0; i < pixels; ++i) {
            anchors.push_back(static_cast<std::uint8_t>(parts.anchors[stage][i]));
            deltas.push_back({parts.deltas[stage][i].x(), parts.deltas[stage][i].y()});
        }
        for (const dlib::impl::regression_tree& tree : parts.forests[stage]) {
            for (const auto& split : tree.splits)
                splitRecords.push_back({static_cast<std::uint16_t>(split.idx1), static_cast<std::uint16_t>(split.idx2),
                                        split.thresh});
            if (leafPrecision == LeafPrecision::exact) {
                for (const auto& leaf : tree.leaf_values)
                    leaves.insert(leaves.end(), leaf.begin(), leaf.end());
            } else {
                for (const auto& leaf : tree.leaf_values) {
                    const auto leafSize = static_cast<std::size_t>(leaf.size());
                    compactLeaves.resize(compactLeaves.size() + leafSize);
                    leafScales.push_back(compact(leaf, std::span(compactLeaves).last(leafSize)));
                }
            }
        }
    }
    put(file, h.anchorsOffset, anchors.data(), anchors.size());
    put(file, h.deltasOffset, deltas.data(), deltas.size());
    put(file, h.splitsOffset, splitRecords.data(), splitRecords.size());
    if (leafPrecision == LeafPrecision::exact) {
        put(file, h.leavesOffset, leaves.data(), leaves.size());
    } else {
        put(file, h.leafScalesOffset, leafScales.data(), leafScales.size());
        put(file, h.leavesOffset, compactLeaves.data(), compactLeaves.size());
    }
    h.checksum = facemodel::checksum(std::span<const std::byte>(file).subspan(sizeof(h)));
    std::memcpy(file.data(), &h, sizeof(h));

    std::error_code ignored;
    if (output.has_parent_path())
        std::filesystem::create_directories(output.parent_path(), ignored);
    std::filesystem::path partial = output;
    partial += ".part";
    {
        std::ofstream out(partial, std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(file.data()), static_cast<std::streamsize>(file.size()));
        out.close();
        if (!out)
            throw std::runtime_error("The face model file " + partial.string() + " cannot be written.");
    }
    std::error_code renamed;
    std::filesystem::rename(partial, output, renamed);
    if (renamed)
        throw std::runtime_error("The face model file " + output.string() + " cannot be written: " + renamed.message()
                                 + ".");
}

struct DlibReferenceEngine::Models {
    dlib::frontal_face_detector faces = dlib::get_frontal_face_detector();
    dlib::shape_predictor landmarks;
};

DlibReferenceEngine::DlibReferenceEngine(const std::filesystem::path& shapePredictor)
    : m_models(std::make_unique<Models>())
{
    std::ifstream file(shapePredictor, std::ios::binary);
    if (!file)
        throw detail::FaceModelError("The shape predictor " + shapePredictor.string() + " cannot be read.");
    try {
        dlib::deserialize(m_models->landmarks, file);
    } catch (const std::exception&) {
        throw detail::FaceModelError("The shape predictor " + shapePredictor.string() + " is damaged.");
    }
}

DlibReferenceEngine::~DlibReferenceEngine() = default;

void DlibReferenceEngine::detect(const detail::GreyView& view, int, std::vector<detail::DetectedFace>& faces)
{
    const dlib::array2d<unsigned char> image = copyOf(view);
    std::vector<dlib::rect_detection> found;
    m_models->faces(image, found);
    faces.clear();
    for (const dlib::rect_detection& detection : found) {
        const dlib::rectangle& box = detection.rect;
        const dlib::full_object_detection shape = m_models->landmarks(image, box);
        detail::DetectedFace& face = faces.emplace_back();
        face.left = static_cast<double>(box.left()) - 0.5;
        face.top = static_cast<double>(box.top()) - 0.5;
        face.right = static_cast<double>(box.right()) + 0.5;
        face.bottom = static_cast<double>(box.bottom()) + 0.5;
        face.score = detection.detection_confidence;
        for (std::size_t i = 0; i < faceLandmarkCount; ++i)
            face.points[i] = {static_cast<double>(shape.part(i).x()), static_cast<double>(shape.part(i).y())};
    }
}

void DlibReferenceEngine::measure(const detail::GreyView& view, detail::DetectedFace& face)
{
    const dlib::array2d<unsigned char> image = copyOf(view);
    const dlib::rectangle box(std::lround(face.left + 0.5), std::lround(face.top + 0.5), std::lround(face.right - 0.5),
                              std::lround(face.bottom - 0.5));
    const dlib::full_object_detection shape = m_models->landmarks(image, box);
    for (std::size_t i = 0; i < faceLandmarkCount; ++i)
        face.points[i] = {static_cast<double>(shape.part(i).x()), static_cast<double>(shape.part(i).y())};
}

struct DlibLandmarks::Cascade {
    PredictorParts parts;
};

DlibLandmarks::DlibLandmarks(const std::filesystem::path& shapePredictor)
    : m_cascade(std::make_unique<Cascade>(Cascade{readPredictor(shapePredictor)}))
{
}

DlibLandmarks::~DlibLandmarks() = default;

std::array<Point, faceLandmarkCount> DlibLandmarks::predict(const detail::GreyView& view, long left, long top,
                                                            long right, long bottom) const
{
    // dlib::shape_predictor::operator(), without its final rounding to whole pixels.
    const PredictorParts& p = m_cascade->parts;
    const dlib::array2d<unsigned char> image = copyOf(view);
    const dlib::rectangle rect(left, top, right, bottom);
    dlib::matrix<float, 0, 1> shape = p.initialShape;
    std::vector<float> pixels;
    for (std::size_t stage = 0; stage < p.forests.size(); ++stage) {
        dlib::impl::extract_feature_pixel_values(image, rect, shape, p.initialShape, p.anchors[stage], p.deltas[stage],
                                                 pixels);
        unsigned long leaf = 0;
        for (const dlib::impl::regression_tree& tree : p.forests[stage])
            shape += tree(pixels, leaf);
    }
    const dlib::point_transform_affine toImage = dlib::impl::unnormalizing_tform(rect);
    std::array<Point, faceLandmarkCount> points{};
    for (std::size_t i = 0; i < faceLandmarkCount; ++i) {
        const dlib::vector<double, 2> point = toImage(dlib::impl::location(shape, i));
        points[i] = {point.x(), point.y()};
    }
    return points;
}

} // namespace verticora::facemodels
