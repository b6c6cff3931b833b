#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <limits>
#include <span>

// The layout of the face model file the build prepares from dlib's HOG face detector and
// 68-point shape predictor (tools/face-models). It is used as it lies in memory, without
// decoding: every section starts on a 64-byte boundary and holds plain little-endian
// arrays.
//
// - the detector: one record per sliding-window detector and the separable filters
//   they sum over the 31 HOG feature planes (dlib decomposes each 10x10 plane filter when
//   it loads; here that is done once at build time);
// - the predictor: the mean shape, and per cascade stage the feature pixels (anchor
//   landmark and offset), the split of every tree and its leaves. The leaves are nearly
//   all of the file. They are kept either as dlib's single floats (leafBits 32) or, as
//   the build prepares them, as 16-bit integers (leafBits 16) times their leaf's scale:
//   half the memory. The cascade is chaotic (a landmark nudged across a pixel boundary
//   sends later trees down other branches), so even that rounding moves a landmark by
//   most of a pixel now and then. A scale per leaf rather than per tree rounds about a
//   third as coarsely for 0.5 MB more, and then the posture measurement made of the
//   landmarks moves by less than a hundredth on every test clip, where one scale per
//   tree moved it by up to 0.04 (tools/face-models/compare-leaves prints it).
namespace verticora::facemodel {

inline constexpr std::array<char, 8> fileMagic{'V', 'R', 'T', 'F', 'A', 'C', 'E', 'S'};
inline constexpr std::uint32_t fileVersion = 3;
inline constexpr std::uint32_t byteOrderMark = 0x01020304;
inline constexpr std::size_t sectionAlignment = 64;

inline constexpr int hogPlanes = 31;
inline constexpr int filterTaps = 10;

struct Header {
    std::array<char, 8> magic{};
    std::uint32_t version = 0;
    std::uint32_t byteOrder = 0;
    std::uint64_t fileBytes = 0;
    std::uint64_t checksum = 0; // of every byte after the header

    // Detector: HOG cells of cellSize pixels, a window of windowCells x windowCells cells,
    // an image pyramid that shrinks by (pyramidStep - 1) / pyramidStep per level down to
    // minimumLevelSide pixels, and overlapping detections suppressed as dlib's
    // test_box_overlap(overlapIou, overlapCovered) decides.
    std::uint32_t cellSize = 0;
    std::uint32_t windowCells = 0;
    std::uint32_t pyramidStep = 0;
    std::uint32_t minimumLevelSide = 0;
    std::uint32_t detectorCount = 0;
    std::uint32_t filterCount = 0;
    double overlapIou = 0;
    double overlapCovered = 0;
    std::uint64_t detectorsOffset = 0;
    std::uint64_t filtersOffset = 0;

    // Predictor.
    std::uint32_t partCount = 0;
    std::uint32_t cascadeCount = 0;
    std::uint32_t treesPerCascade = 0;
    std::uint32_t splitsPerTree = 0;
    std::uint32_t featurePixels = 0; // per cascade stage
    std::uint32_t leafBits = 0;      // 32: floats; 16: integers times their leaf's scale
    std::uint64_t initialShapeOffset = 0;
    std::uint64_t anchorsOffset = 0;
    std::uint64_t deltasOffset = 0;
    std::uint64_t splitsOffset = 0;
    std::uint64_t leafScalesOffset = 0; // one float per leaf, for integer leaves
    std::uint64_t leavesOffset = 0;
};

inline constexpr std::uint32_t exactLeafBits = 32;
using CompactLeaf = std::int16_t;
inline constexpr std::uint32_t compactLeafBits = 8 * sizeof(CompactLeaf);
// The largest compact leaf value: a leaf's scale is its largest value / this.
inline constexpr int compactLeafLimit = std::numeric_limits<CompactLeaf>::max();

struct DetectorRecord {
    double threshold = 0;           // a window is a face when its filter sum reaches this
    std::uint32_t firstFilter = 0;  // into the filter array
    std::uint32_t filterCount = 0;
};

// One rank-one part of a plane filter: the plane's response is the column filter applied
// to the row filter's output, summed over all parts of all planes.
struct SeparableFilter {
    std::uint32_t plane = 0;
    std::array<float, filterTaps> row{};
    std::array<float, filterTaps> column{};
};

// A tree node: go left when pixel `first` is brighter than pixel `second` by more than
// the threshold.
struct Split {
    std::uint16_t first = 0;
    std::uint16_t second = 0;
    float threshold = 0;
};

struct Delta {
    float x = 0;
    float y = 0;
};

[[nodiscard]] constexpr std::uint64_t aligned(std::uint64_t offset)
{
    return (offset + sectionAlignment - 1) / sectionAlignment * sectionAlignment;
}

[[nodiscard]] constexpr std::uint32_t leavesPerTree(const Header& header)
{
    return header.splitsPerTree + 1;
}

// Bytes of each section, from the header's counts.
struct SectionSizes {
    std::uint64_t detectors;
    std::uint64_t filters;
    std::uint64_t initialShape;
    std::uint64_t anchors;
    std::uint64_t deltas;
    std::uint64_t splits;
    std::uint64_t leafScales;
    std::uint64_t leaves;
};

[[nodiscard]] constexpr SectionSizes sectionSizes(const Header& h)
{
    const std::uint64_t stages = h.cascadeCount;
    const std::uint64_t trees = stages * h.treesPerCascade;
    return {
        h.detectorCount * sizeof(DetectorRecord),
        h.filterCount * sizeof(SeparableFilter),
        std::uint64_t{2} * h.partCount * sizeof(float),
        stages * h.featurePixels * sizeof(std::uint8_t),
        stages * h.featurePixels * sizeof(Delta),
        trees * h.splitsPerTree * sizeof(Split),
        h.leafBits == exactLeafBits ? 0 : trees * leavesPerTree(h) * sizeof(float),
        trees * leavesPerTree(h) * 2 * h.partCount * (h.leafBits / 8),
    };
}

// Fills in every offset and the file size from the counts, sections in header order.
constexpr void layOut(Header& h)
{
    const SectionSizes sizes = sectionSizes(h);
    std::uint64_t offset = aligned(sizeof(Header));
    const auto place = [&](std::uint64_t& field, std::uint64_t bytes) {
        field = offset;
        offset = aligned(offset + bytes);
    };
    place(h.detectorsOffset, sizes.detectors);
    place(h.filtersOffset, sizes.filters);
    place(h.initialShapeOffset, sizes.initialShape);
    place(h.anchorsOffset, sizes.anchors);
    place(h.deltasOffset, sizes.deltas);
    place(h.splitsOffset, sizes.splits);
    place(h.leafScalesOffset, sizes.leafScales);
    place(h.leavesOffset, sizes.leaves);
    h.fileBytes = offset;
}

// A 64-bit hash of the bytes after the header, eight at a time (the sections are padded
// to whole words). Not cryptographic: it tells a damaged file from a good one.
[[nodiscard]] inline std::uint64_t checksum(std::span<const std::byte> bytes)
{
    // Four interleaved word hashes, so that the multiplications overlap.
    std::array<std::uint64_t, 4> lanes{0x9e3779b97f4a7c15ULL, 0xbf58476d1ce4e5b9ULL, 0x94d049bb133111ebULL,
                                       0x2545f4914f6cdd1dULL};
    const auto mix = [](std::uint64_t hash, std::uint64_t word) {
        hash = (hash ^ word) * 0x100000001b3ULL;
        return hash ^ (hash >> 29);
    };
    std::size_t i = 0;
    for (; i + 32 <= bytes.size(); i += 32) {
        for (std::size_t lane = 0; lane < 4; ++lane) {
            std::uint64_t word = 0;
            std::memcpy(&word, bytes.data() + i + 8 * lane, sizeof(word)); // little-endian, as the file
            lanes[lane] = mix(lanes[lane], word);
        }
    }
    std::uint64_t hash = mix(mix(mix(lanes[0], lanes[1]), lanes[2]), lanes[3]);
    for (; i < bytes.size(); ++i)
        hash = mix(hash, static_cast<std::uint64_t>(bytes[i]));
    return hash;
}

} // namespace verticora::facemodel
