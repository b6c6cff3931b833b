#include "ui/ControlsWindow.h"

#include <QAction>
#include <QCloseEvent>
#include <QVBoxLayout>

namespace verticora {

namespace {

QAction* addShortcut(QWidget& window, const QString& text, const QKeySequence& keys, std::function<void()> run)
{
    auto* action = new QAction(text, &window);
    action->setShortcut(keys);
    action->setShortcutContext(Qt::WindowShortcut);
    QObject::connect(action, &QAction::triggered, &window, [run = std::move(run)] {
        if (run)
            run();
    });
    window.addAction(action);
    return action;
}

} // namespace

ControlsWindow::ControlsWindow(Actions actions, QWidget* parent) : QWidget(parent), m_actions(std::move(actions))
{
    setObjectName(QStringLiteral("posture-main"));
    setWindowTitle(QStringLiteral("Verticora"));
    setFixedSize(VerticoraWindowLayout::size);
    setAttribute(Qt::WA_DeleteOnClose, false);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);

    addShortcut(*this, QStringLiteral("Settings…"), QKeySequence(Qt::CTRL | Qt::Key_Comma), m_actions.showSettings);
    addShortcut(*this, QStringLiteral("Hide Controls"), QKeySequence(Qt::CTRL | Qt::Key_W), m_actions.hide);
    addShortcut(*this, QStringLiteral("Quit app"), QKeySequence(Qt::CTRL | Qt::Key_Q), m_actions.quit);
}

ControlsWindow::~ControlsWindow() = default;

void ControlsWindow::setContent(std::unique_ptr<QWidget> content)
{
    removeContent();
    m_content = content.release();
    layout()->addWidget(m_content);
    // Nothing looks selected on opening; Tab moves into the controls.
    m_content->setFocusPolicy(Qt::ClickFocus);
    m_content->setFocus();
}

void ControlsWindow::removeContent()
{
    if (!m_content)
        return;
    layout()->removeWidget(m_content);
    delete m_content;
    m_content = nullptr;
}

void ControlsWindow::closeEvent(QCloseEvent* event)
{
    // The close button hides: the application keeps running in the tray.
    event->ignore();
    if (m_actions.hide)
        m_actions.hide();
}

void ControlsWindow::changeEvent(QEvent* event)
{
    QWidget::changeEvent(event);
    if (event->type() != QEvent::WindowStateChange)
        return;
    const bool minimised = isMinimized();
    if (minimised == m_minimised)
        return;
    m_minimised = minimised;
    emit minimisedChanged(minimised);
}

} // namespace verticora
