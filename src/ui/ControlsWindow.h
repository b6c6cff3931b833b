#pragma once

#include <QSize>
#include <QWidget>

#include <functional>
#include <memory>

namespace verticora {

// The controls window's fixed size and the width of the Posture page's height column.
struct VerticoraWindowLayout {
    static constexpr QSize size{960, 720};
    static constexpr int heightColumnWidth = 260;
};

// The top-level controls window: fixed size, titled "Verticora", with the application's
// keyboard shortcuts (Ctrl+, Settings, Ctrl+W hide, Ctrl+Q quit). Its close button asks
// its owner to hide it instead of closing; minimising and restoring are reported so the
// owner can drop and rebuild the content. The content is one widget the owner attaches.
class ControlsWindow : public QWidget {
    Q_OBJECT

public:
    struct Actions {
        std::function<void()> showSettings;
        std::function<void()> hide;
        std::function<void()> quit;
    };

    explicit ControlsWindow(Actions actions, QWidget* parent = nullptr);
    ~ControlsWindow() override;

    [[nodiscard]] QWidget* content() const { return m_content; }
    void setContent(std::unique_ptr<QWidget> content);
    void removeContent();

Q_SIGNALS:
    void minimisedChanged(bool minimised);

protected:
    void closeEvent(QCloseEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    Actions m_actions;
    QWidget* m_content = nullptr; // child, owned through the widget tree
    bool m_minimised = false;
};

} // namespace verticora
