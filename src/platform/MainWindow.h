#pragma once

#include <QMainWindow>
#include <QMargins>
#include <QTimer>

#include <functional>

namespace qr {

// The program's single window. Resizability and minimisability are switched like style-mask bits;
// a resize delegate sees every user resize and may answer another size, which is then applied.
//
// Placement is by frame: the rectangle given to setFrame is covered by the window's frame, the
// window manager's decorations included. Decoration sizes are asked for before the window is
// mapped (X11: _NET_REQUEST_FRAME_EXTENTS); once the window is shown the frame is checked against
// the rectangle for a short while and corrected when the decorations turn out different (for example
// when a resize handle appears); a client area that the correction changed is laid out again. Where a client
// cannot position its windows (Wayland) only the size is applied, and a frame covering the whole available
// area becomes a maximised window (the compositor knows its panels; the client does not).
//
// User resizes keep the client area at 16:9: on X11 the window's WM_NORMAL_HINTS carry the aspect
// ratio from the first user resize on (earlier it would bend the placement), so the window manager
// keeps it while the user drags; where no such hint exists the size is locked once the resize ends,
// before the delegate sees it. A window with a maximum frame size gets no aspect hint.
class MainWindow : public QMainWindow {
    Q_OBJECT
public:
    // contentSize: the initial client size, in logical pixels.
    explicit MainWindow(QSize contentSize, QWidget* parent = nullptr);

    void setResizable(bool on);
    bool isResizable() const { return m_resizable; }
    void setMiniaturizable(bool on);
    bool isMiniaturizable() const { return m_miniaturizable; }

    // Places the window's frame at rect, in Qt screen coordinates.
    void setFrame(const QRect& rect);
    // Largest frame size the user may give the window.
    void setMaximumFrameSize(QSize size);
    // The decorations around the client area as far as they are known now; before the window is
    // first shown this asks the window manager (X11), so that a first layout can use the client area
    // the window will get.
    QMargins frameMarginsEstimate();
    // True while a placement is still being checked against the decorations.
    bool isPlacing() const { return m_placing; }
    // True where the window system lets a client position its own window.
    static bool canPlaceWindows();

    // `proposed` held at num:den; the side that changed more against `before` (relatively) is kept.
    static QSize lockedToAspect(QSize proposed, QSize before, int num = 16, int den = 9);

    using ResizeDelegate = std::function<QSize(QSize proposed)>;
    void setResizeDelegate(ResizeDelegate d) { m_resizeDelegate = std::move(d); }

protected:
    void resizeEvent(QResizeEvent* event) override;
    void showEvent(QShowEvent* event) override;

private:
    QMargins currentMargins() const;
    void applyPlacement(const QMargins& margins);
    void checkPlacement();
    void applyResizability();
    void askDelegate(QSize proposal);
    void resizeEnded();
    void keepAspectHint();

    bool m_resizable = false;
    bool m_miniaturizable = false;
    bool m_inResize = false;
    QSize m_placedSize; // size set by a placement, not yet reported back
    QSize m_layoutSize; // the client size the delegate last laid the content out for
    QSize m_maximum{QWIDGETSIZE_MAX, QWIDGETSIZE_MAX};
    QSize m_maximumFrame{QWIDGETSIZE_MAX, QWIDGETSIZE_MAX};
    ResizeDelegate m_resizeDelegate;

    QRect m_targetFrame;
    bool m_placing = false;
    QMargins m_margins;
    bool m_marginsKnown = false;
    QTimer m_placementTimer;
    int m_placementTicks = 0;
    int m_placementSettled = 0;

    bool m_maximizedByPlacement = false; // Wayland: the compositor sizes the window
    bool m_aspectHint = false;           // X11: the 16:9 hint is in force
    QTimer m_resizeEndTimer;             // no hint: the lock waits for the end of the user's resize
    QSize m_sizeBeforeResize;
};

} // namespace qr
