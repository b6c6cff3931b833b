#pragma once

#include "platform/DlibFaceModel.h"
#include "platform/FaceModelFormat.h"

#include <cstdint>
#include <span>
#include <vector>

namespace verticora::detail {

// A face box in pixels of the scanned image, dlib's way: whole pixels, right and bottom
// inclusive.
struct PixelBox {
    long left = 0;
    long top = 0;
    long right = 0;
    long bottom = 0;
    double score = 0;
};

using Bytes16 = std::uint8_t __attribute__((vector_size(16)));

// How a pyramid level is shrunk to the next: per output column the source column and its
// weight, and per eight columns the byte shuffle that gathers their source pixels.
struct ShrinkColumns {
    std::vector<int> lefts;
    std::vector<float> fractions;
    std::vector<Bytes16> shuffles;
};

// Per image column, the offset in a row of the orientation histograms of the cell left of
// the column, and how much of a vote goes to that cell and how much to the next.
struct ColumnWeights {
    std::vector<std::int32_t> cell;
    std::vector<float> near;
    std::vector<float> far;
};

// Per pixel of a row, its histogram bin and its four weighted votes.
struct RowVotes {
    std::vector<std::int32_t> bin;
    std::vector<float> upperNear;
    std::vector<float> lowerNear;
    std::vector<float> upperFar;
    std::vector<float> lowerFar;
};

// The sliding-window part of the prepared detector, as the model file describes it.
struct HogDetectorModel {
    int cellSize = 8;
    int windowCells = 10;
    int pyramidStep = 6;
    int minimumLevelSide = 64;
    double overlapIou = 0;
    double overlapCovered = 0;
    std::span<const facemodel::DetectorRecord> detectors;
    std::span<const facemodel::SeparableFilter> filters;
};

// A feature plane, a filter's row pass or a filter sum. Rows are padded to a whole number
// of vectors and then some, so that filters may read and write eight columns at a time
// past the last one; the padding only ever holds finite values.
struct FeaturePlane {
    std::vector<float> values;
    int rows = 0;
    int columns = 0;
    std::size_t stride = 0;

    [[nodiscard]] float* row(int r) { return values.data() + static_cast<std::size_t>(r) * stride; }
    [[nodiscard]] const float* row(int r) const { return values.data() + static_cast<std::size_t>(r) * stride; }
    void resize(int newRows, int newColumns);
};

// The working memory of one pyramid level's features, reused from level to level: the
// orientation histograms and their inputs, and the cell energies.
struct FeatureScratch {
    std::vector<float> histograms;
    std::vector<float> energy;
    ColumnWeights columns;
    RowVotes votes;
};

// The per-pixel work of a scan, built once for every x86-64 processor and once for those
// with AVX2 (platform/HogScanKernels.inc); both give the same values to the last bit.
struct HogKernels {
    const char* name;
    // Shrinks `from` into the width x height pixels at `to`.
    void (*shrink)(const GreyView& from, std::uint8_t* to, int width, int height, ShrinkColumns& plan);
    // The 31 HOG planes of the image, padded for the window; false when the image holds
    // no whole block of cells.
    bool (*features)(const GreyView& image, int cellSize, int windowCells, const std::uint8_t* orientations,
                     FeatureScratch& scratch, std::vector<FeaturePlane>& planes);
    // One separable filter over a feature plane, through `rowPass`, into `sum` (added to
    // it with `add`). The planes are of the feature plane's size.
    void (*filter)(const FeaturePlane& in, const facemodel::SeparableFilter& filter, bool add, FeaturePlane& rowPass,
                   FeaturePlane& sum);
};

// The kernels for any x86-64 processor, and those for processors with AVX2 (none where
// this processor lacks it or the build is not for x86-64).
[[nodiscard]] const HogKernels& baselineHogKernels();
[[nodiscard]] const HogKernels* avx2HogKernels();
// The fastest kernels this processor runs.
[[nodiscard]] const HogKernels& fastestHogKernels();

// dlib's frontal face scan (scan_fhog_pyramid with pyramid_down<6>, then non-maximum
// suppression), computed the way dlib computes it so that it finds the same faces with
// the same scores, but over buffers that are kept from one frame to the next, and only
// on the pyramid levels asked for.
class HogFaceScanner {
public:
    explicit HogFaceScanner(const HogDetectorModel& model, const HogKernels& kernels = fastestHogKernels());

    // The faces in the image, best first, from pyramid level `firstLevel` on.
    void scan(const GreyView& image, int firstLevel, std::vector<PixelBox>& faces);

private:
    struct Level {
        std::vector<std::uint8_t> pixels; // unused for level 0, which is the caller's image
        GreyView view;
        std::vector<FeaturePlane> features; // 31 HOG planes, padded for the window
        bool empty = true;
    };
    struct Candidate {
        double score = 0;
        PixelBox box;
    };

    [[nodiscard]] int levelCount(int width, int height) const;
    void shrink(const GreyView& from, Level& to);
    void filterLevel(const Level& level, int levelIndex);

    HogDetectorModel m_model;
    const HogKernels& m_kernels;
    std::vector<std::uint8_t> m_orientations; // by gradient: (gx + 255) * 511 + gy + 255
    std::vector<Level> m_levels;
    // Scratch of one level, reused: the columns of the shrinking, the features' working
    // memory, one filter's row pass and the filter sum of one detector.
    ShrinkColumns m_shrink;
    FeatureScratch m_features;
    FeaturePlane m_rowPass;
    FeaturePlane m_saliency;
    std::vector<Candidate> m_candidates;
};

} // namespace verticora::detail
