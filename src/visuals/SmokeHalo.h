#pragma once

#include "visuals/Animation.h"
#include "visuals/OverlayView.h"

#include <QCache>
#include <QImage>
#include <QRegion>
#include <QSizeF>
#include <QString>

#include <array>
#include <optional>
#include <vector>

namespace verticora {

// Renders the procedural smoke of one screen edge (0 top, 1 bottom, 2 left, 3 right)
// into a small texture: six tinted layers of soft radial puffs along the edge.
struct SmokeEdgeView {
    explicit SmokeEdgeView(int side) : side(side) {}

    int side = 0;
    double severity = 0;              // selects colour and intensity
    double depthScale = 1;
    double time = 0;                  // seconds; places the puffs
    std::optional<double> forcedDepth; // used instead of SmokeGeometry::depth when set
    QRectF bounds;

    // The smoke in top-left image coordinates; a null image for empty bounds.
    [[nodiscard]] QImage makeTexture() const;

    // Puffs per layer along an edge of `length` points, before the two beyond the ends.
    [[nodiscard]] static int puffCount(double length);
    // At most 320 pixels along the edge and 64 across; stretched when shown.
    [[nodiscard]] static QSize rasterSize(int side, const QSizeF& bounds);
};

// The process-wide store of smoke textures: at most 96 of them and 8 MiB, least recently
// used evicted first. Main thread only.
class SmokeTextureCache {
public:
    static constexpr int countLimit = 96;
    static constexpr qint64 costLimit = 8388608;

    [[nodiscard]] static SmokeTextureCache& shared();
    // "side-phase-ink-length", the length with a fractional part: "0-1-2-900.0".
    [[nodiscard]] static QString key(int side, int phase, int ink, double length);

    // Also makes the image the most recently used.
    [[nodiscard]] std::optional<QImage> find(const QString& key);
    // A null image is not kept: there is nothing to save by keeping it.
    void insert(const QString& key, const QImage& image);
    void clear() { m_images.clear(); }

    [[nodiscard]] int count() const { return static_cast<int>(m_images.count()); }
    [[nodiscard]] qint64 totalCost() const { return m_images.totalCost(); }

private:
    QCache<QString, QImage> m_images{costLimit}; // cost: the image's bytes
};

// The smoke of one screen composited from cached textures: four strips (top, bottom,
// left, right), each 42 points deep and stretched to the edge depth, each with two
// phases that cross-fade while drifting, each phase with three inks weighted by severity.
// Severity and depth changes only move opacities and scales; nothing is re-rendered.
class CompositedSmoke {
public:
    static constexpr double stripDepth = 42;
    static constexpr double riseDuration = 0.12;
    static constexpr double fallDuration = 0.06;

    struct Ink {
        QImage contents;
        AnimatedValue<double> opacity{0.0}; // "zone-color"
    };
    struct Phase {
        double opacity = 1;
        std::optional<RepeatingKeyframes> drift; // "smoke-drift"
        std::array<Ink, 3> inks;

        [[nodiscard]] double opacityAt(double now) const { return drift ? drift->valueAt(now) : opacity; }
    };
    struct Strip {
        int side = 0;
        QRectF bounds;                           // (0, 0, w, 42) or (0, 0, 42, h)
        AnimatedValue<double> scale{1.0};        // across the edge; "zone-depth"
        AnimatedValue<QPointF> position;         // centre of the frame; "zone-position"
        bool masked = false;                     // inner fade when the strip is cut short
        std::array<Phase, 2> phases;

        [[nodiscard]] QRectF frameAt(double now) const;
        [[nodiscard]] QRectF targetFrame() const;

    private:
        [[nodiscard]] QRectF frame(double across, const QPointF& centre) const;
    };

    explicit CompositedSmoke(ReduceMotionSource reduceMotion = {});

    void update(const QSizeF& size, double severity, double scale, bool animated);
    void setDriftEnabled(bool enabled);

    [[nodiscard]] const std::array<Strip, 4>& strips() const { return m_strips; }
    [[nodiscard]] QSizeF size() const { return m_size; }
    [[nodiscard]] bool driftEnabled() const { return m_driftEnabled; }
    [[nodiscard]] double lastSeverity() const { return m_lastSeverity; }
    [[nodiscard]] double lastScale() const { return m_lastScale; }
    [[nodiscard]] double epoch() const { return m_epoch; }
    // A depth or ink change is still running.
    [[nodiscard]] bool animating(double now) const;

    // Draws the strips that meet `clip` as they are at `now`, faded by `opacity`.
    void paint(QPainter& painter, const QRect& clip, double now, double opacity) const;
    // The strips' pixel rectangles at `now`.
    [[nodiscard]] std::array<QRect, 4> pixelFrames(double now) const;

private:
    struct PhaseRaster {
        QSize size;
        std::array<int, 3> inkLevels{};
        std::array<qint64, 3> textures{};
        bool masked = false;
        qreal devicePixelRatio = 1;
        QImage image;
    };
    const QImage& phaseRaster(std::size_t strip, std::size_t phase, const QSize& size, double now, qreal dpr) const;

    ReduceMotionSource m_reduceMotion;
    std::array<Strip, 4> m_strips;
    QSizeF m_size;
    bool m_driftEnabled = false;
    double m_lastSeverity = 0;
    double m_lastScale = 0;
    double m_epoch = 0;
    mutable std::array<std::array<PhaseRaster, 2>, 4> m_rasters;
};

// The smoke edge reminder on one screen. Not opaque, top-left origin, never takes a click.
class SmokeHaloView : public OverlayView {
    Q_OBJECT
public:
    // Frame rate of the drift: a cross-fade over seconds needs no more.
    static constexpr int driftIntervalMs = 100;

    SmokeHaloView(double severity, double depthScale, ReduceMotionSource reduceMotion = {}, QWidget* parent = nullptr);

    [[nodiscard]] double target() const { return m_target; }
    void setSeverity(double severity);
    [[nodiscard]] double depthScale() const { return m_depthScale; }
    void setDepthScale(double depthScale);
    [[nodiscard]] const CompositedSmoke& live() const { return m_live; }

    [[nodiscard]] QRegion coverage() const override;
    // What the view draws when solid().
    [[nodiscard]] const std::vector<QRect>& solidStrips() const { return m_solidStrips; }

protected:
    void resizeEvent(QResizeEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void tick() override;
    void attachedChanged() override;
    void solidChanged() override;

private:
    void refresh(bool animated);
    void scheduleFrames();
    [[nodiscard]] std::array<std::array<int, 2>, 4> phaseLevels(double now) const;

    CompositedSmoke m_live;
    double m_depthScale = 1;
    double m_target = 0;
    QRegion m_animationArea; // everything a running depth or ink change touches
    std::array<std::array<int, 2>, 4> m_paintedLevels{};
    std::vector<QRect> m_solidStrips;
};

} // namespace verticora
