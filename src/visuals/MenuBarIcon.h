#pragma once

#include <QCache>
#include <QColor>
#include <QImage>
#include <QString>

namespace verticora {

// The tray icon's picture: a ring of twelve short bars in the colour of the current zone,
// or in the desktop's text colour when there is no zone to show (Linux trays do not tint
// template images, so the neutral image is drawn in that colour instead). Many panels are
// dark while the desktop's text colour is dark too, so the neutral bars carry a rim in
// the opposite lightness: whichever of the two the panel hides, the other shows the
// ring. Each picture is drawn once and then served from a small cache. Main thread only.
class MenuBarIcon {
public:
    static constexpr int colorStatusSize = 20; // points
    static constexpr int scale = 2;            // pixels per point
    static constexpr int cacheCountLimit = 4;
    static constexpr int cacheCostLimit = 25600; // bytes

    MenuBarIcon();

    // The picture for a status colour key: "green", "yellow" or "red"; any other key gives
    // the neutral picture. `neutralColor` is the desktop's text colour.
    [[nodiscard]] QImage statusImage(const QString& zone, const QColor& neutralColor);

    // Whether the picture of `zone` is the neutral one that follows the desktop's colours.
    [[nodiscard]] static bool isTemplate(const QString& zone);

private:
    // `rim`: an outline around each bar, when it is valid.
    [[nodiscard]] static QImage draw(const QColor& fill, const QColor& rim = {});

    QCache<QString, QImage> m_statusCache;
    QColor m_cachedNeutralColor;
};

} // namespace verticora
