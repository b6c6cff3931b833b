#include "SceneRenderer.h"

#include <QImageReader>
#include <QPainter>
#include <QtGlobal>

#include <algorithm>
#include <cmath>
#include <numbers>
#include <random>

namespace verticora::clip {

static_assert(Q_BYTE_ORDER == Q_LITTLE_ENDIAN, "RGB32 images are read as B, G, R, A bytes");

namespace {

constexpr std::size_t noiseTableSize = 1 << 16;
constexpr int smallestLevel = 8;

QImage loadImage(const QString& path)
{
    QImageReader reader(path);
    reader.setAutoTransform(true);
    QImage image = reader.read();
    if (image.isNull()) {
        throw SceneError(
            QStringLiteral("%1: cannot be read as an image: %2.").arg(path, reader.errorString()).toStdString());
    }
    return image.convertToFormat(QImage::Format_ARGB32_Premultiplied);
}

// Standard normal samples from a fixed generator, so every machine draws the same noise.
std::vector<float> normalTable()
{
    std::mt19937_64 generator(0x5eed5eedULL);
    const auto uniform = [&] { return (static_cast<double>(generator() >> 11) + 0.5) / 9007199254740992.0; };
    std::vector<float> table(noiseTableSize);
    for (std::size_t i = 0; i < table.size(); i += 2) {
        const double radius = std::sqrt(-2 * std::log(uniform()));
        const double angle = 2 * std::numbers::pi * uniform();
        table[i] = static_cast<float>(radius * std::cos(angle));
        table[i + 1] = static_cast<float>(radius * std::sin(angle));
    }
    return table;
}

std::uint64_t splitMix(std::uint64_t x)
{
    x += 0x9e3779b97f4a7c15ULL;
    x = (x ^ (x >> 30)) * 0xbf58476d1ce4e5b9ULL;
    x = (x ^ (x >> 27)) * 0x94d049bb133111ebULL;
    return x ^ (x >> 31);
}

} // namespace

SceneRenderer::SceneRenderer(Scene scene) : m_scene(std::move(scene)), m_noiseTable(normalTable())
{
    m_background = QImage(m_scene.width, m_scene.height, QImage::Format_RGB32);
    m_background.fill(m_scene.backgroundColor);
    if (!m_scene.backgroundImage.isEmpty()) {
        const QImage picture = loadImage(m_scene.backgroundImage)
                                   .scaled(m_background.size(), Qt::KeepAspectRatioByExpanding,
                                           Qt::SmoothTransformation);
        QPainter painter(&m_background);
        painter.drawImage(QPoint((m_scene.width - picture.width()) / 2, (m_scene.height - picture.height()) / 2),
                          picture);
    }

    for (const SceneFace& face : m_scene.faces) {
        QImage picture = loadImage(face.image);
        if (face.crop) {
            if (!picture.rect().contains(*face.crop)) {
                throw SceneError(QStringLiteral("%1: the crop reaches outside the %2x%3 image.")
                                     .arg(face.image)
                                     .arg(picture.width())
                                     .arg(picture.height())
                                     .toStdString());
            }
            picture = picture.copy(*face.crop);
        }
        Portrait portrait;
        portrait.aspect = static_cast<double>(picture.width()) / picture.height();
        portrait.levels.push_back(picture);
        // Halving steps keep the bilinear drawing below from skipping pixels when a large
        // portrait becomes a small face.
        while (portrait.levels.back().height() >= 2 * smallestLevel && portrait.levels.back().width() >= 2 * smallestLevel) {
            const QImage& last = portrait.levels.back();
            portrait.levels.push_back(last.scaled(last.width() / 2, last.height() / 2, Qt::IgnoreAspectRatio,
                                                  Qt::SmoothTransformation));
        }
        m_portraits.push_back(std::move(portrait));
    }
}

QImage SceneRenderer::render(std::int64_t index) const
{
    const double t = m_scene.timeOf(index);
    QImage frame = m_background.copy();
    drawFaces(frame, t);
    applyGainAndNoise(frame, index, m_scene.gainAt(t));
    return frame;
}

void SceneRenderer::drawFaces(QImage& frame, double t) const
{
    QPainter painter(&frame);
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    for (std::size_t i = 0; i < m_scene.faces.size(); ++i) {
        const auto placement = m_scene.faces[i].placementAt(t);
        if (!placement)
            continue;
        const Portrait& portrait = m_portraits[i];
        const double height = placement->height * m_scene.height;
        const double width = height * portrait.aspect;
        const QRectF target(placement->x * m_scene.width - width / 2, placement->y * m_scene.height - height / 2,
                            width, height);
        // The smallest level that is still at least as tall as the target.
        auto level = portrait.levels.begin();
        while (std::next(level) != portrait.levels.end() && std::next(level)->height() >= height)
            ++level;
        painter.drawImage(target, *level, QRectF(level->rect()));
    }
}

void SceneRenderer::applyGainAndNoise(QImage& frame, std::int64_t index, double gain) const
{
    if (gain == 1 && m_scene.noise == 0)
        return;
    const auto g = static_cast<float>(gain);
    const auto sigma = static_cast<float>(m_scene.noise);
    // Each frame's noise depends only on the seed and the frame index.
    std::uint64_t state = splitMix(m_scene.seed ^ splitMix(static_cast<std::uint64_t>(index))) | 1;
    const auto nextNoise = [&] {
        state ^= state << 13;
        state ^= state >> 7;
        state ^= state << 17;
        return m_noiseTable[(state >> 20) & (noiseTableSize - 1)];
    };
    for (int y = 0; y < frame.height(); ++y) {
        uchar* pixel = frame.scanLine(y);
        for (int x = 0; x < frame.width(); ++x, pixel += 4) {
            for (int channel = 0; channel < 3; ++channel) {
                float value = pixel[channel] * g;
                if (sigma > 0)
                    value += sigma * nextNoise();
                pixel[channel] = static_cast<uchar>(std::clamp(std::lround(value), 0L, 255L));
            }
            pixel[3] = 255;
        }
    }
}

PixelBufferView bgraView(const QImage& image)
{
    const PixelPlane plane{image.constBits(), static_cast<std::size_t>(image.bytesPerLine())};
    return PixelBufferView(image.width(), image.height(), pixelFormat::bgra, std::span(&plane, 1));
}

void writeClip(const SceneRenderer& renderer, const std::filesystem::path& output)
{
    const Scene& scene = renderer.scene();
    Y4mWriter writer(output, scene.width, scene.height, scene.frameRate);
    for (std::int64_t i = 0; i < scene.frameCount(); ++i) {
        const QImage frame = renderer.render(i);
        writer.write(bgraView(frame));
    }
    writer.finish();
}

} // namespace verticora::clip
