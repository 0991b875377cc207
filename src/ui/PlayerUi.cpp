#include "ui/PlayerUi.h"

#include "player/PhotoDecoder.h"
#include "player/PlayerEngine.h"
#include "ui/ControlsLayout.h"
#include "ui/ImageView.h"
#include "ui/LayerView.h"
#include "ui/PanelStyle.h"
#include "ui/PbCtlrView.h"
#include "ui/ResizeCalc.h"
#include "ui/ScreenMetrics.h"
#include "ui/SharingPicker.h"

#include <QAbstractButton>
#include <QAbstractSlider>
#include <QApplication>
#include <QKeyEvent>
#include <QLabel>

#include <algorithm>
#include <cmath>
#include <limits>

namespace qr {

PlayerUi::PlayerUi(QWidget* container, ScreenMetrics* metrics, QObject* parent)
    : QObject(parent), m_container(container), m_metrics(metrics), m_panels(container),
      m_controls(metrics, &m_panels), m_picker(std::make_unique<SharingPicker>())
{
    m_controls.setSharingPicker(m_picker.get());
    m_controls.setZoomHook([this] {
        if (ImageView* iv = m_panels.imageView(1); iv && !m_shown[0].isNull())
            iv->setImage(imageForMainDisplay(m_shown[0]));
    });
    // Clicking the display takes the keyboard focus back from a control. (The container itself keeps
    // its children at their distance from its bottom edge when it changes height.)
    if (m_container)
        m_container->setFocusPolicy(Qt::ClickFocus);
}

PlayerUi::~PlayerUi()
{
    if (qApp)
        qApp->removeEventFilter(this);
    delete m_bar;
    delete m_repeatSetLabel;
}

void PlayerUi::setEngine(PlayerEngine* engine)
{
    m_engine = engine;
    m_controls.setEngine(engine);
    if (!engine)
        return;
    connect(engine, &PlayerEngine::playlistProgress, this,
            [this](const PlaylistProgress& p) { m_controls.playlistProgress(p); });
    connect(engine, &PlayerEngine::playlistPassEnded, this,
            [this](PlayerEngine::PassEnd end, const QString& rejection) {
                m_controls.playlistPassEnded(
                    end == PlayerEngine::PassEnd::Stopped           ? PlayerControls::PassEnd::Stopped
                    : end == PlayerEngine::PassEnd::NothingPlayable ? PlayerControls::PassEnd::NothingPlayable
                                                                    : PlayerControls::PassEnd::Played,
                    rejection);
            });
    connect(engine, &PlayerEngine::setsReadyChanged, this,
            [this](int ready, int total) { m_controls.setsReadyChanged(ready, total); });
}

void PlayerUi::setRenderViewHooks(std::function<void()> afterView1, std::function<void()> afterView4)
{
    m_afterView1 = std::move(afterView1);
    m_afterView4 = std::move(afterView4);
}

LayoutMode PlayerUi::mode() const
{
    return m_mode ? m_mode() : LayoutMode{};
}

double PlayerUi::devicePixelRatio() const
{
    return m_container ? m_container->devicePixelRatioF() : 1.0;
}

PanelFrames PlayerUi::currentFrames() const
{
    const LayoutMode m = mode();
    if (m.mvcModeEn)
        return DisplayLayout::mvc(m.mvcPresentationMode, m_metrics->screenWidth, m_metrics->screenHeight,
                                  m_metrics->verticalOffset);
    return DisplayLayout::mediaPlayer(m_metrics->outWidth, m_metrics->outHeight, m_metrics->verticalOffset,
                                      m_metrics->screenWidth);
}

// --- Panels ---

void PlayerUi::configRenderView1()
{
    const LayoutMode m = mode();
    // Render view 1 fixes the layout of the group: the container's frame and, in MVC, _frame2.
    m_frames = currentFrames();
    m_panels.configRenderView(1, m_frames.renderView[0], m.mvcToggleColorsMode && m.mvcModeEn);
    if (!m.mvcModeEn && m.mediaPlayerModeEn)
        configRepeatSetLabel();
    if (m_afterView1)
        m_afterView1();
}

void PlayerUi::configRenderView2()
{
    const LayoutMode m = mode();
    m_panels.configRenderView(2, m_frames.renderView[1], m.mvcToggleColorsMode && m.mvcModeEn);
}

void PlayerUi::configRenderView3()
{
    const LayoutMode m = mode();
    m_panels.configRenderView(3, m_frames.renderView[2], m.mvcToggleColorsMode && m.mvcModeEn);
}

void PlayerUi::configRenderView4()
{
    m_panels.configRenderView(4, m_frames.renderView[3], false);
    if (m_afterView4)
        m_afterView4();
    if (m_bar)
        m_bar->raise();
    if (m_repeatSetLabel)
        m_repeatSetLabel->raise();
    m_container->setFocus(Qt::OtherFocusReason);
}

void PlayerUi::configRepeatSetLabel()
{
    delete m_repeatSetLabel;
    auto* label = new QLabel(m_container);
    label->setObjectName(QStringLiteral("repeatSetLabel"));
    label->setFont(PlayerControls::arialBoldItalic(20));
    label->setAlignment(Qt::AlignCenter);
    label->setAttribute(Qt::WA_TransparentForMouseEvents);
    label->setText(QString::fromUtf16(u"\u21BA\uFE0E"));
    const PointRect& rv1 = m_panels.frame(1);
    label->setGeometry(qtRect({rv1.width - 15.0, rv1.height - 35.0, 30.0, 30.0}, m_container->height()));
    m_repeatSetLabel = label;
    setRepeatLabelColour(m_engine && m_engine->state()._repeatSetEn);
    label->show();
    label->raise();
}

void PlayerUi::setRepeatLabelColour(bool repeatOn)
{
    if (!m_repeatSetLabel)
        return;
    m_repeatSetLabel->setStyleSheet(QStringLiteral("QLabel { color: %1; background: transparent; }")
                                        .arg(repeatOn ? QStringLiteral("yellow") : QStringLiteral("white")));
    m_repeatSetLabel->setAccessibleName(repeatOn ? QStringLiteral("Repeat on")
                                                 : QStringLiteral("Repeat off"));
}

// --- Controller bar ---

void PlayerUi::createControllerBar()
{
    const float scale = m_metrics->screenScaleFactor;
    delete m_bar;
    m_controls.resetSlidersButtonAction();
    auto* bar = new PbCtlrView(m_container);
    bar->setObjectName(QStringLiteral("pbCtlrView"));
    bar->setDelegate(m_barDelegate);
    bar->setBackgroundColour(PanelStyle::controllerBar);
    bar->setCornerRadius(3.0);
    bar->_shiftAdjust = DisplayLayout::controllerBarShiftAdjust(scale);
    m_bar = bar;
    placeControllerBar();
    bar->configTheCtlr(static_cast<float>(m_panels.frame(1).width), 1.0f);
    bar->show();
    bar->raise();
}

void PlayerUi::placeControllerBar()
{
    if (!m_bar)
        return;
    // The bar keeps its size; its origin follows the newly built main display.
    const PointRect frame =
        DisplayLayout::controllerBarFrame(m_metrics->screenScaleFactor, m_frames.renderView[0].width);
    m_bar->setGeometry(qtRect(frame, m_container->height()));
    m_bar->raise();
}

// --- Resize ---

QSize PlayerUi::windowWillResize(QSize proposed, float screenScaleFactor, double menuBarHeight)
{
    ScreenMetrics& m = *m_metrics;
    m.screenScaleFactor = screenScaleFactor;
    const ResizeResult r =
        ResizeCalc::compute(proposed.width(), proposed.height(), screenScaleFactor, menuBarHeight);
    if (r.screenHeight)
        m.screenHeight = *r.screenHeight;
    m.outHeight = r.outHeight;
    m.outWidth = r.outWidth;
    m.verticalOffset = r.verticalOffset;
    m.screenWidth = r.screenWidth;

    if (mode().mvcModeEn) {
        // The capture tiling fills the area below the menu bar, as at start; the height kept from
        // the first layout would put the panels' tops out of a smaller window.
        m.screenHeight = static_cast<int32_t>(proposed.height() - menuBarHeight);
        rebuildCaptureLayout();
        return QSize(static_cast<int>(std::lround(r.width)), static_cast<int>(std::lround(r.height)));
    }

    // The photos on show survive the rebuild; the side previews are fitted again from their source.
    const std::array<PhotoImage, 3> shown = m_shown;
    const QImage shownImage1 = m_panels.imageView(1) ? m_panels.imageView(1)->image() : QImage();
    m_panels.removeAll();

    configRenderView1();
    configRenderView2();
    configRenderView3();
    configRenderView4();

    if (!(m_engine && m_engine->renderTimerRunning()) && m_panels.imageView(1))
        m_panels.imageView(1)->setImage(shown[0].isNull() ? shownImage1 : imageForMainDisplay(shown[0]));
    m_shown[0] = shown[0];
    for (int view = 2; view <= 3; ++view) {
        const PhotoImage& photo = shown[static_cast<size_t>(view - 1)];
        if (!photo.isNull())
            showImage(view, photo);
    }

    m_controls.configGeneratePlaylistButton();
    m_controls.configJpegHeicRgbAllSeg();
    m_controls.configFifoLifoSeg();
    m_controls.configToolsButton();
    m_controls.configView1Labels();
    m_controls._imageOffsetW = 0.0f;
    m_controls._imageOffsetH = 0.0f;
    m_controls.configSliders();
    m_controls.configResetSlidersButton();
    m_controls.configSaveAsPresetButton();
    m_controls.configShareFavPhotosButton();

    // Shows again the panel (playlist or tools) that was showing.
    m_controls._toolsEn = !m_controls._toolsEn;
    m_controls.toolsButtonAction();
    m_controls.addToolsButton();

    placeControllerBar();
    if (m_repeatSetLabel)
        m_repeatSetLabel->raise();

    m_controls.maxOutTheSliderAndImage();
    return QSize(static_cast<int>(std::lround(r.width)), static_cast<int>(std::lround(r.height)));
}

void PlayerUi::rebuildCaptureLayout()
{
    // Capture mode rebuilds its panels and control strip for the new size and nothing of the
    // player's: the player's controls would lie over the shutter buttons and the frame-rate labels
    // and do nothing in this mode. Each position keeps the frame it shows, as it is (a capture frame
    // is fitted by its view, not cropped like a side preview).
    std::array<QImage, 3> shown;
    for (int view = 1; view <= 3; ++view) {
        if (const ImageView* iv = m_panels.imageView(view))
            shown[static_cast<size_t>(view - 1)] = iv->image();
    }
    m_panels.removeAll();
    configRenderView1();
    configRenderView2();
    configRenderView3();
    configRenderView4();
    for (int view = 1; view <= 3; ++view) {
        if (ImageView* iv = m_panels.imageView(view))
            iv->setImage(shown[static_cast<size_t>(view - 1)]);
    }
}

QImage PlayerUi::resizeImage(const QImage& image) const
{
    return RenderPanels::resizeImage(image, m_frames.widthOfTheRightColumn, m_frames.container.height,
                                     devicePixelRatio());
}

// --- What the engine drives ---

QImage PlayerUi::imageForMainDisplay(const PhotoImage& image) const
{
    if (image.isNull())
        return {};
    QImage shown = image.displayImage();
    if (shown.isNull()) {
        // A bitmap is at hand; a file photo is never decoded here, on the main thread: the display
        // keeps what it shows until its prepared copy lands.
        return image.kind() == PhotoImage::Kind::Bitmap ? image.fullImage() : QImage();
    }
    const QSize natural = image.size();
    const double dpr = devicePixelRatio();
    // Zoomed past the copy's resolution, the view paints from more pixels: a raw frame's full bitmap
    // (so the largest zoom shows the frame 1:1), or a larger copy of a JPEG or HEIC photo, prepared
    // off the main thread. Until it lands the copy stands in, painted no larger than kMaxStretch
    // times its own pixels: a smaller sharp photo rather than a blurred one.
    const ImageView* iv = m_panels.imageView(1);
    bool limitStretch = false;
    if (iv && natural.width() > 0) {
        const QSize needed =
            PhotoDecoder::fittedSize(natural, QSize(static_cast<int>(std::ceil(iv->width() * dpr)),
                                                    static_cast<int>(std::ceil(iv->height() * dpr))));
        // A copy within kCoverSlack of the view serves for it.
        if (PhotoDecoder::kCoverSlack * needed.width() > shown.width()) {
            if (image.kind() == PhotoImage::Kind::Bitmap) {
                if (const QImage full = image.fullImage(); !full.isNull())
                    return full;
                // A raw frame still being converted: the one on screen goes first.
                if (m_engine)
                    m_engine->prepareFullFrameFirst(std::max(m_engine->state()._view1RenderPid, 1));
                limitStretch = true;
            } else if (const QImage larger = image.largerImage(); !larger.isNull()) {
                // A larger copy made for a smaller zoom helps until the one asked for lands.
                if (larger.width() < needed.width()) {
                    if (m_engine)
                        m_engine->prepareLargerCopy(image, needed);
                    limitStretch = true;
                }
                if (larger.width() > shown.width())
                    shown = larger;
            } else {
                if (m_engine)
                    m_engine->prepareLargerCopy(image, needed);
                limitStretch = true;
            }
        }
    }
    // A copy stands in for the whole photo: it is shown at the photo's own size, or at most
    // kMaxStretch times its pixels where that is smaller.
    if (natural.width() > 0 && shown.width() > 0) {
        double ratio = static_cast<double>(shown.width()) / natural.width();
        if (limitStretch)
            ratio = std::max(ratio, dpr / kMaxStretch);
        shown.setDevicePixelRatio(ratio);
    }
    return shown;
}

void PlayerUi::showImage(int view, const PhotoImage& image)
{
    if (view < 1 || view > 3)
        return;
    m_shown[static_cast<size_t>(view - 1)] = image;
    ImageView* iv = m_panels.imageView(view);
    if (!iv)
        return;
    if (view == 1)
        iv->setImage(imageForMainDisplay(image));
    else
        iv->setImage(resizeImage(image.displayImage().isNull() && image.kind() == PhotoImage::Kind::Bitmap
                                     ? image.fullImage()
                                     : image.displayImage()));
}

void PlayerUi::setPhotoNumText(const QString& text)
{
    m_controls.setPhotoNumText(text);
}

void PlayerUi::setPlaybackSpeedText(const QString& text)
{
    m_controls.setPlaybackSpeedText(text);
}

void PlayerUi::recreateControllerBar()
{
    createControllerBar();
}

void PlayerUi::resetSliders()
{
    m_controls.resetSlidersButtonAction();
}

void PlayerUi::maxOutTheSliderAndImage(const PhotoImage&)
{
    m_controls.maxOutTheSliderAndImage();
}

void PlayerUi::setZoomSliderMaximum(float maximum)
{
    m_controls.setZoomSliderMaximum(maximum);
}

double PlayerUi::speedSliderValue() const
{
    return m_controls.speedSliderValue();
}

bool PlayerUi::toolsPanelShown() const
{
    return m_controls._toolsEn;
}

void PlayerUi::hideFavouriteButtons()
{
    m_controls.hideFavouriteButtons();
}

void PlayerUi::showFavouriteButtons()
{
    m_controls.showFavouriteButtons();
}

float PlayerUi::outWidth() const
{
    return m_metrics->outWidth;
}

QSize PlayerUi::defaultViewPixelSize(QSize photo, QSizeF points, double dpr)
{
    // As maxOutTheSliderAndImage sets the zoom slider, kept within its range.
    double zoom = 0.0;
    if (photo.height() > photo.width() && points.width() > 0.0)
        zoom = std::clamp((photo.width() - points.width()) / points.width(), ControlsLayout::zoomMin,
                          ControlsLayout::zoomMax);
    // Up to whole pixels, past the rounding noise of the zoom's arithmetic.
    const auto pixels = [&](double side) {
        return static_cast<int>(std::ceil((1.0 + zoom) * side * dpr - 1e-6));
    };
    return QSize(pixels(points.width()), pixels(points.height()));
}

QSize PlayerUi::mainCopyPixelSize(QSize firstPhoto) const
{
    if (firstPhoto.isEmpty()) // unreadable: the largest default view
        firstPhoto = QSize(std::numeric_limits<int>::max() / 2, std::numeric_limits<int>::max());
    return defaultViewPixelSize(firstPhoto, QSizeF(m_metrics->outWidth, m_metrics->outHeight),
                                devicePixelRatio());
}

QSize PlayerUi::preparedPixelSize(int view) const
{
    const double dpr = devicePixelRatio();
    if (view == 1)
        return defaultViewPixelSize({}, QSizeF(m_metrics->outWidth, m_metrics->outHeight), dpr);
    if (view == 2 || view == 3)
        return QSize(static_cast<int>(std::ceil(m_frames.widthOfTheRightColumn * dpr)),
                     static_cast<int>(std::ceil(m_frames.container.height / 3.0 * dpr)));
    return {};
}

QSize PlayerUi::rawCopyPixelSize() const
{
    // The main display unzoomed: 45 copies at twice its size would cost a third of a gigabyte beside
    // the frames.
    const double dpr = devicePixelRatio();
    return QSize(static_cast<int>(std::ceil(m_metrics->outWidth * dpr)),
                 static_cast<int>(std::ceil(m_metrics->outHeight * dpr)));
}

void PlayerUi::playlistPassFinished(const PhotoImage&)
{
    m_controls.toolsButtonAction();
    m_controls.addToolsButton();
    m_controls.maxOutTheSliderAndImage();
}

// --- Keyboard transport ---

std::optional<TransportCommand> PlayerUi::commandForKey(int key, Qt::KeyboardModifiers modifiers)
{
    static constexpr std::pair<int, TransportCommand> kKeys[] = {
        {Qt::Key_Space, TransportCommand::PlayPause},      {Qt::Key_Right, TransportCommand::NextPhoto},
        {Qt::Key_Left, TransportCommand::PreviousPhoto},   {Qt::Key_End, TransportCommand::LastPhoto},
        {Qt::Key_Home, TransportCommand::FirstPhoto},      {Qt::Key_PageUp, TransportCommand::NextSet},
        {Qt::Key_PageDown, TransportCommand::PreviousSet},
    };
    if ((modifiers & ~Qt::KeypadModifier) != Qt::NoModifier)
        return std::nullopt;
    for (const auto& [k, command] : kKeys)
        if (k == key)
            return command;
    return std::nullopt;
}

void PlayerUi::installTransportKeys(QWidget* window)
{
    m_keyWindow = window;
    if (qApp) {
        qApp->removeEventFilter(this);
        qApp->installEventFilter(this);
    }
}

bool PlayerUi::eventFilter(QObject* watched, QEvent* event)
{
    if (event->type() != QEvent::KeyPress || !m_keyWindow || !watched->isWidgetType())
        return false;
    auto* target = static_cast<QWidget*>(watched);
    if (target->window() != m_keyWindow || QApplication::activePopupWidget() ||
        QApplication::activeModalWidget())
        return false;
    const auto* key = static_cast<QKeyEvent*>(event);
    // Escape stops a running playlist pass, whichever control has the focus.
    if (key->key() == Qt::Key_Escape && (key->modifiers() & ~Qt::KeypadModifier) == Qt::NoModifier &&
        m_controls.stopPlaylistPass())
        return true;
    if (!m_bar)
        return false;
    const std::optional<TransportCommand> command = commandForKey(key->key(), key->modifiers());
    if (!command)
        return false;
    // A focused slider or button keeps its own keys.
    if (qobject_cast<QAbstractSlider*>(target) ||
        (command == TransportCommand::PlayPause && qobject_cast<QAbstractButton*>(target)))
        return false;
    m_bar->pressCommand(*command);
    return true;
}

} // namespace qr
