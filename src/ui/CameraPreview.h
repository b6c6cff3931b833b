#pragma once

#include <QImage>
#include <QWidget>

#include <memory>

namespace verticora {

class CameraModel;
class PreviewFeed;

// The camera picture of the Posture page: every frame the capture thread accepts is
// shrunk there and handed over; the widget shows the newest one mirrored (like a mirror,
// as people expect to see themselves) and letterboxed on black, never cropped. While it
// exists the model feeds it; it detaches itself when destroyed.
class CameraPreview : public QWidget {
    Q_OBJECT

public:
    enum class Placeholder { none, cameraOff, cameraPaused };

    explicit CameraPreview(CameraModel& model, QWidget* parent = nullptr);
    ~CameraPreview() override;

    // What the area shows instead of a picture.
    void setPlaceholder(Placeholder placeholder);
    [[nodiscard]] Placeholder placeholder() const { return m_placeholder; }
    // The newest mirrored frame; null before the first.
    [[nodiscard]] const QImage& frame() const { return m_frame; }

protected:
    bool event(QEvent* event) override;
    // Frames flow only while the picture can be seen.
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;
    void paintEvent(QPaintEvent* event) override;

private:
    CameraModel& m_model;
    std::shared_ptr<PreviewFeed> m_feed;
    QImage m_frame;
    Placeholder m_placeholder = Placeholder::none;
};

} // namespace verticora
