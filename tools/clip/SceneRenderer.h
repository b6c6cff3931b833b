#pragma once

#include "Scene.h"

#include "analysis/PixelBuffer.h"

#include <QImage>

#include <cstdint>
#include <filesystem>
#include <vector>

namespace verticora::clip {

// Draws the frames of a scene: background, portraits at their interpolated places,
// brightness gain, then sensor noise. Frames can be drawn in any order; the same scene
// always gives the same pixels.
class SceneRenderer {
public:
    // Loads every image of the scene; throws SceneError naming an unreadable one.
    explicit SceneRenderer(Scene scene);

    [[nodiscard]] const Scene& scene() const { return m_scene; }

    // Frame `index` as an opaque 32-bit image whose bytes are B, G, R, A.
    [[nodiscard]] QImage render(std::int64_t index) const;

private:
    struct Portrait {
        std::vector<QImage> levels; // the cropped portrait, then halves down to a few pixels
        double aspect = 1;          // width / height
    };

    void drawFaces(QImage& frame, double t) const;
    void applyGainAndNoise(QImage& frame, std::int64_t index, double gain) const;

    Scene m_scene;
    QImage m_background;
    std::vector<Portrait> m_portraits;
    std::vector<float> m_noiseTable; // standard normal samples
};

// A view of an image made by SceneRenderer, for the analysis code and the clip writer.
[[nodiscard]] PixelBufferView bgraView(const QImage& image);

// Renders every frame of the scene into a .y4m clip; throws SceneError or ClipError.
void writeClip(const SceneRenderer& renderer, const std::filesystem::path& output);

} // namespace verticora::clip
