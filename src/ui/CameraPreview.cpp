#include "ui/CameraPreview.h"

#include "analysis/AnalysisFrames.h"
#include "model/CameraModel.h"
#include "model/CaptureService.h"
#include "ui/FaceHeightGuide.h"
#include "ui/Symbols.h"

#include <QCoreApplication>
#include <QEvent>
#include <QPainter>
#include <QPainterPath>

#include <mutex>

namespace verticora {

namespace {

const QEvent::Type frameArrived = static_cast<QEvent::Type>(QEvent::registerEventType());

} // namespace

// Receives frames on the capture thread. The widget it reports to detaches it before it
// goes away; the lock makes sure no report is under way at that moment.
class PreviewFeed final : public PreviewSink {
public:
    explicit PreviewFeed(QObject* receiver) : m_receiver(receiver) {}

    void enqueue(const CapturedFrame& frame) override
    {
        if (!frame.image)
            return;
        const std::optional<PixelBufferView> small = m_frames.resized(*frame.image);
        if (!small || small->format() != pixelFormat::bgra)
            return;
        const QImage view(small->plane(0).base, small->width(), small->height(),
                          static_cast<qsizetype>(small->plane(0).bytesPerRow), QImage::Format_RGB32);
        QImage mirrored = view.mirrored(true, false); // a deep copy: the view is reused
        std::lock_guard lock(m_lock);
        if (!m_receiver)
            return;
        const bool announce = m_latest.isNull();
        m_latest = std::move(mirrored);
        if (announce)
            QCoreApplication::postEvent(m_receiver, new QEvent(frameArrived));
    }

    QImage take()
    {
        std::lock_guard lock(m_lock);
        return std::exchange(m_latest, QImage());
    }

    void detach()
    {
        std::lock_guard lock(m_lock);
        m_receiver = nullptr;
        m_latest = QImage();
    }

private:
    AnalysisFrames m_frames; // capture thread only
    std::mutex m_lock;
    QObject* m_receiver;
    QImage m_latest;
};

CameraPreview::CameraPreview(CameraModel& model, QWidget* parent)
    : QWidget(parent), m_model(model), m_feed(std::make_shared<PreviewFeed>(this))
{
    setAttribute(Qt::WA_OpaquePaintEvent);
    setMinimumSize(160, 90);
}

CameraPreview::~CameraPreview()
{
    m_model.setPreviewLayer({});
    m_feed->detach();
}

void CameraPreview::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    m_model.setPreviewLayer(m_feed);
}

void CameraPreview::hideEvent(QHideEvent* event)
{
    QWidget::hideEvent(event);
    m_model.setPreviewLayer({});
}

void CameraPreview::setPlaceholder(Placeholder placeholder)
{
    if (placeholder == m_placeholder)
        return;
    m_placeholder = placeholder;
    setAccessibleName(placeholder == Placeholder::cameraOff  ? QStringLiteral("Camera off")
                          : placeholder == Placeholder::cameraPaused ? QStringLiteral("Camera paused")
                                                                     : QString());
    if (placeholder != Placeholder::none)
        m_frame = QImage();
    update();
}

bool CameraPreview::event(QEvent* event)
{
    if (event->type() == frameArrived) {
        QImage frame = m_feed->take();
        if (!frame.isNull() && m_placeholder == Placeholder::none) {
            m_frame = std::move(frame);
            update();
        }
        return true;
    }
    return QWidget::event(event);
}

void CameraPreview::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.fillRect(rect(), parentWidget() ? parentWidget()->palette().color(QPalette::Window) : Qt::white);
    painter.setRenderHint(QPainter::Antialiasing);
    QPainterPath clip;
    clip.addRoundedRect(QRectF(rect()), 10, 10);
    painter.setClipPath(clip);
    painter.fillRect(rect(), Qt::black);
    if (m_placeholder != Placeholder::none) {
        const double side = std::min(width(), height()) * 0.28;
        const QRectF box(width() / 2.0 - side / 2, height() / 2.0 - side / 2, side, side);
        drawSymbol(painter, m_placeholder == Placeholder::cameraOff ? Symbol::personCropRectangle : Symbol::pauseCircle, box,
                    QColor(255, 255, 255, 150));
        return;
    }
    if (m_frame.isNull())
        return;
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    // Fitted exactly as the height guide fits it, so the dots sit on the face.
    const double aspect = double(m_frame.width()) / m_frame.height();
    painter.drawImage(FaceHeightGuide::pictureRect(size(), aspect), m_frame);
}

} // namespace verticora
