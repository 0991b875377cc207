#include "platform/MainWindow.h"

#include "platform/LogCategories.h"
#include "platform/X11WindowHints.h"

#include <QGuiApplication>
#include <QResizeEvent>
#include <QScreen>

#include <cmath>
#include <cstdlib>

namespace qr {

namespace {
constexpr int kAspectNum = 16;
constexpr int kAspectDen = 9;
constexpr int kPlacementTickMs = 40;
constexpr int kPlacementMaxTicks = 75;    // 3 s
constexpr int kPlacementSettledTicks = 6; // the frame matched for 240 ms
constexpr int kAskExtentsMs = 300;
constexpr int kResizeEndMs = 300;
// A window manager holding 16:9 rounds the height itself; the resize computation's own rounding
// (a multiple of 4 for the display) stays within this many pixels and is left to it.
constexpr int kAspectRounding = 4;
} // namespace

MainWindow::MainWindow(QSize contentSize, QWidget* parent) : QMainWindow(parent)
{
    // Titled and closable, neither minimisable nor resizable until start-up has finished.
    setWindowFlags(Qt::Window | Qt::WindowTitleHint | Qt::WindowCloseButtonHint | Qt::CustomizeWindowHint);
    resize(contentSize);
    applyResizability();
    m_placementTimer.setInterval(kPlacementTickMs);
    connect(&m_placementTimer, &QTimer::timeout, this, &MainWindow::checkPlacement);
    m_resizeEndTimer.setSingleShot(true);
    m_resizeEndTimer.setInterval(kResizeEndMs);
    connect(&m_resizeEndTimer, &QTimer::timeout, this, &MainWindow::resizeEnded);
}

bool MainWindow::canPlaceWindows()
{
    return !QGuiApplication::platformName().startsWith(QLatin1String("wayland"));
}

QSize MainWindow::lockedToAspect(QSize proposed, QSize before, int num, int den)
{
    if (proposed.width() <= 0 || proposed.height() <= 0 || num <= 0 || den <= 0)
        return proposed;
    const double dw = std::abs(proposed.width() - before.width()) / double(std::max(before.width(), 1));
    const double dh = std::abs(proposed.height() - before.height()) / double(std::max(before.height(), 1));
    if (dw >= dh)
        return QSize(proposed.width(), int(std::lround(proposed.width() * double(den) / num)));
    return QSize(int(std::lround(proposed.height() * double(num) / den)), proposed.height());
}

void MainWindow::setResizable(bool on)
{
    m_resizable = on;
    applyResizability();
    m_placementSettled = 0; // the decorations may change with it
}

void MainWindow::setMiniaturizable(bool on)
{
    m_miniaturizable = on;
    Qt::WindowFlags f = windowFlags();
    f.setFlag(Qt::WindowMinimizeButtonHint, on);
    const bool visible = isVisible();
    setWindowFlags(f);
    if (visible)
        show();
    m_placementSettled = 0;
}

void MainWindow::setMaximumFrameSize(QSize size)
{
    m_maximumFrame = size;
    const QMargins m = m_marginsKnown ? m_margins : QMargins();
    m_maximum = size.width() >= QWIDGETSIZE_MAX ? size : size.shrunkBy(m);
    applyResizability();
}

QMargins MainWindow::currentMargins() const
{
    if (X11WindowHints::isX11() && isVisible()) {
        if (auto m = X11WindowHints::frameExtents(const_cast<MainWindow*>(this)))
            return *m;
        if (m_marginsKnown)
            return m_margins; // not decorated yet: the estimate stands
    }
    const QRect f = frameGeometry();
    const QRect g = geometry();
    return QMargins(g.left() - f.left(), g.top() - f.top(), f.right() - g.right(), f.bottom() - g.bottom());
}

QMargins MainWindow::frameMarginsEstimate()
{
    if (isVisible()) {
        m_margins = currentMargins();
        m_marginsKnown = true;
    } else if (!m_marginsKnown && X11WindowHints::isX11()) {
        // Asked for a stand-in with the decorations this window has once start-up is over
        // (resizable, with every button), so that the answer holds for its first showing.
        QWidget probe;
        probe.setWindowFlags(Qt::Window | Qt::WindowTitleHint | Qt::WindowCloseButtonHint |
                             Qt::WindowMinimizeButtonHint | Qt::WindowMaximizeButtonHint |
                             Qt::CustomizeWindowHint);
        probe.setWindowTitle(windowTitle());
        probe.resize(size());
        if (auto m = X11WindowHints::frameExtents(&probe, kAskExtentsMs)) {
            m_margins = *m;
            m_marginsKnown = true;
        }
    }
    return m_marginsKnown ? m_margins : QMargins();
}

void MainWindow::setFrame(const QRect& rect)
{
    // A Wayland client cannot place itself and does not learn the desktop's panels; what comes
    // nearest to covering the available area is to ask the compositor for a maximised window.
    m_maximizedByPlacement = !canPlaceWindows() && screen() && rect == screen()->availableGeometry();
    if (m_maximizedByPlacement)
        setWindowState(windowState() | Qt::WindowMaximized);
    m_targetFrame = rect;
    m_placing = true;
    m_placementTicks = 0;
    m_placementSettled = 0;
    applyPlacement(frameMarginsEstimate());
    if (isVisible())
        m_placementTimer.start();
}

void MainWindow::applyPlacement(const QMargins& margins)
{
    if (m_maximumFrame.width() < QWIDGETSIZE_MAX)
        m_maximum = m_maximumFrame.shrunkBy(margins);
    const QSize content = m_targetFrame.size().shrunkBy(margins).boundedTo(m_maximum);
    qCDebug(lcWindow) << "placing frame" << m_targetFrame << "decorations" << margins << "client" << content
                      << (isVisible() ? "(shown)" : "(before showing)");
    if (!m_resizable)
        setFixedSize(content);
    else
        setMaximumSize(m_maximum);
    if (size() != content) {
        // The window system may report this size later: that report is the placement, not the user.
        m_placedSize = content;
        // On a shown X11 window Qt's resize also sends a position, computed from decorations it may
        // not have learnt again since the last configure: the window manager then puts the frame
        // where the client area should be, the title bar's height lower.
        if (!isVisible() || !X11WindowHints::requestClientSize(this, content))
            resize(content);
    }
    if (canPlaceWindows() && pos() != m_targetFrame.topLeft())
        move(m_targetFrame.topLeft());
}

void MainWindow::showEvent(QShowEvent* event)
{
    QMainWindow::showEvent(event);
    if (!m_layoutSize.isValid())
        m_layoutSize = size();
    if (m_placing && !m_placementTimer.isActive()) {
        // Where the window system knows the decorations at once, the frame is right from here on.
        checkPlacement();
        if (m_placing)
            m_placementTimer.start();
    }
}

void MainWindow::checkPlacement()
{
    const QMargins m = currentMargins();
    m_margins = m;
    m_marginsKnown = true;
    const QSize content = m_targetFrame.size().shrunkBy(m).boundedTo(
        m_maximumFrame.width() < QWIDGETSIZE_MAX ? m_maximumFrame.shrunkBy(m) : m_maximum);
    const bool sizeOk = m_maximizedByPlacement || size() == content;
    const bool posOk = !canPlaceWindows() || pos() == m_targetFrame.topLeft();
    if (sizeOk && posOk) {
        ++m_placementSettled;
    } else {
        m_placementSettled = 0;
        applyPlacement(m);
    }
    if (m_placementSettled >= kPlacementSettledTicks || ++m_placementTicks >= kPlacementMaxTicks) {
        qCDebug(lcWindow) << "placed: frame" << frameGeometry() << "client" << geometry()
                          << (m_placementSettled >= kPlacementSettledTicks ? "settled" : "gave up");
        m_placementTimer.stop();
        m_placing = false;
        m_placedSize = QSize();
        // The compositor chose the size, or the decorations turned out other than the first layout
        // assumed (a window manager that does not tell them before mapping): the layout follows the
        // client area, the window keeps it.
        if ((m_maximizedByPlacement || size() != m_layoutSize) && m_resizeDelegate && m_resizable) {
            qCDebug(lcWindow) << "layout for the placed client area" << size() << "instead of"
                              << m_layoutSize;
            m_inResize = true;
            m_resizeDelegate(size());
            m_inResize = false;
            m_layoutSize = size();
        }
    }
}

void MainWindow::applyResizability()
{
    if (m_resizable) {
        setMinimumSize(0, 0);
        setMaximumSize(m_maximum);
        Qt::WindowFlags f = windowFlags();
        if (!f.testFlag(Qt::WindowMaximizeButtonHint) && m_maximum.width() == QWIDGETSIZE_MAX) {
            f.setFlag(Qt::WindowMaximizeButtonHint, true);
            const bool visible = isVisible();
            setWindowFlags(f);
            if (visible)
                show();
        }
    } else {
        setFixedSize(size().boundedTo(m_maximum));
    }
}

void MainWindow::keepAspectHint()
{
    // Qt rewrites WM_NORMAL_HINTS whenever it changes the geometry; the aspect goes back in. A
    // window with a maximum size (companion mode's portrait quarter of the screen) is always
    // answered with that maximum, which a 16:9 hint would bend.
    if (m_resizable && m_maximumFrame.width() >= QWIDGETSIZE_MAX && X11WindowHints::isX11()) {
        X11WindowHints::ensureAspect(this, kAspectNum, kAspectDen);
        m_aspectHint = true;
    }
}

void MainWindow::resizeEvent(QResizeEvent* event)
{
    QMainWindow::resizeEvent(event);
    if (m_placing || event->size() == m_placedSize) {
        m_placedSize = QSize();
        return;
    }
    if (!m_resizeDelegate || m_inResize || !m_resizable)
        return;
    const bool x11 = X11WindowHints::isX11();
    if (x11 || !canPlaceWindows()) {
        if (!m_resizeEndTimer.isActive())
            m_sizeBeforeResize = event->oldSize();
        m_resizeEndTimer.start();
    }
    // Without a window manager that keeps the ratio (Wayland), the size waits for the end of the
    // resize; elsewhere each proposal is answered at once.
    if (canPlaceWindows())
        askDelegate(event->size());
}

void MainWindow::resizeEnded()
{
    // An X11 window manager may ignore the window's own size requests while the user drags: the
    // size the drag ended at is answered once more. On Wayland this is the only answer, for the
    // locked size.
    if (X11WindowHints::isX11())
        askDelegate(X11WindowHints::clientSize(this).value_or(size()));
    else
        askDelegate(lockedToAspect(size(), m_sizeBeforeResize, kAspectNum, kAspectDen));
}

void MainWindow::askDelegate(QSize proposal)
{
    m_inResize = true;
    m_layoutSize = proposal;
    const QSize answer = m_resizeDelegate(proposal).boundedTo(m_maximum);
    qCDebug(lcWindow) << "resize: proposed" << proposal << "answer" << answer;
    const bool rounding = m_aspectHint && std::abs(answer.width() - proposal.width()) <= kAspectRounding &&
                          std::abs(answer.height() - proposal.height()) <= kAspectRounding;
    if (answer.isValid() && answer != size() && !rounding) {
        // On X11 the answer is a size request alone; it comes back as a resize event that is
        // answered again (with the same size, so it ends there).
        if (!X11WindowHints::isX11() || !isVisible() || !X11WindowHints::requestClientSize(this, answer))
            resize(answer);
    }
    m_inResize = false;
    keepAspectHint();
}

} // namespace qr
