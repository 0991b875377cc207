#include "platform/X11WindowHints.h"

#include <QGuiApplication>
#include <QThread>
#include <QWidget>

#include <QtGui/qguiapplication_platform.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <vector>

#if QR_HAVE_XCB
#include <xcb/xcb.h>
#include <xcb/xcb_icccm.h>
#endif

namespace qr {

#if QR_HAVE_XCB
namespace {

xcb_connection_t* connection()
{
    if (QGuiApplication::platformName() != QLatin1String("xcb"))
        return nullptr;
    auto* x11 = qGuiApp ? qGuiApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
    return x11 ? x11->connection() : nullptr;
}

xcb_atom_t atom(xcb_connection_t* c, const char* name)
{
    xcb_intern_atom_reply_t* r =
        xcb_intern_atom_reply(c, xcb_intern_atom(c, 0, std::uint16_t(std::strlen(name)), name), nullptr);
    const xcb_atom_t a = r ? r->atom : XCB_ATOM_NONE;
    std::free(r);
    return a;
}

xcb_window_t rootOf(xcb_connection_t* c)
{
    return xcb_setup_roots_iterator(xcb_get_setup(c)).data->root;
}

// The 32-bit values of a property, empty when it is not set.
std::vector<std::uint32_t> cardinals(xcb_connection_t* c, xcb_window_t w, xcb_atom_t property,
                                     xcb_atom_t type)
{
    std::vector<std::uint32_t> out;
    xcb_get_property_reply_t* r =
        xcb_get_property_reply(c, xcb_get_property(c, 0, w, property, type, 0, 1024), nullptr);
    if (r && r->format == 32) {
        const auto* v = static_cast<const std::uint32_t*>(xcb_get_property_value(r));
        out.assign(v, v + xcb_get_property_value_length(r) / 4);
    }
    std::free(r);
    return out;
}

bool windowManagerSupports(xcb_connection_t* c, xcb_atom_t what)
{
    const xcb_window_t root = rootOf(c);
    if (cardinals(c, root, atom(c, "_NET_SUPPORTING_WM_CHECK"), XCB_ATOM_WINDOW).empty())
        return false;
    for (std::uint32_t a : cardinals(c, root, atom(c, "_NET_SUPPORTED"), XCB_ATOM_ATOM)) {
        if (a == what)
            return true;
    }
    return false;
}

} // namespace
#endif

bool X11WindowHints::isX11()
{
#if QR_HAVE_XCB
    return connection() != nullptr;
#else
    return false;
#endif
}

std::optional<QMargins> X11WindowHints::frameExtents(QWidget* window, int waitMs)
{
#if QR_HAVE_XCB
    xcb_connection_t* c = connection();
    if (!c || !window)
        return std::nullopt;
    const xcb_window_t root = rootOf(c);
    if (cardinals(c, root, atom(c, "_NET_SUPPORTING_WM_CHECK"), XCB_ATOM_WINDOW).empty())
        return QMargins(); // no window manager: no decorations
    const auto w = static_cast<xcb_window_t>(window->winId());
    const xcb_atom_t extents = atom(c, "_NET_FRAME_EXTENTS");
    auto read = [&]() -> std::optional<QMargins> {
        const auto v = cardinals(c, w, extents, XCB_ATOM_CARDINAL);
        if (v.size() != 4)
            return std::nullopt;
        // Device pixels to logical ones, rounded up so that the frame stays inside what it is given.
        const double r = window->devicePixelRatioF();
        auto lg = [r](std::uint32_t px) {
            return int(std::ceil(px / r - 1e-9));
        };
        return QMargins(lg(v[0]), lg(v[2]), lg(v[1]), lg(v[3])); // left, right, top, bottom on the wire
    };
    if (waitMs <= 0 || window->isVisible())
        return read();
    if (!windowManagerSupports(c, atom(c, "_NET_REQUEST_FRAME_EXTENTS")))
        return std::nullopt;
    xcb_delete_property(c, w, extents);
    xcb_client_message_event_t ev{};
    ev.response_type = XCB_CLIENT_MESSAGE;
    ev.format = 32;
    ev.window = w;
    ev.type = atom(c, "_NET_REQUEST_FRAME_EXTENTS");
    xcb_send_event(c, 0, root, XCB_EVENT_MASK_SUBSTRUCTURE_REDIRECT | XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY,
                   reinterpret_cast<const char*>(&ev));
    xcb_flush(c);
    for (int waited = 0; waited < waitMs; waited += 10) {
        QThread::msleep(10);
        if (auto m = read())
            return m;
    }
    return std::nullopt;
#else
    Q_UNUSED(window);
    Q_UNUSED(waitMs);
    return std::nullopt;
#endif
}

std::optional<QSize> X11WindowHints::clientSize(QWidget* window)
{
#if QR_HAVE_XCB
    xcb_connection_t* c = connection();
    if (!c || !window)
        return std::nullopt;
    xcb_get_geometry_reply_t* g =
        xcb_get_geometry_reply(c, xcb_get_geometry(c, static_cast<xcb_window_t>(window->winId())), nullptr);
    if (!g)
        return std::nullopt;
    const double r = window->devicePixelRatioF();
    const QSize size(int(std::lround(g->width / r)), int(std::lround(g->height / r)));
    std::free(g);
    return size;
#else
    Q_UNUSED(window);
    return std::nullopt;
#endif
}

bool X11WindowHints::requestClientSize(QWidget* window, QSize size)
{
#if QR_HAVE_XCB
    xcb_connection_t* c = connection();
    if (!c || !window || size.isEmpty())
        return false;
    const double r = window->devicePixelRatioF();
    const std::uint32_t values[] = {std::uint32_t(std::lround(size.width() * r)),
                                    std::uint32_t(std::lround(size.height() * r))};
    xcb_configure_window(c, static_cast<xcb_window_t>(window->winId()),
                         XCB_CONFIG_WINDOW_WIDTH | XCB_CONFIG_WINDOW_HEIGHT, values);
    xcb_flush(c);
    return true;
#else
    Q_UNUSED(window);
    Q_UNUSED(size);
    return false;
#endif
}

bool X11WindowHints::ensureAspect(QWidget* window, int num, int den)
{
#if QR_HAVE_XCB
    xcb_connection_t* c = connection();
    if (!c || !window)
        return false;
    const auto w = static_cast<xcb_window_t>(window->winId());
    xcb_size_hints_t hints{};
    if (!xcb_icccm_get_wm_normal_hints_reply(c, xcb_icccm_get_wm_normal_hints(c, w), &hints, nullptr))
        hints = xcb_size_hints_t{};
    if ((hints.flags & XCB_ICCCM_SIZE_HINT_P_ASPECT) && hints.min_aspect_num == num &&
        hints.min_aspect_den == den && hints.max_aspect_num == num && hints.max_aspect_den == den)
        return false;
    xcb_icccm_size_hints_set_aspect(&hints, num, den, num, den);
    xcb_icccm_set_wm_normal_hints(c, w, &hints);
    xcb_flush(c);
    return true;
#else
    Q_UNUSED(window);
    Q_UNUSED(num);
    Q_UNUSED(den);
    return false;
#endif
}

std::optional<std::pair<double, double>> X11WindowHints::aspect(QWidget* window)
{
#if QR_HAVE_XCB
    xcb_connection_t* c = connection();
    if (!c || !window)
        return std::nullopt;
    xcb_size_hints_t hints{};
    if (!xcb_icccm_get_wm_normal_hints_reply(
            c, xcb_icccm_get_wm_normal_hints(c, static_cast<xcb_window_t>(window->winId())), &hints,
            nullptr) ||
        !(hints.flags & XCB_ICCCM_SIZE_HINT_P_ASPECT) || hints.min_aspect_den == 0 ||
        hints.max_aspect_den == 0)
        return std::nullopt;
    return std::pair<double, double>(double(hints.min_aspect_num) / hints.min_aspect_den,
                                     double(hints.max_aspect_num) / hints.max_aspect_den);
#else
    Q_UNUSED(window);
    return std::nullopt;
#endif
}

} // namespace qr
