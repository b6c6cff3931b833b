#include "platform/ShapeCascade.h"

#include <algorithm>
#include <cmath>
#include <type_traits>

namespace verticora::detail {

ShapeCascade::ShapeCascade(const ShapeModelView& model)
    : m_model(model),
      m_shape(static_cast<std::size_t>(2 * model.partCount)),
      m_pixels(static_cast<std::size_t>(model.featurePixels)),
      m_leaves(static_cast<std::size_t>(model.treesPerCascade))
{
}

void ShapeCascade::predict(const GreyView& image, const PixelBox& box, std::span<Point> points)
{
    const std::span<const float> initial = m_model.initialShape;
    std::copy(initial.begin(), initial.end(), m_shape.begin());
    const std::size_t parts = static_cast<std::size_t>(m_model.partCount);
    const double left = static_cast<double>(box.left);
    const double top = static_cast<double>(box.top);
    const double width = static_cast<double>(box.right - box.left);
    const double height = static_cast<double>(box.bottom - box.top);
    const std::size_t leavesPerTree = static_cast<std::size_t>(m_model.splitsPerTree) + 1;

    for (int stage = 0; stage < m_model.cascadeCount; ++stage) {
        // The similarity (rotation and scale) that best maps the mean shape onto the
        // current one, by least squares; dlib finds the same through an SVD.
        double meanFromX = 0;
        double meanFromY = 0;
        double meanToX = 0;
        double meanToY = 0;
        for (std::size_t i = 0; i < parts; ++i) {
            meanFromX += initial[2 * i];
            meanFromY += initial[2 * i + 1];
            meanToX += m_shape[2 * i];
            meanToY += m_shape[2 * i + 1];
        }
        const auto n = static_cast<double>(parts);
        meanFromX /= n;
        meanFromY /= n;
        meanToX /= n;
        meanToY /= n;
        double spread = 0;
        double along = 0;
        double across = 0;
        for (std::size_t i = 0; i < parts; ++i) {
            const double fx = initial[2 * i] - meanFromX;
            const double fy = initial[2 * i + 1] - meanFromY;
            const double tx = m_shape[2 * i] - meanToX;
            const double ty = m_shape[2 * i + 1] - meanToY;
            spread += fx * fx + fy * fy;
            along += tx * fx + ty * fy;
            across += ty * fx - tx * fy;
        }
        const float a = spread != 0 ? static_cast<float>(along / spread) : 1.0f;
        const float b = spread != 0 ? static_cast<float>(across / spread) : 0.0f;

        const std::size_t pixelBase = static_cast<std::size_t>(stage) * static_cast<std::size_t>(m_model.featurePixels);
        for (std::size_t i = 0; i < m_pixels.size(); ++i) {
            const std::size_t anchor = m_model.anchors[pixelBase + i];
            const facemodel::Delta& d = m_model.deltas[pixelBase + i];
            const float sx = (a * d.x + -b * d.y) + m_shape[2 * anchor];
            const float sy = (b * d.x + a * d.y) + m_shape[2 * anchor + 1];
            const long px = static_cast<long>(std::floor(left + static_cast<double>(sx) * width + 0.5));
            const long py = static_cast<long>(std::floor(top + static_cast<double>(sy) * height + 0.5));
            const bool inside = px >= 0 && py >= 0 && px < image.width && py < image.height;
            m_pixels[i] = inside ? static_cast<float>(image.pixels[static_cast<std::size_t>(py) * image.bytesPerRow
                                                                   + static_cast<std::size_t>(px)])
                                 : 0.0f;
        }

        // Every tree of a stage reads the same pixels, so all leaves are known before
        // the first is added, and their memory can be fetched while the others are added.
        const std::size_t treeBase =
            static_cast<std::size_t>(stage) * static_cast<std::size_t>(m_model.treesPerCascade);
        const auto splitCount = static_cast<std::size_t>(m_model.splitsPerTree);
        for (std::size_t t = 0; t < m_leaves.size(); ++t) {
            const facemodel::Split* nodes = m_model.splits.data() + (treeBase + t) * splitCount;
            std::size_t node = 0;
            while (node < splitCount) {
                const facemodel::Split& split = nodes[node];
                node = m_pixels[split.first] - m_pixels[split.second] > split.threshold ? 2 * node + 1 : 2 * node + 2;
            }
            m_leaves[t] = (treeBase + t) * leavesPerTree + (node - splitCount);
        }
        if (m_model.leafBits == facemodel::exactLeafBits)
            addLeaves(m_model.leaves);
        else
            addLeaves(m_model.compactLeaves);
    }

    for (std::size_t i = 0; i < parts && i < points.size(); ++i)
        points[i] = {left + static_cast<double>(m_shape[2 * i]) * width, top + static_cast<double>(m_shape[2 * i + 1]) * height};
}

template <typename Leaf>
void ShapeCascade::addLeaves(std::span<const Leaf> leaves)
{
    const std::size_t leafSize = m_shape.size();
    constexpr std::size_t ahead = 8;
    constexpr std::size_t line = 64 / sizeof(Leaf);
    for (std::size_t t = 0; t < m_leaves.size(); ++t) {
        if (t + ahead < m_leaves.size()) {
            const Leaf* next = leaves.data() + m_leaves[t + ahead] * leafSize;
            for (std::size_t k = 0; k < leafSize; k += line)
                __builtin_prefetch(next + k);
            __builtin_prefetch(next + leafSize - 1); // a leaf may end on a line of its own
            if constexpr (!std::is_same_v<Leaf, float>)
                __builtin_prefetch(m_model.leafScales.data() + m_leaves[t + ahead]);
        }
        const Leaf* leaf = leaves.data() + m_leaves[t] * leafSize;
        if constexpr (std::is_same_v<Leaf, float>) {
            for (std::size_t k = 0; k < leafSize; ++k)
                m_shape[k] += leaf[k];
        } else {
            const float scale = m_model.leafScales[m_leaves[t]];
            for (std::size_t k = 0; k < leafSize; ++k)
                m_shape[k] += static_cast<float>(leaf[k]) * scale;
        }
    }
}

} // namespace verticora::detail
