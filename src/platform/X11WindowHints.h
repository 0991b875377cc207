#pragma once

#include <QMargins>
#include <QSize>

#include <optional>

class QWidget;

namespace qr {

// What an X11 window manager is told and tells about a top-level window, through Qt's xcb
// connection. Every function does nothing (or returns nothing) on another platform.
class X11WindowHints {
public:
    static bool isX11();

    // The decorations the window manager puts around `window`, in logical pixels, as its
    // _NET_FRAME_EXTENTS say. Before the window is mapped they are asked for with
    // _NET_REQUEST_FRAME_EXTENTS (afresh: an earlier answer is dropped first) and awaited up to
    // `waitMs`. Zero margins without a window manager;
    // nothing when they cannot be learnt.
    static std::optional<QMargins> frameExtents(QWidget* window, int waitMs = 0);

    // The size of the window's client area as the X server has it, in logical pixels; it differs
    // from Qt's when the window manager ignored a size request.
    static std::optional<QSize> clientSize(QWidget* window);

    // Asks for a new client size (logical pixels) and nothing else: the window manager keeps the
    // frame where it is, and Qt learns the size from the window manager's answer. Qt's own resize
    // also sends a position, computed from decorations it may not know yet, and rewrites the size
    // hints. False on another platform.
    static bool requestClientSize(QWidget* window, QSize size);

    // Puts min and max aspect num:den into the window's WM_NORMAL_HINTS, keeping the other fields.
    // Returns true when the property had to be written.
    static bool ensureAspect(QWidget* window, int num, int den);
    // The min and max aspect of the window's WM_NORMAL_HINTS, or nothing.
    static std::optional<std::pair<double, double>> aspect(QWidget* window);
};

} // namespace qr
