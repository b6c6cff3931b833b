#pragma once

#include "visuals/OverlayPanel.h"

#include <QCoreApplication>

#include <algorithm>

namespace verticora::test {

// Screens the test chooses, real panels (never painted: the tests run no event loop).
class FakePanelFactory : public OverlayPanelFactory {
public:
    FakePanelFactory() = default;
    explicit FakePanelFactory(std::vector<ScreenGeometry> screens) : fakeScreens(std::move(screens)) {}

    [[nodiscard]] std::vector<ScreenGeometry> screens() const override { return fakeScreens; }
    [[nodiscard]] std::optional<std::size_t> mainScreenIndex() const override
    {
        if (fakeScreens.empty())
            return std::nullopt;
        return mainScreen;
    }
    [[nodiscard]] bool reduceMotion() const override { return reduce; }
    [[nodiscard]] bool composites() const override { return compositing; }

    void changeScreens(std::vector<ScreenGeometry> screens)
    {
        fakeScreens = std::move(screens);
        emit screensChanged();
    }

    void changeCompositing(bool on)
    {
        compositing = on;
        emit compositingChanged();
    }

    [[nodiscard]] int count(int level) const
    {
        const std::vector<OverlayPanel*> panels = livePanels();
        return static_cast<int>(
            std::count_if(panels.begin(), panels.end(), [level](const OverlayPanel* panel) { return panel->level() == level; }));
    }

    std::vector<ScreenGeometry> fakeScreens{{QRect(0, 0, 320, 200), QRect(0, 24, 320, 176)}};
    std::size_t mainScreen = 0;
    bool reduce = false;
    bool compositing = true;
};

// Runs the deletions panels leave to the event loop.
inline void flushDeferredDeletes()
{
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

} // namespace verticora::test
