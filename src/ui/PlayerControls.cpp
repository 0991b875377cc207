#include "ui/PlayerControls.h"

#include "platform/LogCategories.h"
#include "player/PlayerEngine.h"
#include "ui/BezelButton.h"
#include "ui/FavouritesFolder.h"
#include "ui/FloatSlider.h"
#include "ui/ImageView.h"
#include "ui/LayerView.h"
#include "ui/PanelStyle.h"
#include "ui/RenderPanels.h"
#include "ui/ScreenMetrics.h"
#include "ui/SegmentedControl.h"
#include "ui/SharingPicker.h"

#include <QApplication>
#include <QFileInfo>
#include <QLabel>
#include <QProgressBar>
#include <QTimer>
#include <QUrl>

#include <algorithm>
#include <cmath>

namespace qr {

namespace {

QLabel* makeLabel(QWidget* parent, const QFont& font)
{
    auto* l = new QLabel(parent);
    l->setFont(font);
    l->setAlignment(Qt::AlignCenter);
    l->setTextInteractionFlags(Qt::NoTextInteraction);
    l->setAttribute(Qt::WA_TransparentForMouseEvents);
    l->setStyleSheet(QStringLiteral("QLabel { color: white; background: transparent; border: none; }"));
    return l;
}

} // namespace

PlayerControls::PlayerControls(const ScreenMetrics* metrics, RenderPanels* panels)
    : m_metrics(metrics), m_panels(panels), m_progressTimer(std::make_unique<QTimer>())
{
    m_progressTimer->setSingleShot(true);
    QObject::connect(m_progressTimer.get(), &QTimer::timeout, m_progressTimer.get(),
                     [this] { showLatestProgress(); });
}

PlayerControls::~PlayerControls() = default;

QWidget* PlayerControls::panel() const
{
    return m_panels->renderView(4);
}

QWidget* PlayerControls::mainDisplay() const
{
    return m_panels->renderView(1);
}

ControlsGeometry PlayerControls::geometry() const
{
    const PointRect& r = m_panels->frame(4);
    return ControlsLayout::compute(r.width, r.height, m_metrics->screenScaleFactor);
}

void PlayerControls::placeInPanel(QWidget* w, const PointRect& r) const
{
    if (w && panel())
        w->setGeometry(qtRect(r, m_panels->frame(4).height));
}

void PlayerControls::addToPanel(QWidget* w) const
{
    if (w && w->parentWidget()) {
        w->show();
        w->raise();
    }
}

void PlayerControls::removeFromSuperview(QWidget* w)
{
    if (!w)
        return;
    // Focus must not wander to the next control when this one goes: it returns to the display, so
    // the transport keys keep working.
    QWidget* focus = QApplication::focusWidget();
    if (focus && (focus == w || w->isAncestorOf(focus)))
        if (QWidget* display = w->parentWidget() ? w->parentWidget()->parentWidget() : nullptr)
            display->setFocus(Qt::OtherFocusReason);
    w->hide();
}

QPushButton* PlayerControls::playlistButton() const
{
    return _playlistButton;
}
QPushButton* PlayerControls::toolsButton() const
{
    return _toolsButton;
}
QPushButton* PlayerControls::resetSlidersButton() const
{
    return _resetSlidersButton;
}
QPushButton* PlayerControls::saveAsPresetButton() const
{
    return _saveAsPresetButton;
}
QPushButton* PlayerControls::shareFavPhotosButton() const
{
    return _shareFavPhotosButton;
}

// --- Playlist panel ---

void PlayerControls::configGeneratePlaylistButton()
{
    if (!panel())
        return;
    const ControlsGeometry g = geometry();
    delete _playlistLabel;
    _playlistLabel = makeLabel(panel(), arialBoldItalic(static_cast<int>(g.captionFontSize)));
    _playlistLabel->setText(QStringLiteral("Portrait Sets in ~/Downloads"));
    _playlistLabel->setAccessibleName(_playlistLabel->text());
    placeInPanel(_playlistLabel, g.caption);
    addToPanel(_playlistLabel);

    delete _playlistButton;
    _playlistButton = new BezelButton(QStringLiteral("Generate Playlist"), panel());
    _playlistButton->setAccessibleName(QStringLiteral("Generate Playlist"));
    _playlistButton->setToolTip(QStringLiteral("Build the playlist from the photo sets in Downloads"));
    QObject::connect(_playlistButton, &QPushButton::clicked, _playlistButton,
                     [this] { generatePlaylistButtonAction(); });
    placeInPanel(_playlistButton, g.generatePlaylist);
    addToPanel(_playlistButton);
    configPassProgress();
}

void PlayerControls::configJpegHeicRgbAllSeg()
{
    if (!panel())
        return;
    const ControlsGeometry g = geometry();
    delete _jpegHeicRgbAllSeg;
    _jpegHeicRgbAllSeg = new SegmentedControl(
        {QStringLiteral("JPEG"), QStringLiteral("HEIC"), QStringLiteral("RGB"), QStringLiteral("ALL")},
        panel());
    _jpegHeicRgbAllSeg->setAccessibleName(QStringLiteral("Photo format"));
    PointRect frame = g.formatSelector;
    if (g.fitFormatSelector) {
        const QSize fit = _jpegHeicRgbAllSeg->sizeHint();
        frame = ControlsLayout::fitted(frame, fit.width(), fit.height(), m_panels->frame(4).width);
    }
    placeInPanel(_jpegHeicRgbAllSeg, frame);
    if (m_engine)
        m_engine->state()._jpegHeicRgbAllSegMode = 3;
    _jpegHeicRgbAllSeg->setSelectedSegment(3);
    QObject::connect(_jpegHeicRgbAllSeg, &SegmentedControl::segmentSelected, _jpegHeicRgbAllSeg,
                     [this](int i) { jpegHeicRgbAllSegAction(i); });
    addToPanel(_jpegHeicRgbAllSeg);
}

void PlayerControls::configFifoLifoSeg()
{
    if (!panel())
        return;
    const ControlsGeometry g = geometry();
    delete _fifoLifoSeg;
    _fifoLifoSeg = new SegmentedControl({QStringLiteral("FIFO"), QStringLiteral("LIFO")}, panel());
    _fifoLifoSeg->setAccessibleName(QStringLiteral("Playlist order"));
    const QSize fit = _fifoLifoSeg->sizeHint();
    placeInPanel(_fifoLifoSeg, ControlsLayout::fitted(g.orderSelector, fit.width(), fit.height(),
                                                      m_panels->frame(4).width));
    if (m_engine)
        m_engine->state()._fifoLifoSegMode = 1;
    _fifoLifoSeg->setSelectedSegment(1);
    QObject::connect(_fifoLifoSeg, &SegmentedControl::segmentSelected, _fifoLifoSeg,
                     [this](int i) { fifoLifoSegAction(i); });
    addToPanel(_fifoLifoSeg);
}

void PlayerControls::jpegHeicRgbAllSegAction(int selected)
{
    if (selected >= 0 && selected < 4 && m_engine)
        m_engine->state()._jpegHeicRgbAllSegMode = selected;
}

void PlayerControls::fifoLifoSegAction(int selected)
{
    if ((selected == 0 || selected == 1) && m_engine)
        m_engine->state()._fifoLifoSegMode = selected;
}

void PlayerControls::generatePlaylistButtonAction()
{
    if (stopPlaylistPass())
        return;
    removeFromSuperview(_playlistButton);
    if (!m_engine)
        return;
    m_nothingPlayable.clear();
    delete _nothingPlayableLabel;
    m_engine->generatePlaylistButtonAction();
    m_passState = PassState::Running;
    m_latestProgress = PlaylistProgress();
    m_progressTimer->stop();
    m_progressShown.invalidate();
    qCDebug(lcPlaylist) << "pass started";
    showLatestProgress();
    // The first reports follow at once.
    m_progressShown.invalidate();
}

bool PlayerControls::stopPlaylistPass()
{
    if (!m_engine || !m_engine->stopPlaylistPass())
        return false;
    m_passState = PassState::Stopping;
    m_progressTimer->stop();
    refreshPassWidgets();
    return true;
}

// --- Playlist pass progress ---

QString PlayerControls::progressText(const PlaylistProgress& p)
{
    // The item being worked on: "3 of 12" while the third is under way; the total once all are done.
    const int current = std::min(p.done + 1, p.total);
    const auto counted = [](int n, const char* one, const char* many) {
        return QStringLiteral("%1 %2").arg(n).arg(QLatin1String(n == 1 ? one : many));
    };
    switch (p.phase) {
    case PlaylistProgress::Phase::Listing:
        return QStringLiteral("Looking through Downloads");
    case PlaylistProgress::Phase::Unpacking:
        return QStringLiteral("Unpacking %1 of %2")
            .arg(current)
            .arg(counted(p.total, "container", "containers"));
    case PlaylistProgress::Phase::Decompressing:
        return QStringLiteral("Decompressing %1 of %2")
            .arg(current)
            .arg(counted(p.total, "raw frame", "raw frames"));
    case PlaylistProgress::Phase::Checking:
        return QStringLiteral("Checking %1").arg(counted(p.total, "set", "sets"));
    }
    return {};
}

QString PlayerControls::nothingPlayableText(const QString& rejection)
{
    const QString line =
        QStringLiteral("No signed set of at least %1 photos found").arg(Playlist::kMinPhotosPerSet);
    return rejection.isEmpty() ? line : QStringLiteral("%1 (most often: %2)").arg(line, rejection);
}

void PlayerControls::configPassProgress()
{
    const ControlsGeometry g = geometry();
    delete _passStatusLabel;
    _passStatusLabel = makeLabel(panel(), arialBoldItalic(static_cast<int>(g.passStatusFontSize)));
    _passStatusLabel->setObjectName(QStringLiteral("passStatusLabel"));
    placeInPanel(_passStatusLabel, g.passStatus);
    _passStatusLabel->hide();

    delete _passProgressBar;
    _passProgressBar = new QProgressBar(panel());
    _passProgressBar->setObjectName(QStringLiteral("passProgressBar"));
    _passProgressBar->setAccessibleName(QStringLiteral("Playlist progress"));
    _passProgressBar->setToolTip(QStringLiteral("Escape stops the pass"));
    _passProgressBar->setTextVisible(false);
    const Rgba& a = PanelStyle::accent;
    _passProgressBar->setStyleSheet(
        QStringLiteral(
            "QProgressBar { background: rgba(255, 255, 255, 60); border: none; border-radius: 3px; }"
            "QProgressBar::chunk { background: rgb(%1, %2, %3); border-radius: 3px; }")
            .arg(qRound(a.r * 255))
            .arg(qRound(a.g * 255))
            .arg(qRound(a.b * 255)));
    placeInPanel(_passProgressBar, g.passProgress);
    _passProgressBar->hide();
    showLatestProgress();
}

void PlayerControls::playlistProgress(const PlaylistProgress& progress)
{
    if (m_passState != PassState::Running)
        return;
    m_latestProgress = progress;
    // The bar follows every report (the engine coalesces them); the text changes a few times a second.
    showProgressBar();
    if (m_progressTimer->isActive())
        return;
    const qint64 since = m_progressShown.isValid() ? m_progressShown.elapsed() : kProgressIntervalMs;
    if (since >= kProgressIntervalMs)
        showLatestProgress();
    else
        m_progressTimer->start(static_cast<int>(kProgressIntervalMs - since));
}

void PlayerControls::showLatestProgress()
{
    if (m_passState == PassState::Running) {
        m_progressShown.start();
        if (_passStatusLabel)
            _passStatusLabel->setText(progressText(m_latestProgress));
        qCDebug(lcPlaylist).noquote() << "progress shown:" << progressText(m_latestProgress);
        showProgressBar();
    }
    refreshPassWidgets();
}

void PlayerControls::showProgressBar()
{
    if (!_passProgressBar)
        return;
    // Per mille of the phase, parts of the frames under way included.
    constexpr int kSteps = 1000;
    if (_passProgressBar->maximum() != kSteps)
        _passProgressBar->setRange(0, kSteps);
    const int value = static_cast<int>(std::lround(std::clamp(m_latestProgress.fraction, 0.0, 1.0) * kSteps));
    if (_passProgressBar->value() != value) {
        _passProgressBar->setValue(value);
        qCDebug(lcPlaylist) << "progress bar:" << value << "of" << kSteps;
    }
}

void PlayerControls::setsReadyChanged(int ready, int total)
{
    if (total <= 0)
        m_setsReady.clear();
    else if (ready < total || !m_setsReady.isEmpty())
        m_setsReady = QStringLiteral("%1 of %2 sets ready").arg(ready).arg(total);
    refreshPassWidgets();
}

void PlayerControls::refreshPassWidgets()
{
    if (_passStatusLabel) {
        if (m_passState == PassState::Idle && !m_setsReady.isEmpty())
            _passStatusLabel->setText(m_setsReady);
        else if (m_passState == PassState::Stopping)
            _passStatusLabel->setText(QStringLiteral("Stopping after the file at hand\u2026"));
        else if (m_passState == PassState::Stopped)
            _passStatusLabel->setText(m_stopReason.isEmpty() ? QStringLiteral("Stopped; no playlist made")
                                                             : m_stopReason);
        _passStatusLabel->setAccessibleName(_passStatusLabel->text());
    }
    const bool playlistPanel = !_toolsEn;
    const bool busy = m_passState == PassState::Running || m_passState == PassState::Stopping;
    if (_passStatusLabel) {
        if (playlistPanel && (m_passState != PassState::Idle || !m_setsReady.isEmpty()))
            addToPanel(_passStatusLabel);
        else
            _passStatusLabel->hide();
    }
    // The bar takes the Generate Playlist button's place; a rebuild during the pass brings the button
    // back (pressing it then stops the pass), and the bar yields to it.
    if (_passProgressBar) {
        if (playlistPanel && busy && (!_playlistButton || _playlistButton->isHidden()))
            addToPanel(_passProgressBar);
        else
            _passProgressBar->hide();
    }
}

void PlayerControls::playlistPassEnded(PassEnd end, const QString& rejection)
{
    m_progressTimer->stop();
    m_stopReason = end == PassEnd::Stopped ? rejection : QString();
    if (end == PassEnd::Stopped) {
        m_passState = PassState::Stopped;
        if (!_toolsEn)
            addToPanel(_playlistButton);
    } else {
        m_passState = PassState::Idle;
    }
    refreshPassWidgets();
    if (end == PassEnd::NothingPlayable) {
        m_nothingPlayable = nothingPlayableText(rejection);
        configView1Labels();
    }
}

// --- Tools ---

void PlayerControls::configToolsButton()
{
    if (!panel())
        return;
    delete _toolsButton;
    _toolsButton = new BezelButton(QStringLiteral("Tools"), panel());
    _toolsButton->setAccessibleName(QStringLiteral("Tools"));
    _toolsButton->setToolTip(QStringLiteral("Switch between the playlist and the playback tools"));
    _toolsButton->hide();
    QObject::connect(_toolsButton, &QPushButton::clicked, _toolsButton, [this] { toolsButtonAction(); });
    placeInPanel(_toolsButton, geometry().tools);
}

void PlayerControls::addToolsButton()
{
    addToPanel(_toolsButton);
}

void PlayerControls::toolsButtonAction()
{
    for (QWidget* w : std::initializer_list<QWidget*>{
             _playlistLabel, _jpegHeicRgbAllSeg, _fifoLifoSeg, _playlistButton, _zoomInSlider, _xSlider,
             _ySlider, _speedSlider, _resetSlidersButton, _saveAsPresetButton, _shareFavPhotosButton})
        removeFromSuperview(w);
    if (_toolsEn) {
        _toolsEn = false;
        if (_toolsButton) {
            _toolsButton->setText(QStringLiteral("Tools"));
            _toolsButton->setAccessibleName(QStringLiteral("Tools"));
        }
        for (QWidget* w : std::initializer_list<QWidget*>{_playlistLabel, _jpegHeicRgbAllSeg, _fifoLifoSeg,
                                                          _playlistButton})
            addToPanel(w);
    } else {
        _toolsEn = true;
        if (_toolsButton) {
            _toolsButton->setText(QStringLiteral("<-"));
            _toolsButton->setAccessibleName(QStringLiteral("Back to the playlist panel"));
        }
        for (QWidget* w : std::initializer_list<QWidget*>{_zoomInSlider, _xSlider, _ySlider, _speedSlider,
                                                          _resetSlidersButton})
            addToPanel(w);
        if (!m_engine || !m_engine->renderTimerRunning())
            showFavouriteButtons();
    }
    refreshPassWidgets();
}

// --- Sliders ---

void PlayerControls::styleSlider(FloatSlider* s, const QString& name) const
{
    s->setAccessibleName(name);
    s->setToolTip(name);
    s->setStyleSheet(QStringLiteral(
        "QSlider { background: rgb(210, 77, 87); border-radius: 3px; }"
        "QSlider::groove:horizontal { height: 4px; margin: 0px 6px; background: rgba(255, 255, 255, 110);"
        " border-radius: 2px; }"
        "QSlider::handle:horizontal { background: #f4f4f4; border: 1px solid #6c6c78; width: 12px;"
        " margin: -5px -6px; border-radius: 6px; }"
        "QSlider:focus { border: 1px solid #3b82f6; }"));
    s->hide();
}

void PlayerControls::configSliders()
{
    if (!panel())
        return;
    const ControlsGeometry g = geometry();
    delete _zoomInSlider;
    delete _xSlider;
    delete _ySlider;
    delete _speedSlider;
    const auto make = [&](const PointRect& frame, double min, double max, double start, const QString& name,
                          void (PlayerControls::*action)()) {
        auto* s = new FloatSlider(panel());
        s->setRange(min, max);
        s->setValue(start);
        styleSlider(s, name);
        placeInPanel(s, frame);
        QObject::connect(s, &FloatSlider::moved, s, [this, action] { (this->*action)(); });
        return s;
    };
    _zoomInSlider =
        make(g.zoomSlider, ControlsLayout::zoomMin, ControlsLayout::zoomMax, ControlsLayout::zoomStart,
             QStringLiteral("Zoom"), &PlayerControls::zoomInSliderAction);
    _xSlider = make(g.xSlider, ControlsLayout::panMin, ControlsLayout::panMax, ControlsLayout::panStart,
                    QStringLiteral("Pan X"), &PlayerControls::xSliderAction);
    _ySlider = make(g.ySlider, ControlsLayout::panMin, ControlsLayout::panMax, ControlsLayout::panStart,
                    QStringLiteral("Pan Y"), &PlayerControls::ySliderAction);
    _speedSlider =
        make(g.speedSlider, ControlsLayout::speedMin, ControlsLayout::speedMax, ControlsLayout::speedStart,
             QStringLiteral("Speed"), &PlayerControls::speedSliderAction);
    if (m_engine) {
        m_engine->state()._timerTimeInterval = 1.0f;
        m_engine->state()._playbackSpeed = 1;
    }
}

void PlayerControls::withTimerPaused(const std::function<void()>& work)
{
    const bool ran = m_engine && m_engine->stopRenderTimer();
    work();
    if (ran)
        m_engine->armRenderTimer();
}

bool PlayerControls::firstPhotoIsPortrait() const
{
    if (!m_engine)
        return false;
    const QSize s = m_engine->state()._image[0].size();
    return s.height() > s.width();
}

void PlayerControls::applyZoom(float z)
{
    const ScreenMetrics& m = *m_metrics;
    const ZoomGeometry g =
        ControlsLayout::zoom(z, m.outWidth, m.outHeight, m.verticalOffset, _imageOffsetW, _imageOffsetH);
    m_panels->setFrame(1, g.renderView1);
    if (ImageView* iv = m_panels->imageView(1))
        iv->setGeometry(qtRect(g.imageView1, g.renderView1.height));
    if (_photoNumLabel)
        _photoNumLabel->setGeometry(qtRect(g.photoNumLabel, g.renderView1.height));
    if (_playbackSpeedLabel)
        _playbackSpeedLabel->setGeometry(qtRect(g.playbackSpeedLabel, g.renderView1.height));
    if (m_zoomHook)
        m_zoomHook();
}

void PlayerControls::zoomInSliderAction()
{
    withTimerPaused([this] {
        if (_zoomInSlider && firstPhotoIsPortrait())
            applyZoom(static_cast<float>(_zoomInSlider->value()));
    });
}

void PlayerControls::xSliderAction()
{
    withTimerPaused([this] {
        if (!_xSlider || !firstPhotoIsPortrait())
            return;
        _imageOffsetW = m_metrics->outWidth * static_cast<float>(_xSlider->value());
        if (ImageView* iv = m_panels->imageView(1))
            iv->move(qtRect({_imageOffsetW, _imageOffsetH, 0, static_cast<double>(iv->height())},
                            m_panels->frame(1).height)
                         .topLeft());
    });
}

void PlayerControls::ySliderAction()
{
    withTimerPaused([this] {
        if (!_ySlider || !firstPhotoIsPortrait())
            return;
        _imageOffsetH = m_metrics->outHeight * static_cast<float>(_ySlider->value());
        if (ImageView* iv = m_panels->imageView(1))
            iv->move(qtRect({_imageOffsetW, _imageOffsetH, 0, static_cast<double>(iv->height())},
                            m_panels->frame(1).height)
                         .topLeft());
    });
}

void PlayerControls::speedSliderAction()
{
    withTimerPaused([this] {
        if (!_speedSlider || !m_engine)
            return;
        const SpeedStep s = ControlsLayout::speedFor(_speedSlider->value());
        m_engine->state()._playbackSpeed = s.playbackSpeed;
        m_engine->state()._timerTimeInterval = s.timerTimeInterval;
    });
}

void PlayerControls::configResetSlidersButton()
{
    if (!panel())
        return;
    const bool retina = m_metrics->screenScaleFactor == 2.0f;
    delete _resetSlidersButton;
    _resetSlidersButton =
        new BezelButton(retina ? QStringLiteral("Reset") : QStringLiteral("Reset\n Sliders"), panel());
    _resetSlidersButton->setAccessibleName(QStringLiteral("Reset sliders"));
    _resetSlidersButton->setToolTip(
        QStringLiteral("Zoom and pan back to none, speed back to 1 photo per second"));
    _resetSlidersButton->hide();
    QObject::connect(_resetSlidersButton, &QPushButton::clicked, _resetSlidersButton,
                     [this] { resetSlidersButtonAction(); });
    placeInPanel(_resetSlidersButton, geometry().reset);
}

void PlayerControls::resetSlidersButtonAction()
{
    if (_zoomInSlider) {
        _zoomInSlider->setValue(ControlsLayout::zoomStart);
        zoomInSliderAction();
    }
    if (_xSlider) {
        _xSlider->setValue(ControlsLayout::panStart);
        xSliderAction();
    }
    if (_ySlider) {
        _ySlider->setValue(ControlsLayout::panStart);
        ySliderAction();
    }
    if (_speedSlider)
        _speedSlider->setValue(ControlsLayout::speedStart);
    if (m_engine) {
        m_engine->state()._timerTimeInterval = 1.0f;
        m_engine->state()._playbackSpeed = 1;
    }
    speedSliderAction();
}

void PlayerControls::setZoomSliderMaximum(float maximum)
{
    if (_zoomInSlider)
        _zoomInSlider->setMaximum(maximum);
}

double PlayerControls::speedSliderValue() const
{
    return _speedSlider ? _speedSlider->value() : ControlsLayout::speedStart;
}

void PlayerControls::maxOutTheSliderAndImage()
{
    if (_zoomInSlider && m_engine) {
        const float width = static_cast<float>(m_engine->state()._image[0].width());
        const float out = m_metrics->outWidth;
        if (out > 0.0f) {
            // Stored in the slider, which keeps it within its range: a photo more than twice as wide
            // as a JPEG/HEIC display stops at 1, one narrower than the display at 0.
            _zoomInSlider->setValue(static_cast<float>((width - out) / out));
            zoomInSliderAction();
        }
    }
    if (m_engine && m_engine->state()._transactionToTheNextSetWillOccur) {
        m_engine->state()._transactionToTheNextSetWillOccur = false;
        if (_speedSlider)
            _speedSlider->setValue(m_engine->state()._speedSliderDoubleValue);
        speedSliderAction();
    }
}

// --- Labels ---

void PlayerControls::configView1Labels()
{
    QWidget* rv1 = mainDisplay();
    if (!rv1)
        return;
    delete _photoNumLabel;
    delete _playbackSpeedLabel;
    const double height = m_panels->frame(1).height;
    _photoNumLabel = makeLabel(rv1, arialBoldItalic(20));
    _photoNumLabel->setObjectName(QStringLiteral("photoNumLabel"));
    _photoNumLabel->setGeometry(qtRect(ControlsLayout::photoNumLabel(), height));
    _playbackSpeedLabel = makeLabel(rv1, arialBoldItalic(20));
    _playbackSpeedLabel->setObjectName(QStringLiteral("playbackSpeedLabel"));
    _playbackSpeedLabel->setGeometry(
        qtRect(ControlsLayout::playbackSpeedLabel(m_panels->frame(1).width), height));
    setPhotoNumText(QString());
    setPlaybackSpeedText(QString());
    for (QLabel* l : {_photoNumLabel.data(), _playbackSpeedLabel.data()}) {
        l->show();
        l->raise();
    }

    delete _nothingPlayableLabel;
    if (!m_nothingPlayable.isEmpty()) {
        const PointRect& frame = m_panels->frame(1);
        _nothingPlayableLabel = makeLabel(rv1, arialBoldItalic(16));
        _nothingPlayableLabel->setObjectName(QStringLiteral("nothingPlayableLabel"));
        _nothingPlayableLabel->setWordWrap(true);
        _nothingPlayableLabel->setText(m_nothingPlayable);
        _nothingPlayableLabel->setAccessibleName(m_nothingPlayable);
        _nothingPlayableLabel->setGeometry(
            qtRect({0.1 * frame.width, 0.5 * frame.height - 40.0, 0.8 * frame.width, 80.0}, height));
        _nothingPlayableLabel->show();
        _nothingPlayableLabel->raise();
    }
}

void PlayerControls::setPhotoNumText(const QString& text)
{
    if (!_photoNumLabel)
        return;
    // The name says what the label is; its figure is the description, as screen readers expect.
    _photoNumLabel->setText(text);
    _photoNumLabel->setAccessibleName(QStringLiteral("Photo number"));
    _photoNumLabel->setAccessibleDescription(text);
}

void PlayerControls::setPlaybackSpeedText(const QString& text)
{
    if (!_playbackSpeedLabel)
        return;
    _playbackSpeedLabel->setText(text);
    _playbackSpeedLabel->setAccessibleName(QStringLiteral("Photos per second"));
    _playbackSpeedLabel->setAccessibleDescription(text);
}

// --- Favourites ---

void PlayerControls::configSaveAsPresetButton()
{
    if (!panel())
        return;
    const bool retina = m_metrics->screenScaleFactor == 2.0f;
    delete _saveAsPresetButton;
    _saveAsPresetButton =
        new BezelButton(retina ? QStringLiteral("Copy") : QStringLiteral("Copy\n Fav Photo"), panel());
    _saveAsPresetButton->setAccessibleName(QStringLiteral("Copy photo into Favorites"));
    _saveAsPresetButton->setToolTip(QStringLiteral("Copy the photo shown into Favorites"));
    _saveAsPresetButton->hide();
    QObject::connect(_saveAsPresetButton, &QPushButton::clicked, _saveAsPresetButton,
                     [this] { copyFavPhotoAction(); });
    placeInPanel(_saveAsPresetButton, geometry().copy);
}

void PlayerControls::configShareFavPhotosButton()
{
    if (!panel())
        return;
    const bool retina = m_metrics->screenScaleFactor == 2.0f;
    delete _shareFavPhotosButton;
    _shareFavPhotosButton =
        new BezelButton(retina ? QStringLiteral("Share") : QStringLiteral("Share\n Fav Photo"), panel());
    _shareFavPhotosButton->setAccessibleName(QStringLiteral("Share favourite photo"));
    _shareFavPhotosButton->setToolTip(QStringLiteral("Share the latest favourite photo"));
    _shareFavPhotosButton->hide();
    // Fires when the button goes down, so the picker opens under the pointer at once.
    QObject::connect(_shareFavPhotosButton, &QPushButton::pressed, _shareFavPhotosButton,
                     [this] { shareFavPhotosAction(); });
    placeInPanel(_shareFavPhotosButton, geometry().share);
}

QList<QUrl> PlayerControls::shareItems() const
{
    QList<QUrl> items = FavouritesFolder::shareItems(_pathToFavoritesDir);
    if (!_sharedClip.isEmpty() && QFileInfo(_sharedClip).isFile())
        items.append(QUrl::fromLocalFile(_sharedClip));
    return items;
}

void PlayerControls::setSharedClip(const QString& path)
{
    _sharedClip = path;
    if (_saveAsPresetButton && !_saveAsPresetButton->isHidden() && !shareItems().isEmpty())
        addToPanel(_shareFavPhotosButton);
}

void PlayerControls::showFavouriteButtons()
{
    addToPanel(_saveAsPresetButton);
    if (!shareItems().isEmpty())
        addToPanel(_shareFavPhotosButton);
}

void PlayerControls::hideFavouriteButtons()
{
    removeFromSuperview(_saveAsPresetButton);
    removeFromSuperview(_shareFavPhotosButton);
}

void PlayerControls::copyFavPhotoAction()
{
    removeFromSuperview(_shareFavPhotosButton);
    if (m_engine) {
        const PlayerState& s = m_engine->state();
        const QStringList& list = s._listOfFilesForView[0];
        int32_t pid = s._view1RenderPid;
        // Before the set's first tick its first photo is on the main display once it has landed.
        if (pid == 0 && !s._image[0].isNull())
            pid = 1;
        // Before any photo has been shown there is nothing to copy.
        if (pid >= 1 && pid <= list.size())
            FavouritesFolder::copyInto(s._symbolicPath, list[pid - 1], _pathToFavoritesDir);
    }
    if (!shareItems().isEmpty())
        addToPanel(_shareFavPhotosButton);
}

void PlayerControls::shareFavPhotosAction()
{
    const QList<QUrl> items = shareItems();
    if (m_picker)
        m_picker->shareViaMessages(items, _shareFavPhotosButton);
}

QFont PlayerControls::arialBoldItalic(int pixelSize)
{
    // "Arial" resolves to a metric-compatible face (Liberation Sans) where Arial is not installed.
    QFont f(QStringLiteral("Arial"));
    f.setBold(true);
    f.setItalic(true);
    f.setPixelSize(pixelSize);
    return f;
}

} // namespace qr
