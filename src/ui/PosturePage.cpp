#include "ui/PosturePage.h"

#include "analysis/ThresholdRules.h"
#include "model/CameraModel.h"
#include "store/DailyProgressCalendar.h"
#include "store/PlatformTexts.h"
#include "ui/CameraPreview.h"
#include "ui/ControlsWindow.h"
#include "ui/Controls.h"
#include "ui/BalancedPostureColumns.h"
#include "ui/FaceHeightGuide.h"
#include "ui/HeightThermometer.h"
#include "ui/LiveScoreChart.h"
#include "ui/Symbols.h"
#include "ui/PageStyle.h"

#include <QApplication>
#include <QBoxLayout>
#include <QComboBox>
#include <QDateTime>
#include <QHBoxLayout>
#include <QLabel>
#include <QLocale>
#include <QProgressBar>
#include <QPushButton>
#include <QToolButton>
#include <QVBoxLayout>

#include <cmath>

namespace verticora {

namespace {

QString fromView(std::string_view text)
{
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

// The height of the dotted line over the preview: where the nose sat when the height
// was chosen, as a share of the picture height from its top.
std::optional<double> guideBaseline(const CameraModel& model)
{
    const std::optional<PoseFeatures>& baseline = model.engine().baseline();
    if (!baseline || !baseline->landmarkHeight)
        return std::nullopt;
    const double nose = baseline->landmarkHeight->landmarks.noseY;
    return std::isfinite(nose) ? std::optional(nose) : std::nullopt;
}

} // namespace

QString inactiveTrackingStatus(const CameraModel& model)
{
    if (model.session().paused())
        return QStringLiteral("Paused");
    if (model.session().loading())
        return QStringLiteral("Starting camera");
    if (model.state() == ZoneState::error)
        return QStringLiteral("Tracking unavailable");
    if (!model.session().active())
        return QStringLiteral("Camera off");
    if (model.state() == ZoneState::lost)
        return QStringLiteral("Looking for you");
    if (model.hasPose())
        return QStringLiteral("Finding your height");
    return QStringLiteral("Looking for you");
}

QString cameraCaption(const CameraModel& model)
{
    if (model.session().loading())
        return QStringLiteral("Opening your camera…");
    if (model.session().paused())
        return QStringLiteral("Height saved.");
    if (!model.session().active())
        return fromView(platformTexts.videoStaysLocal);
    if (model.state() == ZoneState::lost)
        return QStringLiteral("Bring your face back into view.");
    return QStringLiteral("The dotted line is your chosen height.");
}

QString resumesAtText(double wallTime)
{
    const QDateTime moment = QDateTime::fromMSecsSinceEpoch(std::llround(wallTime * 1000), DailyProgressCalendar::timeZone());
    return QStringLiteral("Resumes at ") + QLocale::c().toString(moment, QStringLiteral("h:mm AP t"));
}

PosturePage::PosturePage(CameraModel& model, QWidget* parent) : QWidget(parent), m_model(model)
{
    // Left column: chart, then the preview beside the camera controls.
    auto* left = new QWidget(this);
    auto* leftLayout = new QVBoxLayout(left);
    leftLayout->setContentsMargins(0, 0, 0, 0);
    leftLayout->setSpacing(16);
    m_chart = new LiveScoreChart(model.liveScore(), left);
    leftLayout->addWidget(m_chart);

    auto* cameraRow = new QHBoxLayout;
    cameraRow->setSpacing(16);
    m_preview = new CameraPreview(model, left);
    m_preview->setFixedSize(384, 216);
    m_guide = new FaceHeightGuide(m_preview);
    m_guide->setGeometry(m_preview->rect());
    cameraRow->addWidget(m_preview, 0, Qt::AlignTop);

    auto* cameraControls = new QVBoxLayout;
    cameraControls->setSpacing(8);
    m_cameraSwitch = new ToggleSwitch(left);
    setHelp(m_cameraSwitch, QStringLiteral("Turn the selected camera on or off. Your saved height is kept."));
    connect(m_cameraSwitch, &QAbstractButton::clicked, this, [this](bool on) { m_model.setCameraEnabled(on); });
    cameraControls->addWidget(m_cameraSwitch, 0, Qt::AlignLeft);

    auto* chooserLabel = new QLabel(QStringLiteral("Camera"), left);
    chooserLabel->setStyleSheet(style::secondaryText);
    cameraControls->addWidget(chooserLabel);
    auto* chooserRow = new QHBoxLayout;
    chooserRow->setSpacing(4);
    m_cameraChooser = new QComboBox(left);
    m_cameraChooser->setAccessibleName(QStringLiteral("Choose a camera"));
    setHelp(m_cameraChooser, QStringLiteral("Choose a camera"));
    m_cameraChooser->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
    m_cameraChooser->setMinimumContentsLength(12);
    chooserLabel->setBuddy(m_cameraChooser);
    connect(m_cameraChooser, &QComboBox::activated, this, [this](int index) {
        const QString id = m_cameraChooser->itemData(index).toString();
        if (!id.isEmpty())
            m_model.select(id);
    });
    chooserRow->addWidget(m_cameraChooser, 1);
    m_refreshCameras = new QToolButton(left);
    m_refreshCameras->setIcon(symbolIcon(Symbol::arrowClockwise, 16, VisualPalette::ink()));
    setHelp(m_refreshCameras, QStringLiteral("Refresh available cameras"));
    m_refreshCameras->setAccessibleName(QStringLiteral("Refresh available cameras"));
    m_refreshCameras->setAutoRaise(true);
    m_refreshCameras->setFocusPolicy(Qt::StrongFocus);
    connect(m_refreshCameras, &QToolButton::clicked, this, [this] { m_model.refreshCameras(); });
    chooserRow->addWidget(m_refreshCameras);
    cameraControls->addLayout(chooserRow);

    m_caption = style::wrappedLabel(11, left);
    m_caption->setStyleSheet(QStringLiteral("color: rgba(0, 0, 0, 0.7);"));
    cameraControls->addWidget(m_caption);
    cameraControls->addStretch();
    cameraRow->addLayout(cameraControls, 1);
    leftLayout->addLayout(cameraRow);
    leftLayout->addStretch();

    // Right column: the height block.
    auto* right = new QWidget(this);
    m_heightBlock = right;
    auto* block = new QVBoxLayout(right);
    block->setContentsMargins(0, 0, 0, 0);
    block->setSpacing(8);
    m_pausedHeader = style::wrappedLabel(20, right, QFont::DemiBold);
    m_pausedHeader->setText(QStringLiteral("Paused"));
    block->addWidget(m_pausedHeader);
    m_message = style::wrappedLabel(12, right);
    block->addWidget(m_message);
    m_inactiveHint = style::wrappedLabel(12, right);
    block->addWidget(m_inactiveHint);

    m_persistence = new WarningLine(right);
    block->addWidget(m_persistence);

    m_progress = new QProgressBar(right);
    m_progress->setRange(0, 1000);
    m_progress->setTextVisible(false);
    m_progress->setFixedHeight(6);
    m_progress->setAccessibleName(QStringLiteral("Height capture"));
    m_progress->setStyleSheet(QStringLiteral("QProgressBar { background: rgba(0,0,0,0.08); border: none; border-radius: 3px; }"
                                             "QProgressBar::chunk { background: %1; border-radius: 3px; }")
                                  .arg(styleSheetColor(VisualPalette::greenZone())));
    block->addWidget(m_progress);

    m_meter = new HeightThermometer(right);
    connect(m_meter, &HeightThermometer::boundaryProposed, this,
            [this](double value, bool isRed) { m_model.setHeightBoundary(value, isRed); });
    block->addWidget(m_meter, 1);

    m_goBack = new QPushButton(QStringLiteral("Go back"), right);
    setHelp(m_goBack, QStringLiteral("Restore your previous height and levels."));
    connect(m_goBack, &QPushButton::clicked, this, [this] { m_model.undoHeightReset(); });
    block->addWidget(m_goBack);

    m_actions = new QBoxLayout(QBoxLayout::LeftToRight);
    m_actions->setSpacing(8);
    m_primary = new QPushButton(right);
    m_primary->setStyleSheet(style::primaryButton);
    m_secondary = new QPushButton(right);
    m_secondary->setStyleSheet(style::secondaryButton);
    m_actions->addWidget(m_primary, 1);
    m_actions->addWidget(m_secondary, 1);
    block->addLayout(m_actions);
    connect(m_primary, &QPushButton::clicked, this, [this] {
        const SetupStage stage = m_model.setup().stage();
        if (stage == SetupStage::heightSetup)
            m_model.capture();
        else if (stage == SetupStage::review)
            m_model.confirm();
        else if (stage == SetupStage::monitoring)
            m_model.togglePause();
    });
    connect(m_secondary, &QPushButton::clicked, this, [this] { m_model.restartSetup(); });

    m_resumesAt = new QLabel(right);
    m_resumesAt->setStyleSheet(style::secondaryText);
    block->addWidget(m_resumesAt);
    block->addStretch(0);

    auto* columns = new BalancedPostureColumns(VerticoraWindowLayout::heightColumnWidth, 24, this);
    columns->addWidget(left);
    columns->addWidget(right);
    refresh();
}

PosturePage::~PosturePage() = default;

void PosturePage::fitActions()
{
    // Side by side when both texts fit the height column, one above the other when not
    // (longer texts, a larger font).
    const int needed = m_primary->sizeHint().width() + m_actions->spacing() + m_secondary->sizeHint().width();
    const bool sideBySide =
        !m_secondary->isVisibleTo(m_heightBlock) || needed <= VerticoraWindowLayout::heightColumnWidth;
    const QBoxLayout::Direction direction = sideBySide ? QBoxLayout::LeftToRight : QBoxLayout::TopToBottom;
    if (m_actions->direction() != direction)
        m_actions->setDirection(direction);
}

void PosturePage::setReduceMotion(bool on)
{
    m_chart->setReduceMotion(on);
}

void PosturePage::refresh()
{
    refreshCameraColumn();
    refreshHeightBlock();
}

void PosturePage::refreshCameraColumn()
{
    const CameraModel& model = m_model;
    const QString status = inactiveTrackingStatus(model);
    m_chart->setInactiveStatus(status);

    const bool enabled = model.session().cameraEnabled();
    style::setTextIfChanged(*m_cameraSwitch, enabled ? QStringLiteral("Camera on") : QStringLiteral("Camera off"));
    m_cameraSwitch->setAccessibleName(m_cameraSwitch->text());
    if (m_cameraSwitch->isChecked() != enabled)
        m_cameraSwitch->setChecked(enabled);
    m_cameraSwitch->updateGeometry();

    // The chooser lists the cameras by name; rebuilt only when the list changed.
    bool same = m_cameraChooser->count() == model.session().cameras().size();
    for (int i = 0; same && i < m_cameraChooser->count(); ++i) {
        const CameraChoice& choice = model.session().cameras().at(i);
        same = m_cameraChooser->itemData(i).toString() == choice.id && m_cameraChooser->itemText(i) == choice.name;
    }
    if (!same) {
        m_cameraChooser->clear();
        for (const CameraChoice& choice : model.session().cameras())
            m_cameraChooser->addItem(choice.name, choice.id);
    }
    const int selected = m_cameraChooser->findData(model.session().selectedID());
    if (m_cameraChooser->currentIndex() != selected)
        m_cameraChooser->setCurrentIndex(selected);
    // Without any camera the picker says so instead of showing an empty box; the refresh
    // button next to it stays.
    const bool none = model.session().cameras().isEmpty();
    m_cameraChooser->setPlaceholderText(none ? QStringLiteral("No camera found") : QString());
    m_cameraChooser->setEnabled(!none);

    style::setTextIfChanged(*m_caption, cameraCaption(model));

    const CameraPreview::Placeholder placeholder = model.session().paused() ? CameraPreview::Placeholder::cameraPaused
        : !model.session().active()                                          ? CameraPreview::Placeholder::cameraOff
                                                                   : CameraPreview::Placeholder::none;
    m_preview->setPlaceholder(placeholder);
    m_guide->setVisible(placeholder == CameraPreview::Placeholder::none);
    m_guide->setPoints(model.landmarks());
    m_guide->setAspect(model.frameAspect());
    m_guide->setBaseline(guideBaseline(model));
}

void PosturePage::refreshHeightBlock()
{
    const CameraModel& model = m_model;
    const bool active = model.session().active();
    const bool paused = model.session().paused();
    const bool loading = model.session().loading();
    const ZoneState state = model.state();
    const SetupStage stage = model.setup().stage();
    const bool error = state == ZoneState::error;

    m_pausedHeader->setVisible(paused);

    // A pause the user did not make says why it happened and when it ends.
    const std::optional<PauseReason> reason = model.session().pauseReason();
    const bool pausedForThem = paused && reason && *reason != PauseReason::user;
    const bool showMessage = pausedForThem
        || (!paused
            && (loading || error
                || (active
                    && (model.bottomExitHeld() || !model.score() || stage == SetupStage::heightSetup
                        || state == ZoneState::lost))));
    style::setTextIfChanged(*m_message, model.message());
    m_message->setVisible(showMessage && !model.message().isEmpty());

    const bool showHint = !active && !loading && !paused && !error;
    style::setTextIfChanged(*m_inactiveHint, model.hasSavedCalibration()
                                                 ? QStringLiteral("Turn Camera on to resume.")
                                                 : QStringLiteral("Choose a camera, then turn Camera on to set your height."));
    m_inactiveHint->setVisible(showHint);

    m_persistence->setMessage(model.persistenceMessage());

    m_progress->setVisible(model.setup().capturing());
    m_progress->setValue(int(std::lround(std::clamp(model.setup().progress(), 0.0, 1.0) * 1000)));

    const bool showMeter = stage == SetupStage::review || stage == SetupStage::monitoring
        || (!active && model.hasSavedCalibration());
    m_meter->setVisible(showMeter);
    if (showMeter) {
        const std::optional<double> score = active && !paused && model.hasPose() ? model.score() : std::nullopt;
        m_meter->setScore(score);
        m_meter->setLevels(model.setup().yellow(), model.setup().red());
        m_meter->setInactiveStatus(inactiveTrackingStatus(model));
    }

    bool primaryShown = false;
    bool primaryEnabled = true;
    bool secondaryShown = false;
    if (active && stage == SetupStage::heightSetup) {
        primaryShown = true;
        style::setTextIfChanged(*m_primary,
                                model.setup().capturing() ? QStringLiteral("Hold still…") : QStringLiteral("Set my height"));
        setHelp(m_primary, QStringLiteral("Sit comfortably, then hold still for three seconds."));
        primaryEnabled = model.hasPose() && !model.setup().capturing();
    } else if (active && stage == SetupStage::review) {
        primaryShown = secondaryShown = true;
        style::setTextIfChanged(*m_primary, QStringLiteral("Try saving again"));
        setHelp(m_primary, QStringLiteral("Save your height and levels."));
        primaryEnabled =
            model.hasPose() && !paused && isValidThresholdPair(model.setup().yellow(), model.setup().red());
        style::setTextIfChanged(*m_secondary, QStringLiteral("Set my height again"));
        setHelp(m_secondary, QStringLiteral("Capture your comfortable height again."));
    } else if (active && stage == SetupStage::monitoring) {
        primaryShown = secondaryShown = true;
        style::setTextIfChanged(*m_primary, paused ? QStringLiteral("Resume") : QStringLiteral("Pause"));
        setHelp(m_primary, paused ? QStringLiteral("Turn the camera and reminders back on.")
                                     : QStringLiteral("Pause the camera and reminders."));
        style::setTextIfChanged(*m_secondary, QStringLiteral("Reset height"));
        setHelp(m_secondary, QStringLiteral("Set your comfortable height again. Your saved height is kept until you finish."));
    }
    const bool goBackShown = model.setup().canUndoHeightReset();

    // A button that goes away or greys out under the keyboard focus would send it to the
    // page switcher at the top of the window: it stays in the height block instead, on the
    // first button still usable once the block has changed.
    QWidget* const focused = QApplication::focusWidget();
    const bool focusLost = (focused == m_primary && (!primaryShown || !primaryEnabled))
        || (focused == m_secondary && !secondaryShown) || (focused == m_goBack && !goBackShown);
    if (focusLost)
        m_heightBlock->setFocus(Qt::OtherFocusReason);

    m_goBack->setVisible(goBackShown);
    m_primary->setEnabled(primaryEnabled);
    m_primary->setVisible(primaryShown);
    m_secondary->setVisible(secondaryShown);
    fitActions();

    if (focusLost || QApplication::focusWidget() == m_heightBlock) {
        for (QPushButton* button : {m_primary, m_secondary, m_goBack}) {
            if (button->isVisibleTo(m_heightBlock) && button->isEnabled()) {
                button->setFocus(Qt::OtherFocusReason);
                break;
            }
        }
    }

    const std::optional<double> pauseUntil = model.session().pauseUntil();
    const bool showResume = active && stage == SetupStage::monitoring && pauseUntil.has_value();
    if (showResume)
        style::setTextIfChanged(*m_resumesAt, resumesAtText(*pauseUntil));
    m_resumesAt->setVisible(showResume);
}

} // namespace verticora
