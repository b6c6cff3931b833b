#include "platform/DlibFaceModel.h"

#include "platform/FaceModelFormat.h"
#include "platform/HogFaceScanner.h"
#include "platform/ShapeCascade.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <span>
#include <string>
#include <system_error>

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

namespace verticora::detail {

namespace {

// The bytes of the model file, read into memory that the system may back with huge
// pages: the landmark cascade reads one leaf from a different 4-KB page for each of its
// 7,500 trees, and with 2-MB pages those reads cost a third less. The hint is given once
// the bytes are in, so the kernel's khugepaged gathers them into huge pages in the
// background (within half a minute); given before, each first touch of a 2-MB page waits
// for the kernel to find and clear one, at times tens of milliseconds of start-up on a
// busy machine. (Mapping the file would save the copy but gives only small pages, and a
// file rewritten in place would change under the checks made when it was read.)
class ModelBytes {
public:
    ModelBytes(const std::filesystem::path& path, const std::string& name)
    {
        const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
        if (fd < 0)
            throw FaceModelError("The face landmark model " + name + " cannot be read: " + std::strerror(errno) + ".");
        const auto fail = [&](int error) {
            ::close(fd);
            return FaceModelError("The face landmark model " + name + " cannot be read: " + std::strerror(error) + ".");
        };
        struct stat status {};
        if (::fstat(fd, &status) != 0)
            throw fail(errno);
        if (status.st_size <= 0) {
            ::close(fd);
            throw FaceModelError("The face landmark model " + name + " is damaged: it is empty.");
        }
        m_size = static_cast<std::size_t>(status.st_size);
        constexpr std::size_t hugePage = std::size_t{2} << 20;
        const std::size_t reserved = (m_size + hugePage - 1) / hugePage * hugePage;
        m_data.reset(static_cast<std::byte*>(std::aligned_alloc(hugePage, reserved)));
        if (!m_data)
            throw fail(ENOMEM);
        std::size_t done = 0;
        while (done < m_size) {
            const ::ssize_t got = ::read(fd, m_data.get() + done, m_size - done);
            if (got < 0 && errno == EINTR)
                continue;
            if (got < 0)
                throw fail(errno);
            if (got == 0)
                throw fail(EIO); // the file shrank while it was read
            done += static_cast<std::size_t>(got);
        }
        ::close(fd);
        ::madvise(m_data.get(), reserved, MADV_HUGEPAGE); // a hint; small pages work too
    }

    [[nodiscard]] std::span<const std::byte> bytes() const { return {m_data.get(), m_size}; }

private:
    struct Free {
        void operator()(std::byte* p) const { std::free(p); }
    };
    std::unique_ptr<std::byte, Free> m_data;
    std::size_t m_size = 0;
};

template <typename T>
std::span<const T> section(std::span<const std::byte> file, std::uint64_t offset, std::size_t count)
{
    return {reinterpret_cast<const T*>(file.data() + offset), count};
}

// The reasons a file is not a usable model, or none.
const char* problemWith(const facemodel::Header& h, std::size_t fileSize)
{
    if (h.magic != facemodel::fileMagic || h.byteOrder != facemodel::byteOrderMark)
        return "not a face model file";
    if (h.version != facemodel::fileVersion)
        return "of another format version";
    if (h.fileBytes != fileSize)
        return "not of the size it records";
    const bool detectorSane = h.cellSize >= 1 && h.cellSize <= 64 && h.windowCells == facemodel::filterTaps
        && h.pyramidStep >= 2 && h.pyramidStep <= 64 && h.minimumLevelSide >= 16 && h.detectorCount >= 1
        && h.detectorCount <= 64 && h.filterCount <= 100000 && std::isfinite(h.overlapIou)
        && std::isfinite(h.overlapCovered);
    const std::uint32_t leaves = facemodel::leavesPerTree(h);
    const bool predictorSane = h.partCount == faceLandmarkCount && h.cascadeCount >= 1 && h.cascadeCount <= 100
        && h.treesPerCascade >= 1 && h.treesPerCascade <= 10000 && h.splitsPerTree >= 1 && h.splitsPerTree < 1024
        && (leaves & (leaves - 1)) == 0 && h.featurePixels >= 1 && h.featurePixels <= 65535
        && (h.leafBits == facemodel::exactLeafBits || h.leafBits == facemodel::compactLeafBits);
    if (!detectorSane || !predictorSane)
        return "not a model of the expected shape";
    facemodel::Header laidOut = h;
    facemodel::layOut(laidOut);
    if (laidOut.fileBytes != h.fileBytes || laidOut.detectorsOffset != h.detectorsOffset
        || laidOut.filtersOffset != h.filtersOffset || laidOut.initialShapeOffset != h.initialShapeOffset
        || laidOut.anchorsOffset != h.anchorsOffset || laidOut.deltasOffset != h.deltasOffset
        || laidOut.splitsOffset != h.splitsOffset || laidOut.leafScalesOffset != h.leafScalesOffset
        || laidOut.leavesOffset != h.leavesOffset)
        return "not laid out as its header says";
    return nullptr;
}

struct ParsedModel {
    HogDetectorModel detector;
    ShapeModelView shape;
};

// Checks the file's bytes and points the detector and the shape model into them; throws
// FaceModelError.
ParsedModel parse(std::span<const std::byte> file, const std::string& name)
{
    const auto damaged = [&](const std::string& why) {
        return FaceModelError("The face landmark model " + name + " is damaged or not a prepared face model: it is "
                              + why + ".");
    };
    facemodel::Header h;
    if (file.size() < sizeof(h))
        throw damaged("too short");
    std::memcpy(&h, file.data(), sizeof(h));
    if (const char* problem = problemWith(h, file.size()))
        throw damaged(problem);
    if (facemodel::checksum(file.subspan(sizeof(h))) != h.checksum)
        throw damaged("not what was written (its checksum differs)");

    ParsedModel model;
    model.detector.cellSize = static_cast<int>(h.cellSize);
    model.detector.windowCells = static_cast<int>(h.windowCells);
    model.detector.pyramidStep = static_cast<int>(h.pyramidStep);
    model.detector.minimumLevelSide = static_cast<int>(h.minimumLevelSide);
    model.detector.overlapIou = h.overlapIou;
    model.detector.overlapCovered = h.overlapCovered;
    model.detector.detectors = section<facemodel::DetectorRecord>(file, h.detectorsOffset, h.detectorCount);
    model.detector.filters = section<facemodel::SeparableFilter>(file, h.filtersOffset, h.filterCount);
    for (const facemodel::DetectorRecord& d : model.detector.detectors) {
        if (!std::isfinite(d.threshold) || d.firstFilter > h.filterCount || d.filterCount > h.filterCount - d.firstFilter)
            throw damaged("not a model of the expected shape");
    }
    for (const facemodel::SeparableFilter& f : model.detector.filters) {
        if (f.plane >= static_cast<std::uint32_t>(facemodel::hogPlanes))
            throw damaged("not a model of the expected shape");
    }

    const facemodel::SectionSizes sizes = facemodel::sectionSizes(h);
    ShapeModelView& shape = model.shape;
    shape.partCount = static_cast<int>(h.partCount);
    shape.cascadeCount = static_cast<int>(h.cascadeCount);
    shape.treesPerCascade = static_cast<int>(h.treesPerCascade);
    shape.splitsPerTree = static_cast<int>(h.splitsPerTree);
    shape.featurePixels = static_cast<int>(h.featurePixels);
    shape.initialShape = section<float>(file, h.initialShapeOffset, sizes.initialShape / sizeof(float));
    shape.anchors = section<std::uint8_t>(file, h.anchorsOffset, sizes.anchors);
    shape.deltas = section<facemodel::Delta>(file, h.deltasOffset, sizes.deltas / sizeof(facemodel::Delta));
    shape.splits = section<facemodel::Split>(file, h.splitsOffset, sizes.splits / sizeof(facemodel::Split));
    shape.leafBits = static_cast<int>(h.leafBits);
    if (h.leafBits == facemodel::exactLeafBits) {
        shape.leaves = section<float>(file, h.leavesOffset, sizes.leaves / sizeof(float));
    } else {
        shape.compactLeaves = section<facemodel::CompactLeaf>(file, h.leavesOffset, sizes.leaves / sizeof(facemodel::CompactLeaf));
        shape.leafScales = section<float>(file, h.leafScalesOffset, sizes.leafScales / sizeof(float));
    }
    const bool scalesValid = std::all_of(shape.leafScales.begin(), shape.leafScales.end(),
                                         [](float scale) { return std::isfinite(scale) && scale >= 0; });
    const bool anchorsValid =
        std::all_of(shape.anchors.begin(), shape.anchors.end(), [&](std::uint8_t a) { return a < h.partCount; });
    const bool splitsValid = std::all_of(shape.splits.begin(), shape.splits.end(), [&](const facemodel::Split& s) {
        return s.first < h.featurePixels && s.second < h.featurePixels;
    });
    if (!scalesValid || !anchorsValid || !splitsValid)
        throw damaged("not a model of the expected shape");
    return model;
}

} // namespace

double levelFaceSide(int level)
{
    // The 10x10-cell window of 8-pixel cells covers a 73-pixel face box on level 0.
    return 73.0 * std::pow(6.0 / 5.0, level);
}

struct DlibFaceModel::Engine {
    ModelBytes file;
    ParsedModel model;
    HogFaceScanner scanner;
    ShapeCascade shapes;
    std::vector<PixelBox> boxes;

    Engine(const std::filesystem::path& path, const std::string& name, const HogKernels& kernels)
        : file(path, name), model(parse(file.bytes(), name)), scanner(model.detector, kernels), shapes(model.shape)
    {
    }
};

DlibFaceModel::DlibFaceModel(const std::filesystem::path& modelPath)
    : DlibFaceModel(modelPath, fastestHogKernels())
{
}

DlibFaceModel::DlibFaceModel(const std::filesystem::path& modelPath, const HogKernels& kernels)
{
    const std::string name = modelPath.string();
    std::error_code ignored;
    if (std::filesystem::is_directory(modelPath, ignored))
        throw FaceModelError("The face landmark model " + name + " is a folder, not a file.");
    m_engine = std::make_unique<Engine>(modelPath, name, kernels);
}

DlibFaceModel::~DlibFaceModel() = default;

void DlibFaceModel::detect(const GreyView& image, int firstLevel, std::vector<DetectedFace>& faces)
{
    faces.clear();
    m_engine->scanner.scan(image, firstLevel, m_engine->boxes);
    for (const PixelBox& box : m_engine->boxes) {
        DetectedFace& face = faces.emplace_back();
        face.left = static_cast<double>(box.left) - 0.5;
        face.top = static_cast<double>(box.top) - 0.5;
        face.right = static_cast<double>(box.right) + 0.5;
        face.bottom = static_cast<double>(box.bottom) + 0.5;
        face.score = box.score;
        m_engine->shapes.predict(image, box, face.points);
    }
}

void DlibFaceModel::measure(const GreyView& image, DetectedFace& face)
{
    // The edges lie half a pixel outside the box's outermost whole pixels.
    const PixelBox box{std::lround(face.left + 0.5), std::lround(face.top + 0.5), std::lround(face.right - 0.5),
                       std::lround(face.bottom - 0.5), face.score};
    m_engine->shapes.predict(image, box, face.points);
}

} // namespace verticora::detail
