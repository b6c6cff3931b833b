#include "visuals/SmokeHalo.h"

#include "visuals/SmokeGeometry.h"
#include "visuals/SolidShapes.h"

#include <QLinearGradient>
#include <QPaintEvent>
#include <QPainter>
#include <QRadialGradient>

#include <algorithm>
#include <charconv>
#include <cmath>

namespace verticora {

namespace {

constexpr std::array<double, 6> layerWeight{0.09, 0.11, 0.14, 0.23, 0.30, 0.36};
constexpr std::array<double, 6> layerTint{0.52, 0.32, 0.10, -0.22, -0.44, -0.65};
constexpr std::array<double, 6> layerDepth{1.0, 0.8, 0.59, 0.4, 0.24, 0.12};
constexpr double textureDepth = 40;
constexpr double maximumShare = 0.46; // of the screen's extent a strip may cover
constexpr int animationIntervalMs = 16;

bool horizontalSide(int side)
{
    return side < 2;
}

double clampedDepthScale(double depthScale)
{
    return clampedOr(depthScale, 1, 50, 1);
}

// The transform from the canonical top-edge space (x along the edge, y inward) into the
// side's own top-left space.
QTransform sideTransform(int side, const QSizeF& bounds)
{
    switch (side) {
    case 1:
        return QTransform(1, 0, 0, -1, 0, bounds.height());
    case 2:
        return QTransform(0, 1, 1, 0, 0, 0);
    case 3:
        return QTransform(0, 1, -1, 0, bounds.width(), 0);
    default:
        return {};
    }
}

QImage smokeTexture(int side, int phase, int ink, const QRectF& bounds)
{
    const double length = horizontalSide(side) ? bounds.width() : bounds.height();
    const QString key = SmokeTextureCache::key(side, phase, ink, length);
    SmokeTextureCache& cache = SmokeTextureCache::shared();
    if (auto cached = cache.find(key))
        return *cached;
    SmokeEdgeView renderer(side);
    renderer.bounds = bounds;
    renderer.severity = ink + 1;
    renderer.forcedDepth = textureDepth;
    renderer.time = 8.0 * phase;
    QImage texture = renderer.makeTexture();
    cache.insert(key, texture);
    return texture;
}

// Moves `value` to `target`, animated from where it is on screen or at once; without
// animation a running change is dropped.
template <typename T>
void moveTo(AnimatedValue<T>& value, const T& target, bool animate, double now, double duration)
{
    if (target != value.value()) {
        if (animate)
            value.animateTo(target, now, duration, TimingFunction::linear);
        else
            value.set(target);
    } else if (!animate) {
        value.removeAnimation();
    }
}

int level(double opacity)
{
    return static_cast<int>(std::lround(std::clamp(opacity, 0.0, 1.0) * 255));
}

} // namespace

// --- SmokeEdgeView -----------------------------------------------------------------------

int SmokeEdgeView::puffCount(double length)
{
    const double perLength = std::isfinite(length) && length > 0 ? std::floor(length / 220) : 0;
    return static_cast<int>(std::clamp(perLength + 2, 4.0, 18.0));
}

QSize SmokeEdgeView::rasterSize(int side, const QSizeF& bounds)
{
    const int alongCap = 320;
    const int acrossCap = 64;
    const auto capped = [](double extent, int cap) { return std::min(static_cast<int>(std::ceil(extent)), cap); };
    if (horizontalSide(side))
        return {capped(bounds.width(), alongCap), capped(bounds.height(), acrossCap)};
    return {capped(bounds.width(), acrossCap), capped(bounds.height(), alongCap)};
}

QImage SmokeEdgeView::makeTexture() const
{
    if (bounds.isEmpty())
        return {};
    const QSize raster = rasterSize(side, bounds.size());
    if (raster.isEmpty())
        return {};
    QImage image(raster, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);

    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    painter.scale(raster.width() / bounds.width(), raster.height() / bounds.height());
    painter.setTransform(sideTransform(side, bounds.size()), true);

    const double length = horizontalSide(side) ? bounds.width() : bounds.height();
    const double depth = forcedDepth ? *forcedDepth : SmokeGeometry::depth(severity, depthScale);
    const QColor color = SmokeGeometry::color(severity);
    const double intensity = std::isfinite(severity) && severity > 0 ? 0.72 + 0.093 * std::min(severity, 3.0) : 0.72;
    const int n = puffCount(length);
    const double spacing = length / (n - 1);

    for (std::size_t k = 0; k < layerWeight.size(); ++k) {
        const QColor tint = blendedTint(color, layerTint[k]);
        const double a = intensity * layerWeight[k];
        QRadialGradient gradient(QPointF(0, 0), 1);
        gradient.setColorAt(0, withAlpha(tint, a));
        gradient.setColorAt(0.28, withAlpha(tint, 0.7 * a));
        gradient.setColorAt(0.65, withAlpha(tint, 0.2 * a));
        gradient.setColorAt(1, withAlpha(tint, 0));
        painter.setBrush(gradient);

        const double phi = side * 1.7 + static_cast<double>(k) * 2.2;
        const double ry0 = depth * layerDepth[k];
        const double y0 = -0.015 * depth * layerDepth[k];
        for (int j = -1; j <= n; ++j) {
            const double s1 = std::sin(phi + 1.21 * j + 0.23 * time);
            const double c1 = std::cos(phi + 0.77 * j - 0.17 * time);
            const double x = spacing * j + 0.16 * spacing * std::sin(phi + 0.13 * time + j);
            const double rx = spacing * (0.8 + 0.16 * s1);
            const double ry = std::max(ry0 * (0.75 + 0.12 * s1 + 0.08 * c1), 0.5);
            painter.save();
            painter.translate(x, y0);
            painter.scale(rx, ry);
            painter.drawEllipse(QPointF(0, 0), 1.0, 1.0);
            painter.restore();
        }
    }
    painter.end();
    return image;
}

// --- SmokeTextureCache -------------------------------------------------------------------

SmokeTextureCache& SmokeTextureCache::shared()
{
    static SmokeTextureCache cache;
    return cache;
}

QString SmokeTextureCache::key(int side, int phase, int ink, double length)
{
    QString lengthText;
    if (std::isfinite(length) && length == std::floor(length)) {
        lengthText = QString::number(length, 'f', 1);
    } else {
        std::array<char, 32> buffer{};
        const auto result = std::to_chars(buffer.data(), buffer.data() + buffer.size(), length);
        lengthText = QString::fromLatin1(buffer.data(), result.ptr - buffer.data());
    }
    return QStringLiteral("%1-%2-%3-%4").arg(side).arg(phase).arg(ink).arg(lengthText);
}

std::optional<QImage> SmokeTextureCache::find(const QString& key)
{
    if (const QImage* image = m_images.object(key))
        return *image;
    return std::nullopt;
}

void SmokeTextureCache::insert(const QString& key, const QImage& image)
{
    if (image.isNull()) {
        m_images.remove(key);
        return;
    }
    // QCache evicts over the cost limit by itself and drops an image costlier than the
    // whole limit; over the count limit, a cost limit just below the total drops the
    // least recently used image.
    m_images.insert(key, new QImage(image), static_cast<qsizetype>(image.bytesPerLine()) * image.height());
    while (m_images.count() > countLimit)
        m_images.setMaxCost(m_images.totalCost() - 1);
    m_images.setMaxCost(costLimit);
}

// --- CompositedSmoke ---------------------------------------------------------------------

QRectF CompositedSmoke::Strip::frameAt(double now) const
{
    return frame(scale.presentation(now), position.presentation(now));
}

QRectF CompositedSmoke::Strip::targetFrame() const
{
    return frame(scale.value(), position.value());
}

// The base bounds stretched across the edge by `across`, centred on `centre`.
QRectF CompositedSmoke::Strip::frame(double across, const QPointF& centre) const
{
    const QSizeF extent = horizontalSide(side) ? QSizeF(bounds.width(), bounds.height() * across)
                                               : QSizeF(bounds.width() * across, bounds.height());
    QRectF result(QPointF(), extent);
    result.moveCenter(centre);
    return result;
}

CompositedSmoke::CompositedSmoke(ReduceMotionSource reduceMotion)
    : m_reduceMotion(std::move(reduceMotion)), m_epoch(mediaTime())
{
    for (std::size_t i = 0; i < m_strips.size(); ++i) {
        m_strips[i].side = static_cast<int>(i);
        m_strips[i].phases[0].opacity = 1;
        m_strips[i].phases[1].opacity = 0;
    }
}

void CompositedSmoke::update(const QSizeF& size, double severity, double scale, bool animated)
{
    const double w = size.width();
    const double h = size.height();
    if (!(w > 0) || !(h > 0))
        return;
    if (size == m_size && severity == m_lastSeverity && scale == m_lastScale)
        return;

    const double newDepth = SmokeGeometry::depth(severity, scale);
    const double oldDepth = SmokeGeometry::depth(m_lastSeverity, m_lastScale);
    const bool sizeChanged = size != m_size;
    m_size = size;
    m_lastSeverity = severity;
    m_lastScale = scale;

    const double extent = newDepth + 2;
    const double th = std::min(maximumShare * h, extent);
    const double tv = std::min(maximumShare * w, extent);
    const std::array<QRectF, 4> frames{QRectF(0, 0, w, th), QRectF(0, h - th, w, th), QRectF(0, 0, tv, h),
                                       QRectF(w - tv, 0, tv, h)};
    const std::array<double, 3> weights = smokeInkWeights(severity);
    const bool animate = !sizeChanged && animated && !reduceMotionEnabled(m_reduceMotion);
    const double duration = newDepth >= oldDepth ? riseDuration : fallDuration;
    const double now = mediaTime();

    for (std::size_t i = 0; i < m_strips.size(); ++i) {
        Strip& strip = m_strips[i];
        const bool horizontal = horizontalSide(strip.side);
        const QRectF bounds = horizontal ? QRectF(0, 0, w, stripDepth) : QRectF(0, 0, stripDepth, h);
        const double stripScale = (horizontal ? th : tv) / stripDepth;
        const QPointF position = frames[i].center();

        strip.bounds = bounds;
        moveTo(strip.scale, stripScale, animate, now, duration);
        moveTo(strip.position, position, animate, now, duration);

        for (std::size_t j = 0; j < strip.phases.size(); ++j) {
            for (std::size_t k = 0; k < 3; ++k) {
                Ink& ink = strip.phases[j].inks[k];
                if (sizeChanged) {
                    QImage texture = smokeTexture(strip.side, static_cast<int>(j), static_cast<int>(k), bounds);
                    if (texture.cacheKey() != ink.contents.cacheKey())
                        ink.contents = texture;
                }
                moveTo(ink.opacity, weights[k], animate, now, duration);
            }
        }
        strip.masked = maximumShare * (horizontal ? h : w) < extent;
    }
}

void CompositedSmoke::setDriftEnabled(bool enabled)
{
    if (enabled == m_driftEnabled)
        return;
    m_driftEnabled = enabled;
    for (Strip& strip : m_strips) {
        for (std::size_t j = 0; j < strip.phases.size(); ++j) {
            Phase& phase = strip.phases[j];
            phase.drift.reset();
            if (!enabled)
                continue;
            const double p = j == 0 ? 1.0 : 0.0;
            phase.drift = RepeatingKeyframes{{p, 1 - p, p}, {0, 0.5, 1}, TimingFunction::easeInEaseOut,
                                             14.0 + strip.side, m_epoch - 2.0 * strip.side};
        }
    }
}

bool CompositedSmoke::animating(double now) const
{
    for (const Strip& strip : m_strips) {
        if (strip.scale.animating(now) || strip.position.animating(now))
            return true;
        for (const Phase& phase : strip.phases) {
            for (const Ink& ink : phase.inks) {
                if (ink.opacity.animating(now))
                    return true;
            }
        }
    }
    return false;
}

std::array<QRect, 4> CompositedSmoke::pixelFrames(double now) const
{
    std::array<QRect, 4> frames;
    for (std::size_t i = 0; i < m_strips.size(); ++i)
        frames[i] = m_size.isEmpty() ? QRect() : m_strips[i].frameAt(now).toAlignedRect();
    return frames;
}

void CompositedSmoke::paint(QPainter& painter, const QRect& clip, double now, double opacity) const
{
    if (m_size.isEmpty() || opacity <= 0)
        return;
    const qreal dpr = painter.device() ? painter.device()->devicePixelRatioF() : 1.0;
    const std::array<QRect, 4> frames = pixelFrames(now);
    for (std::size_t i = 0; i < m_strips.size(); ++i) {
        if (frames[i].isEmpty() || !frames[i].intersects(clip))
            continue;
        for (std::size_t j = 0; j < m_strips[i].phases.size(); ++j) {
            const double phaseOpacity = m_strips[i].phases[j].opacityAt(now) * opacity;
            if (phaseOpacity <= 0)
                continue;
            painter.setOpacity(phaseOpacity);
            painter.drawImage(frames[i].topLeft(), phaseRaster(i, j, frames[i].size(), now, dpr));
        }
    }
    painter.setOpacity(1);
}

// The inks of one phase, stretched to the strip and faded at its inner edge, rendered once
// and reused for as long as size, ink opacities and mask stay the same: the drift then
// costs two plain blends per strip.
const QImage& CompositedSmoke::phaseRaster(std::size_t stripIndex, std::size_t phaseIndex, const QSize& size,
                                           double now, qreal dpr) const
{
    const Strip& strip = m_strips[stripIndex];
    const Phase& phase = strip.phases[phaseIndex];
    PhaseRaster& raster = m_rasters[stripIndex][phaseIndex];
    std::array<int, 3> levels{};
    std::array<qint64, 3> textures{};
    for (std::size_t k = 0; k < 3; ++k) {
        levels[k] = level(phase.inks[k].opacity.presentation(now));
        textures[k] = phase.inks[k].contents.cacheKey();
    }
    if (raster.size == size && raster.inkLevels == levels && raster.textures == textures
        && raster.masked == strip.masked && raster.devicePixelRatio == dpr && !raster.image.isNull())
        return raster.image;

    const QSize pixels = (QSizeF(size) * dpr).toSize().expandedTo(QSize(1, 1));
    QImage image(pixels, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    const QRect target(QPoint(), pixels);
    for (std::size_t k = 0; k < 3; ++k) {
        if (levels[k] == 0 || phase.inks[k].contents.isNull())
            continue;
        painter.setOpacity(levels[k] / 255.0);
        painter.drawImage(target, phase.inks[k].contents);
    }
    if (strip.masked) {
        QPointF outer;
        QPointF inner;
        switch (strip.side) {
        case 0:
            outer = {0, 0};
            inner = {0, static_cast<qreal>(pixels.height())};
            break;
        case 1:
            outer = {0, static_cast<qreal>(pixels.height())};
            inner = {0, 0};
            break;
        case 2:
            outer = {0, 0};
            inner = {static_cast<qreal>(pixels.width()), 0};
            break;
        default:
            outer = {static_cast<qreal>(pixels.width()), 0};
            inner = {0, 0};
            break;
        }
        QLinearGradient mask(outer, inner);
        mask.setColorAt(0, Qt::white);
        mask.setColorAt(0.6, Qt::white);
        mask.setColorAt(1, Qt::transparent);
        painter.setOpacity(1);
        painter.setCompositionMode(QPainter::CompositionMode_DestinationIn);
        painter.fillRect(target, mask);
    }
    painter.end();
    image.setDevicePixelRatio(dpr);

    raster = PhaseRaster{size, levels, textures, strip.masked, dpr, std::move(image)};
    return raster.image;
}

// --- SmokeHaloView -----------------------------------------------------------------------

SmokeHaloView::SmokeHaloView(double severity, double depthScale, ReduceMotionSource reduceMotion, QWidget* parent)
    : OverlayView(reduceMotion, parent), m_live(reduceMotion), m_depthScale(clampedDepthScale(depthScale)),
      m_target(clampedSeverity(severity))
{
    refresh(false);
}

void SmokeHaloView::setSeverity(double severity)
{
    m_target = clampedSeverity(severity);
    refresh(true);
}

void SmokeHaloView::setDepthScale(double depthScale)
{
    const double clamped = clampedDepthScale(depthScale);
    if (clamped == m_depthScale)
        return;
    m_depthScale = clamped;
    refresh(true);
}

QRegion SmokeHaloView::coverage() const
{
    if (solid())
        return solid::regionOf(m_solidStrips);
    QRegion region = m_animationArea;
    for (const CompositedSmoke::Strip& strip : m_live.strips()) {
        if (!m_live.size().isEmpty())
            region += strip.targetFrame().toAlignedRect();
    }
    return region;
}

void SmokeHaloView::resizeEvent(QResizeEvent* event)
{
    OverlayView::resizeEvent(event);
    refresh(false);
}

void SmokeHaloView::paintEvent(QPaintEvent* event)
{
    const double now = mediaTime();
    QPainter painter(this);
    if (solid()) {
        if (entranceOpacity() > 0) {
            const QColor color = SmokeGeometry::color(std::max(m_target, 1.0));
            for (const QRect& strip : m_solidStrips)
                painter.fillRect(strip, color);
        }
        return;
    }
    m_live.paint(painter, event->rect(), now, entranceOpacity());
    m_paintedLevels = phaseLevels(now);
}

void SmokeHaloView::tick()
{
    const double now = mediaTime();
    QRegion dirty;
    if (!m_animationArea.isEmpty()) {
        dirty += m_animationArea;
        if (!m_live.animating(now)) {
            m_animationArea = QRegion();
            coverageChanged();
        }
    }
    if (m_live.driftEnabled()) {
        const auto levels = phaseLevels(now);
        const std::array<QRect, 4> frames = m_live.pixelFrames(now);
        for (std::size_t i = 0; i < frames.size(); ++i) {
            if (levels[i] != m_paintedLevels[i])
                dirty += frames[i];
        }
    }
    if (!dirty.isEmpty())
        update(dirty);
    scheduleFrames();
}

void SmokeHaloView::attachedChanged()
{
    m_live.setDriftEnabled(attached() && !reduceMotion() && !solid());
    scheduleFrames();
}

void SmokeHaloView::solidChanged()
{
    attachedChanged();
    refresh(false);
}

void SmokeHaloView::refresh(bool animated)
{
    const double now = mediaTime();
    if (solid()) {
        const QRegion before = solid::regionOf(m_solidStrips);
        m_live.update(QSizeF(size()), m_target, m_depthScale, false);
        m_solidStrips = solid::edgeStrips(EdgeEffectStyle::smoke, m_target, m_depthScale, *solidArea());
        update(before + solid::regionOf(m_solidStrips));
        coverageChanged();
        scheduleFrames();
        return;
    }
    QRegion before;
    for (const QRect& frame : m_live.pixelFrames(now))
        before += frame;
    m_live.update(QSizeF(size()), m_target, m_depthScale, animated);
    QRegion after;
    for (const QRect& frame : m_live.pixelFrames(now))
        after += frame;
    for (const CompositedSmoke::Strip& strip : m_live.strips()) {
        if (!m_live.size().isEmpty())
            after += strip.targetFrame().toAlignedRect();
    }
    if (m_live.animating(now))
        m_animationArea += before + after;
    update(before + after);
    coverageChanged();
    scheduleFrames();
}

void SmokeHaloView::scheduleFrames()
{
    const double now = mediaTime();
    if (!m_animationArea.isEmpty() || m_live.animating(now))
        runTicks(animationIntervalMs);
    else if (m_live.driftEnabled())
        runTicks(driftIntervalMs);
    else
        stopTicks();
}

std::array<std::array<int, 2>, 4> SmokeHaloView::phaseLevels(double now) const
{
    std::array<std::array<int, 2>, 4> levels{};
    for (std::size_t i = 0; i < levels.size(); ++i) {
        for (std::size_t j = 0; j < 2; ++j)
            levels[i][j] = level(m_live.strips()[i].phases[j].opacityAt(now));
    }
    return levels;
}

} // namespace verticora
