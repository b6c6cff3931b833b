#pragma once

#include "platform/DlibFaceModel.h"
#include "platform/FaceModelFormat.h"
#include "platform/HogFaceScanner.h"

#include <cstdint>
#include <span>
#include <vector>

namespace verticora::detail {

// The regression-tree cascade of the shape predictor, as the model file describes it.
struct ShapeModelView {
    int partCount = 0;
    int cascadeCount = 0;
    int treesPerCascade = 0;
    int splitsPerTree = 0;
    int featurePixels = 0;
    std::span<const float> initialShape;        // x, y per part, in the unit face box
    std::span<const std::uint8_t> anchors;      // per stage and feature pixel: the part it hangs on
    std::span<const facemodel::Delta> deltas;   // and its offset from that part in the mean shape
    std::span<const facemodel::Split> splits;   // per stage, tree and node
    // Per stage, tree and leaf: a shape step, as floats (leafBits 32), or as integers
    // (leafBits 16) to multiply by the leaf's scale.
    int leafBits = facemodel::exactLeafBits;
    std::span<const float> leaves;
    std::span<const facemodel::CompactLeaf> compactLeaves;
    std::span<const float> leafScales;          // per stage, tree and leaf, for compact leaves
};

// dlib's shape_predictor: from the mean shape placed in the face box, each stage reads
// its feature pixels relative to the current shape and adds one leaf of every tree.
// With dlib's float leaves it computes what dlib computes, operation for operation,
// except that the result is not rounded to whole pixels; with compact leaves, each leaf
// is its integers times the leaf's scale. The working buffers are kept between faces.
class ShapeCascade {
public:
    explicit ShapeCascade(const ShapeModelView& model);

    // The landmarks of the face in `box`, in pixels of `image`.
    void predict(const GreyView& image, const PixelBox& box, std::span<Point> points);

private:
    // Adds the leaves the trees of the stage reached.
    template <typename Leaf>
    void addLeaves(std::span<const Leaf> leaves);

    ShapeModelView m_model;
    std::vector<float> m_shape;
    std::vector<float> m_pixels;
    std::vector<std::size_t> m_leaves; // the leaf each tree of a stage reaches, by index
};

} // namespace verticora::detail
