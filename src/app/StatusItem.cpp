#include "app/StatusItem.h"

#include "app/StatusPresentation.h"
#include "model/CameraModel.h"
#include "store/DiagnosticVisualPolicy.h"

#include <QAction>
#include <QApplication>
#include <QCursor>
#include <QEvent>
#include <QMenu>
#include <QPalette>
#include <QPixmap>
#include <QSystemTrayIcon>

namespace verticora {

namespace {

const QString frozenKey = QStringLiteral("diagnostic-frozen");

} // namespace

StatusItem::StatusItem(CameraModel& model, Actions actions, QObject* parent)
    : QObject(parent), m_model(model), m_actions(std::move(actions)),
      m_menu(std::make_unique<QMenu>(QStringLiteral("Verticora"))), m_tray(std::make_unique<QSystemTrayIcon>())
{
    QAction* open = m_menu->addAction(QStringLiteral("Open Verticora"));
    connect(open, &QAction::triggered, this, [this] { m_actions.openControls(); });
    m_menu->addSeparator();
    QAction* quit = m_menu->addAction(QStringLiteral("Quit app"));
    quit->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Q));
    connect(quit, &QAction::triggered, this, [this] { m_actions.quit(); });
    m_tray->setContextMenu(m_menu.get());

    connect(m_tray.get(), &QSystemTrayIcon::activated, this, [this](QSystemTrayIcon::ActivationReason reason) {
        if (reason == QSystemTrayIcon::Trigger)
            clicked(QGuiApplication::queryKeyboardModifiers().testFlag(Qt::ControlModifier));
    });

    m_debounce.setSingleShot(true);
    m_debounce.setInterval(debounceMilliseconds);
    connect(&m_debounce, &QTimer::timeout, this, &StatusItem::refreshStatus);
    connect(&m_model, &CameraModel::changed, &m_debounce, [this] {
        if (!m_debounce.isActive())
            m_debounce.start();
    });
    connect(&m_model.diagnostics(), &DiagnosticVisualPolicy::modeChanged, this, &StatusItem::refreshStatus);
    // The neutral picture is drawn in the desktop's text colour; follow a theme change.
    qApp->installEventFilter(this);

    refreshStatus();
    m_tray->show();
}

StatusItem::~StatusItem()
{
    qApp->removeEventFilter(this);
}

bool StatusItem::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == qApp && event->type() == QEvent::ApplicationPaletteChange
        && m_lastPresentationKey == QLatin1String("neutral")) {
        m_lastPresentationKey.clear();
        refreshStatus();
    }
    return QObject::eventFilter(watched, event);
}

void StatusItem::refreshStatus()
{
    if (m_removed)
        return;
    const StatusInputs inputs = StatusInputs::of(m_model);
    const QString status = statusText(inputs);
    QString key = statusColorKey(inputs);

    const DiagnosticVisualMode mode = m_model.diagnostics().currentMode();
    const QColor textColor = QGuiApplication::palette().color(QPalette::WindowText);
    if (mode == DiagnosticVisualMode::frozenIcon) {
        if (m_image.isNull()) {
            m_image = m_icon.statusImage(QStringLiteral("neutral"), textColor);
            m_tray->setIcon(QIcon(QPixmap::fromImage(m_image)));
        }
        m_lastPresentationKey = frozenKey;
    } else {
        if (mode == DiagnosticVisualMode::noVisuals)
            key = QStringLiteral("neutral");
        if (key != m_lastPresentationKey || m_image.isNull()) {
            m_image = m_icon.statusImage(key, textColor);
            m_tray->setIcon(QIcon(QPixmap::fromImage(m_image)));
        }
        m_lastPresentationKey = key;
    }

    if (status != m_lastStatus || !m_hasToolTip) {
        m_lastStatus = status;
        m_hasToolTip = true;
        m_tray->setToolTip(statusToolTip(status));
        // Trays give an icon no accessible name of its own; the menu carries them, and
        // the tooltip says the same for screen readers that read it.
        m_accessibleLabel = statusAccessibleLabel(status);
        m_accessibleHelp = statusAccessibleHelp();
        m_menu->setAccessibleName(m_accessibleLabel);
        m_menu->setAccessibleDescription(m_accessibleHelp);
    }
    emit refreshed();
}

QString StatusItem::toolTip() const
{
    return m_tray->toolTip();
}

void StatusItem::clicked(bool controlHeld)
{
    if (controlHeld)
        showMenu();
    else
        m_actions.openControls();
}

void StatusItem::showMenu()
{
    m_menu->popup(QCursor::pos());
}

void StatusItem::remove()
{
    m_removed = true;
    m_debounce.stop();
    m_tray->hide();
}

} // namespace verticora
