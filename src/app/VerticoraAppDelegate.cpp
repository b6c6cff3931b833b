#include "app/VerticoraAppDelegate.h"

#include "app/StatusItem.h"
#include "app/UpdateHandoff.h"
#include "model/CameraModel.h"
#include "model/ModelTexts.h"
#include "ui/ControlsWindow.h"
#include "ui/MainView.h"

#include <QApplication>
#include <QFile>
#include <QIcon>
#include <QPointer>
#include <QScreen>
#include <QTimer>

// The window icon is a resource of this static library, and nothing else refers to it: the
// linker would leave it out unless it is registered by hand.
static void registerIconResource()
{
    Q_INIT_RESOURCE(verticora);
}

namespace verticora {

namespace {

const QString applicationIconResource = QStringLiteral(":/verticora/verticora.png");

// An action of the delegate for a window or the tray, which may outlive it.
std::function<void()> weakly(VerticoraAppDelegate* delegate, void (VerticoraAppDelegate::*action)())
{
    return [delegate = QPointer(delegate), action] {
        if (delegate)
            (delegate.data()->*action)();
    };
}

} // namespace

VerticoraAppDelegate::VerticoraAppDelegate(std::unique_ptr<CameraModel> model, Options options, QObject* parent)
    : QObject(parent), m_model(std::move(model)),
      m_handoff(std::make_unique<UpdateHandoff>(*m_model, options.build, options.processID)), m_options(options)
{
    if (QCoreApplication::instance()) {
        connect(QCoreApplication::instance(), &QCoreApplication::aboutToQuit, this,
                &VerticoraAppDelegate::applicationWillTerminate);
    }
    // Where the window stands travels with an update handoff.
    m_handoff->setWindowContext([delegate = QPointer(this)] {
        if (!delegate)
            return UpdateWindowContext{QStringLiteral("Posture"), false};
        const ControlsWindow* window = delegate->m_controlsWindow.get();
        return UpdateWindowContext{texts::text(rawName(delegate->m_model->controlsPage())),
                                   window && (window->isVisible() || window->isMinimized())};
    });
}

VerticoraAppDelegate::~VerticoraAppDelegate()
{
    // The window's content watches the model; it goes first.
    m_controlsWindow.reset();
    m_statusItem.reset();
}

void VerticoraAppDelegate::applicationDidFinishLaunching()
{
    applyApplicationIcon();
    installStatusItem();
    if (consumeUpdateHandoff())
        return;
    showControls();
}

bool VerticoraAppDelegate::consumeUpdateHandoff()
{
    const LaunchHandoff handoff = m_handoff->take();
    m_metUpdateHandoff = handoff.met();
    switch (handoff.kind) {
    case LaunchHandoff::Kind::none:
        return false;
    case LaunchHandoff::Kind::refused:
    case LaunchHandoff::Kind::stillClosing:
        showControls(); // with the reason in its status line
        return true;
    case LaunchHandoff::Kind::resume:
        break;
    }
    m_model->setControlsPage(fromRawName<ControlsPage>(handoff.state.page.toStdString()).value_or(ControlsPage::posture));
    if (handoff.state.controlsVisible)
        showControls();
    m_handoff->resume(handoff.state);
    return true;
}

void VerticoraAppDelegate::cancelPendingUpdateHandoff()
{
    m_handoff->cancel();
}

void VerticoraAppDelegate::writeUpdateHandoffReceipt()
{
    m_handoff->prepareForTermination();
}

void VerticoraAppDelegate::applicationShouldHandleReopen()
{
    showControls();
}

void VerticoraAppDelegate::installStatusItem()
{
    if (m_statusItem || m_terminated || !m_options.installsStatusItem)
        return;
    StatusItem::Actions actions;
    actions.openControls = weakly(this, &VerticoraAppDelegate::showControls);
    actions.quit = weakly(this, &VerticoraAppDelegate::quitVerticora);
    m_statusItem = std::make_unique<StatusItem>(*m_model, std::move(actions));
}

void VerticoraAppDelegate::showControls()
{
    installStatusItem();
    if (!m_controlsWindow) {
        ControlsWindow::Actions actions;
        actions.showSettings = weakly(this, &VerticoraAppDelegate::showSettings);
        actions.hide = weakly(this, &VerticoraAppDelegate::hideControls);
        actions.quit = weakly(this, &VerticoraAppDelegate::quitVerticora);
        m_controlsWindow = std::make_unique<ControlsWindow>(std::move(actions));
        connect(m_controlsWindow.get(), &ControlsWindow::minimisedChanged, this, [this](bool minimised) {
            if (minimised) {
                // A minimised window shows no preview and redraws nothing.
                m_model->setPreviewLayer({});
                m_controlsWindow->removeContent();
            } else if (m_controlsWantedOpen) {
                attachControlsContent();
            }
        });
        if (m_controlsFrame) {
            m_controlsWindow->move(keptOnPrimaryScreen(*m_controlsFrame).topLeft());
        } else if (const QScreen* screen = QGuiApplication::primaryScreen()) {
            QRect frame(QPoint(), VerticoraWindowLayout::size);
            frame.moveCenter(screen->availableGeometry().center());
            m_controlsWindow->move(frame.topLeft());
        }
    }
    const std::uint64_t generation = ++m_controlsPresenceGeneration;
    m_controlsWantedOpen = true;

    attachControlsContent();
    if (m_controlsWindow->isMinimized())
        m_controlsWindow->showNormal();
    else
        m_controlsWindow->show();
    m_controlsWindow->raise();
    m_controlsWindow->activateWindow();
    // Window managers may refuse activation while the window is still being mapped; ask
    // once more on the next turn unless a later show or hide happened in between.
    QTimer::singleShot(0, this, [this, generation] {
        if (m_terminated || !m_controlsWantedOpen || generation != m_controlsPresenceGeneration || !m_controlsWindow)
            return;
        m_controlsWindow->raise();
        m_controlsWindow->activateWindow();
    });
}

void VerticoraAppDelegate::attachControlsContent()
{
    if (!m_controlsWindow || m_controlsWindow->content())
        return;
    MainView::Actions actions;
    actions.quit = weakly(this, &VerticoraAppDelegate::quitVerticora);
    auto view = std::make_unique<MainView>(*m_model, std::move(actions));
    view->setReduceMotion(m_reduceMotion);
    m_controlsWindow->setContent(std::move(view));
}

void VerticoraAppDelegate::hideControls()
{
    ++m_controlsPresenceGeneration;
    m_controlsWantedOpen = false;
    m_model->setPreviewLayer({});
    if (!m_controlsWindow)
        return;
    m_controlsFrame = m_controlsWindow->frameGeometry();
    m_controlsWindow->removeContent();
    m_controlsWindow->hide();
    // Destroyed on the next turn: hiding may have been asked from inside its own events.
    m_controlsWindow.release()->deleteLater();
}

void VerticoraAppDelegate::showSettings()
{
    m_model->setControlsPage(ControlsPage::settings);
    showControls();
}

void VerticoraAppDelegate::quitVerticora()
{
    cancelPendingUpdateHandoff();
    m_model->stop(texts::text(texts::cameraOff));
    // Not quit(): that closes every window first and is dropped when one stays open.
    QCoreApplication::exit(0);
}

void VerticoraAppDelegate::applicationWillTerminate()
{
    if (m_terminated)
        return;
    m_terminated = true;
    // Stopping the camera for the receipt closes and writes the day's progress and hides
    // the reminders.
    writeUpdateHandoffReceipt();
    if (m_statusItem)
        m_statusItem->remove();
    if (m_controlsWindow)
        m_controlsWindow->hide();
}

void VerticoraAppDelegate::setReduceMotion(bool on)
{
    m_reduceMotion = on;
    if (m_controlsWindow)
        if (auto* view = qobject_cast<MainView*>(m_controlsWindow->content()))
            view->setReduceMotion(on);
}

void VerticoraAppDelegate::applyApplicationIcon()
{
    registerIconResource();
    if (!QFile::exists(applicationIconResource))
        return;
    const QIcon icon(applicationIconResource);
    if (!icon.isNull())
        QApplication::setWindowIcon(icon);
}

QRect VerticoraAppDelegate::keptOnPrimaryScreen(const QRect& frame)
{
    const QScreen* screen = QGuiApplication::primaryScreen();
    if (!screen)
        return frame;
    const QRect area = screen->availableGeometry();
    QRect kept = frame;
    if (kept.right() > area.right())
        kept.moveRight(area.right());
    if (kept.bottom() > area.bottom())
        kept.moveBottom(area.bottom());
    if (kept.left() < area.left())
        kept.moveLeft(area.left());
    if (kept.top() < area.top())
        kept.moveTop(area.top());
    return kept;
}

} // namespace verticora
