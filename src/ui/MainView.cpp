#include "ui/MainView.h"

#include "model/CameraModel.h"
#include "ui/PosturePage.h"
#include "ui/ProgressViewPanel.h"
#include "ui/SettingsPage.h"
#include "ui/UiStyle.h"
#include "visuals/VisualPalette.h"

#include <QButtonGroup>
#include <QCoreApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QStackedWidget>
#include <QVBoxLayout>

namespace verticora {

namespace {

constexpr std::array pages{ControlsPage::posture, ControlsPage::progress, ControlsPage::settings};

QString pageTitle(ControlsPage page)
{
    const std::string_view name = rawName(page);
    return QString::fromLatin1(name.data(), static_cast<qsizetype>(name.size()));
}

} // namespace

MainView::MainView(CameraModel& model, Actions actions, QWidget* parent) : QWidget(parent), m_model(model)
{
    setObjectName(QStringLiteral("controls-content"));
    setAutoFillBackground(true);
    QPalette light = palette();
    light.setColor(QPalette::Window, VisualPalette::paper());
    setPalette(light);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(24, 14, 24, 8);
    layout->setSpacing(10);

    auto* switcher = new QWidget(this);
    switcher->setAccessibleName(QStringLiteral("Controls page"));
    auto* switcherLayout = new QHBoxLayout(switcher);
    switcherLayout->setContentsMargins(0, 0, 0, 0);
    switcherLayout->setSpacing(4);
    switcherLayout->addStretch();
    m_pageButtons = new QButtonGroup(this);
    for (const ControlsPage page : pages) {
        auto* button = new QPushButton(pageTitle(page), switcher);
        button->setObjectName(QStringLiteral("page-button"));
        button->setCheckable(true);
        button->setFlat(true);
        setHelp(button, QStringLiteral("Show ") + pageTitle(page));
        button->setCursor(Qt::PointingHandCursor);
        button->setStyleSheet(
            QStringLiteral(
                "QPushButton { border: none; border-radius: 13px; padding: 4px 16px; min-height: 18px; min-width: 64px; }"
                "QPushButton:checked { background: %1; font-weight: 600; }"
                "QPushButton:focus { border: 1px solid palette(highlight); }")
                .arg(styleSheetColor(withAlpha(VisualPalette::ink(), 0.12))));
        m_pageButtons->addButton(button, int(page));
        switcherLayout->addWidget(button);
    }
    switcherLayout->addStretch();
    connect(m_pageButtons, &QButtonGroup::idClicked, this,
            [this](int id) { m_model.setControlsPage(static_cast<ControlsPage>(id)); });
    layout->addWidget(switcher);

    m_pages = new QStackedWidget(this);
    m_posture = new PosturePage(model, m_pages);
    m_progress = new ProgressViewPanel(model.progressStore(), m_pages);
    m_settings = new SettingsPage(model, std::move(actions.quit), m_pages);
    m_pages->addWidget(m_posture);
    m_pages->addWidget(m_progress);
    m_pages->addWidget(m_settings);
    layout->addWidget(m_pages, 1);

    auto* branding = new QLabel(QStringLiteral("Verticora %1 · Everything is analysed on this computer · © Verticora contributors")
                                    .arg(QCoreApplication::applicationVersion()),
                                this);
    branding->setAlignment(Qt::AlignCenter);
    QFont small = branding->font();
    small.setPointSizeF(small.pointSizeF() * 0.8);
    branding->setFont(small);
    branding->setStyleSheet(QStringLiteral("color: rgba(0, 0, 0, 0.45);"));
    layout->addWidget(branding);

    connect(&m_model, &CameraModel::changed, this, &MainView::refresh);
    refresh();
}

MainView::~MainView() = default;

void MainView::setReduceMotion(bool on)
{
    m_posture->setReduceMotion(on);
}

void MainView::refresh()
{
    const ControlsPage page = m_model.controlsPage();
    if (QAbstractButton* button = m_pageButtons->button(int(page)); button && !button->isChecked())
        button->setChecked(true);
    QWidget* shown = page == ControlsPage::posture ? static_cast<QWidget*>(m_posture)
        : page == ControlsPage::progress            ? m_progress
                                                     : static_cast<QWidget*>(m_settings);
    if (m_pages->currentWidget() != shown)
        m_pages->setCurrentWidget(shown);
    if (page == ControlsPage::posture)
        m_posture->refresh();
    else if (page == ControlsPage::settings)
        m_settings->refresh();
}

} // namespace verticora
