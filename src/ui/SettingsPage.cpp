#include "ui/SettingsPage.h"

#include "model/CameraModel.h"
#include "store/DataFolder.h"
#include "store/PlatformTexts.h"
#include "ui/Controls.h"
#include "ui/Symbols.h"
#include "ui/PageStyle.h"

#include <QCoreApplication>
#include <QDir>
#include <QEvent>
#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QScrollArea>
#include <QVBoxLayout>

namespace verticora {

namespace {

constexpr double defaultDelay = 2;
constexpr double defaultEffectStrength = 8;

QLabel* title(const QString& text, QWidget* parent)
{
    auto* label = new QLabel(text, parent);
    QFont font = label->font();
    font.setWeight(QFont::DemiBold);
    label->setFont(font);
    return label;
}

QLabel* secondary(const QString& text, QWidget* parent)
{
    auto* label = new QLabel(text, parent);
    label->setStyleSheet(style::secondaryText);
    return label;
}

QFrame* divider(QWidget* parent)
{
    auto* line = new QFrame(parent);
    line->setFrameShape(QFrame::HLine);
    line->setStyleSheet(QStringLiteral("color: rgba(0, 0, 0, 0.1);"));
    return line;
}

QHBoxLayout* titleRow(const QString& name, const QString& trailing, QWidget* parent)
{
    auto* row = new QHBoxLayout;
    row->addWidget(title(name, parent));
    row->addStretch();
    if (!trailing.isEmpty())
        row->addWidget(secondary(trailing, parent));
    return row;
}

// Starts this program on this data folder: the default one needs no argument.
AutostartEntry autostartEntryFor(const CameraModel& model)
{
    QStringList arguments;
    const QString folder = QDir::cleanPath(model.dataDirectory());
    if (!folder.isEmpty() && folder != QDir::cleanPath(dataFolder()))
        arguments << QStringLiteral("--data-dir") << folder;
    return AutostartEntry(QCoreApplication::applicationFilePath(), arguments);
}

} // namespace

SettingsPage::SettingsPage(CameraModel& model, std::function<void()> quit, QWidget* parent)
    : QWidget(parent), m_model(model), m_autostartEntry(autostartEntryFor(model))
{
    auto* outer = new QVBoxLayout(this);
    outer->setContentsMargins(0, 0, 0, 0);
    auto* scroll = new QScrollArea(this);
    scroll->setWidgetResizable(true);
    scroll->setFrameShape(QFrame::NoFrame);
    scroll->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    outer->addWidget(scroll);

    auto* page = new QWidget(scroll);
    page->setObjectName(QStringLiteral("settings-page"));
    page->setStyleSheet(QStringLiteral("#settings-page { background: transparent; }"));
    scroll->setWidget(page);
    scroll->viewport()->setAutoFillBackground(false);
    auto* column = new QVBoxLayout(page);
    column->setContentsMargins(120, 8, 120, 16);
    column->setSpacing(16);

    auto* heading = new QLabel(QStringLiteral("Settings"), page);
    QFont serif(QStringLiteral("serif"));
    serif.setStyleHint(QFont::Serif);
    serif.setPixelSize(30);
    heading->setFont(serif);
    column->addWidget(heading);

    auto* card = new QFrame(page);
    card->setObjectName(QStringLiteral("settings-card"));
    card->setStyleSheet(QStringLiteral("#settings-card { background: white; border-radius: 14px; }"));
    auto* cardLayout = new QVBoxLayout(card);
    cardLayout->setContentsMargins(22, 18, 22, 18);
    cardLayout->setSpacing(10);

    // Posture forgiveness.
    cardLayout->addLayout(titleRow(QStringLiteral("Posture forgiveness"), {}, card));
    m_forgiveness = new ValueSlider(0, 1, card);
    m_forgiveness->setAccessibleName(QStringLiteral("Forgiveness"));
    setHelp(m_forgiveness, QStringLiteral("Moves both yellow and red boundaries while keeping your chosen height. "
                                          "Left is stricter; right gives more room to move."));
    m_forgiveness->setValueText([](double v) { return QStringLiteral("%1%").arg(std::lround(v * 100)); });
    connect(m_forgiveness, &ValueSlider::realValueChanged, this, [this](double v) { m_model.setForgiveness(v); });
    cardLayout->addWidget(m_forgiveness);
    auto* ends = new QHBoxLayout;
    ends->addWidget(secondary(QStringLiteral("Strict"), card));
    ends->addStretch();
    ends->addWidget(secondary(QStringLiteral("Default"), card));
    ends->addStretch();
    ends->addWidget(secondary(QStringLiteral("Forgiving"), card));
    cardLayout->addLayout(ends);

    cardLayout->addWidget(divider(card));

    // The automatic red alert and its delay.
    auto* redAlertRow = new QHBoxLayout;
    auto* redAlertLabel = title(QStringLiteral("Automatic red alert"), card);
    redAlertRow->addWidget(redAlertLabel);
    redAlertRow->addStretch();
    m_redAlert = new ToggleSwitch(card);
    m_redAlert->setAccessibleName(QStringLiteral("Red alert"));
    setHelp(m_redAlert, QStringLiteral("Show the focus card when you stay in red. Edge effects remain on."));
    connect(m_redAlert, &QAbstractButton::clicked, this, [this](bool on) { m_model.display().setRedAlertEnabled(on); });
    redAlertRow->addWidget(m_redAlert);
    cardLayout->addLayout(redAlertRow);
    cardLayout->addSpacing(6);

    cardLayout->addLayout(titleRow(QStringLiteral("Red alert delay"),
                                   QStringLiteral("Default: %1 seconds").arg(defaultDelay), card));
    m_delay = new ValueSlider(1, 5, card);
    m_delay->setAccessibleName(QStringLiteral("Delay"));
    setHelp(m_delay, QStringLiteral("How long you stay in red before the focus card shows."));
    m_delay->setValueText([](double v) { return QString::asprintf("%.1f seconds", v); });
    connect(m_delay, &ValueSlider::realValueChanged, this, [this](double v) {
        m_model.setup().setDelay(v);
        m_model.applyThresholds();
    });
    cardLayout->addWidget(m_delay);

    cardLayout->addWidget(divider(card));

    cardLayout->addLayout(titleRow(QStringLiteral("Effect strength"),
                                   QStringLiteral("Default: %1").arg(defaultEffectStrength), card));
    m_effectStrength = new ValueSlider(0, 10, card);
    m_effectStrength->setAccessibleName(QStringLiteral("Effect strength"));
    setHelp(m_effectStrength, QStringLiteral("How far the reminder at the screen edges reaches in."));
    m_effectStrength->setValueText([](double v) { return QString::number(v, 'f', 1); });
    connect(m_effectStrength, &ValueSlider::realValueChanged, this, [this](double v) { m_model.display().setSmokeDepth(v); });
    cardLayout->addWidget(m_effectStrength);

    cardLayout->addWidget(divider(card));

    auto* autostartRow = new QHBoxLayout;
    autostartRow->addWidget(title(QStringLiteral("Start Verticora when you log in"), card));
    autostartRow->addStretch();
    m_autostart = new ToggleSwitch(card);
    m_autostart->setAccessibleName(QStringLiteral("Start Verticora when you log in"));
    setHelp(m_autostart, QStringLiteral("Verticora opens when you log in; the camera stays off until you turn it on."));
    connect(m_autostart, &QAbstractButton::clicked, this, &SettingsPage::setAutostart);
    autostartRow->addWidget(m_autostart);
    cardLayout->addLayout(autostartRow);
    column->addWidget(card);

    m_persistence = new WarningLine(page);
    column->addWidget(m_persistence);
    m_autostartFailure = new WarningLine(page);
    column->addWidget(m_autostartFailure);

    auto* quitRow = new QHBoxLayout;
    quitRow->addStretch();
    auto* quitButton =
        new QPushButton(symbolIcon(Symbol::power, 16, VisualPalette::ink()), QStringLiteral("Quit app"), page);
    quitButton->setStyleSheet(style::secondaryButton);
    const std::string_view help = platformTexts.stopCameraAndQuit;
    setHelp(quitButton, QString::fromUtf8(help.data(), static_cast<qsizetype>(help.size())));
    connect(quitButton, &QPushButton::clicked, this, [quit = std::move(quit)] {
        if (quit)
            quit();
    });
    quitRow->addWidget(quitButton);
    column->addLayout(quitRow);
    column->addStretch();
    readAutostart();
    refresh();
}

void SettingsPage::showEvent(QShowEvent* event)
{
    readAutostart();
    QWidget::showEvent(event);
}

void SettingsPage::changeEvent(QEvent* event)
{
    if (event->type() == QEvent::ActivationChange && isActiveWindow() && isVisible())
        readAutostart();
    QWidget::changeEvent(event);
}

void SettingsPage::readAutostart()
{
    const bool on = m_autostartEntry.enabled();
    if (m_autostart->isChecked() != on)
        m_autostart->setChecked(on);
}

void SettingsPage::setAutostart(bool on)
{
    m_autostartFailure->setMessage(m_autostartEntry.setEnabled(on));
    readAutostart();
}

void SettingsPage::refresh()
{
    m_forgiveness->setRealValue(m_model.setup().forgiveness());
    if (m_redAlert->isChecked() != m_model.display().redAlertEnabled())
        m_redAlert->setChecked(m_model.display().redAlertEnabled());
    m_delay->setRealValue(m_model.setup().delay());
    m_effectStrength->setRealValue(m_model.display().smokeDepth());
    m_persistence->setMessage(m_model.persistenceMessage());
}

} // namespace verticora
