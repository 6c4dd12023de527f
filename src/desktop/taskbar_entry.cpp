#include "desktop/taskbar_entry.h"

#include "desktop/x11_atom.h"

#include <QGuiApplication>
#include <QWidget>

#include <xcb/xcb.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <memory>
#include <vector>

namespace vistrel {

xcb_atom_t X11_Atom(xcb_connection_t* connection, const char* name) {
    const std::unique_ptr<xcb_intern_atom_reply_t, decltype(&std::free)> reply(
        xcb_intern_atom_reply(
            connection,
            xcb_intern_atom(connection, 0, static_cast<uint16_t>(std::strlen(name)), name),
            nullptr),
        &std::free);
    return reply ? reply->atom : xcb_atom_t{XCB_ATOM_NONE};
}

namespace {

xcb_atom_t Atom(xcb_connection_t* connection, const char* name) {
    return X11_Atom(connection, name);
}

std::vector<xcb_atom_t> Current_States(xcb_connection_t* connection, xcb_window_t window,
                                       xcb_atom_t state) {
    const std::unique_ptr<xcb_get_property_reply_t, decltype(&std::free)> reply(
        xcb_get_property_reply(
            connection, xcb_get_property(connection, 0, window, state, XCB_ATOM_ATOM, 0, 1024),
            nullptr),
        &std::free);
    if (!reply || reply->format != 32 || reply->type != XCB_ATOM_ATOM)
        return {};
    const auto* atoms = static_cast<const xcb_atom_t*>(xcb_get_property_value(reply.get()));
    return {atoms, atoms + xcb_get_property_value_length(reply.get()) / sizeof(xcb_atom_t)};
}

void Write_States(xcb_connection_t* connection, xcb_window_t window, xcb_atom_t state,
                  const std::array<xcb_atom_t, 2>& wanted, bool skip) {
    std::vector<xcb_atom_t> states = Current_States(connection, window, state);
    // Hidden is the manager's to say, and one left from before the window was
    // withdrawn would bring it back minimized when it is shown again (Qt
    // keeps the states it finds there).
    const xcb_atom_t hidden = Atom(connection, "_NET_WM_STATE_HIDDEN");
    std::erase(states, hidden);
    for (const xcb_atom_t atom : wanted) {
        const auto found = std::find(states.begin(), states.end(), atom);
        if (skip && found == states.end())
            states.push_back(atom);
        if (!skip && found != states.end())
            states.erase(found);
    }
    xcb_change_property(connection, XCB_PROP_MODE_REPLACE, window, state, XCB_ATOM_ATOM, 32,
                        static_cast<uint32_t>(states.size()), states.data());
}

void Apply_Skip_Taskbar(QWidget& widget, bool skip) {
    auto* x11 = qApp ? qApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
    if (x11 == nullptr || x11->connection() == nullptr)
        return;
    xcb_connection_t* connection = x11->connection();
    const auto window = static_cast<xcb_window_t>(widget.winId());
    const xcb_atom_t state = Atom(connection, "_NET_WM_STATE");
    const std::array<xcb_atom_t, 2> wanted{Atom(connection, "_NET_WM_STATE_SKIP_TASKBAR"),
                                           Atom(connection, "_NET_WM_STATE_SKIP_PAGER")};
    if (state == XCB_ATOM_NONE || wanted[0] == XCB_ATOM_NONE || wanted[1] == XCB_ATOM_NONE)
        return;

    // A window not mapped yet takes the property when it is; a mapped one
    // changes only through a request to the root window. A window just shown
    // may be taken by the window manager between the two, so both are done.
    Write_States(connection, window, state, wanted, skip);
    const xcb_screen_t* screen = xcb_setup_roots_iterator(xcb_get_setup(connection)).data;
    if (screen != nullptr) {
        xcb_client_message_event_t request{};
        request.response_type = XCB_CLIENT_MESSAGE;
        request.format = 32;
        request.window = window;
        request.type = state;
        request.data.data32[0] = skip ? 1 : 0; // _NET_WM_STATE_ADD or _REMOVE
        request.data.data32[1] = wanted[0];
        request.data.data32[2] = wanted[1];
        request.data.data32[3] = 1; // from a normal application
        xcb_send_event(connection, 0, screen->root,
                       XCB_EVENT_MASK_SUBSTRUCTURE_REDIRECT | XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY,
                       reinterpret_cast<const char*>(&request));
    }
    xcb_flush(connection);
}

// WM_HINTS as ICCCM lays it out: flags, input, initial state, then the icon
// and group fields, which are kept as they are.
constexpr uint32_t kHints_Fields = 9;
constexpr uint32_t kState_Hint = 1u << 1;
constexpr uint32_t kNormal_State = 1;

void Apply_Normal_Start(QWidget& widget) {
    auto* x11 = qApp ? qApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
    if (x11 == nullptr || x11->connection() == nullptr)
        return;
    xcb_connection_t* connection = x11->connection();
    const auto window = static_cast<xcb_window_t>(widget.winId());
    std::array<uint32_t, kHints_Fields> hints{};
    const std::unique_ptr<xcb_get_property_reply_t, decltype(&std::free)> reply(
        xcb_get_property_reply(connection,
                               xcb_get_property(connection, 0, window, XCB_ATOM_WM_HINTS,
                                                XCB_ATOM_WM_HINTS, 0, kHints_Fields),
                               nullptr),
        &std::free);
    if (reply && reply->format == 32 && reply->type == XCB_ATOM_WM_HINTS) {
        const auto length = std::min<size_t>(
            kHints_Fields, xcb_get_property_value_length(reply.get()) / sizeof(uint32_t));
        std::memcpy(hints.data(), xcb_get_property_value(reply.get()), length * sizeof(uint32_t));
    }
    if ((hints[0] & kState_Hint) && hints[2] == kNormal_State)
        return;
    hints[0] |= kState_Hint;
    hints[2] = kNormal_State;
    xcb_change_property(connection, XCB_PROP_MODE_REPLACE, window, XCB_ATOM_WM_HINTS,
                        XCB_ATOM_WM_HINTS, 32, kHints_Fields, hints.data());
    xcb_flush(connection);
}

void Apply_Bring_Forward(QWidget& widget) {
    auto* x11 = qApp ? qApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
    if (x11 == nullptr || x11->connection() == nullptr)
        return;
    xcb_connection_t* connection = x11->connection();
    const xcb_atom_t active = Atom(connection, "_NET_ACTIVE_WINDOW");
    const xcb_screen_t* screen = xcb_setup_roots_iterator(xcb_get_setup(connection)).data;
    if (active == XCB_ATOM_NONE || screen == nullptr)
        return;
    xcb_client_message_event_t request{};
    request.response_type = XCB_CLIENT_MESSAGE;
    request.format = 32;
    request.window = static_cast<xcb_window_t>(widget.winId());
    request.type = active;
    // As a taskbar asks: the user's own request, which a window manager
    // honours even from an iconic window, where one from the application
    // itself may be refused as stealing the focus.
    request.data.data32[0] = 2;
    request.data.data32[1] = XCB_CURRENT_TIME;
    xcb_send_event(connection, 0, screen->root,
                   XCB_EVENT_MASK_SUBSTRUCTURE_REDIRECT | XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY,
                   reinterpret_cast<const char*>(&request));
    xcb_flush(connection);
}

} // namespace

void Bring_Forward_As_Taskbar(QWidget& widget) noexcept {
    try {
        Apply_Bring_Forward(widget);
    } catch (...) {
        // Out of memory: Qt's own request stands.
    }
}

void Start_Normal_When_Mapped(QWidget& widget) noexcept {
    try {
        Apply_Normal_Start(widget);
    } catch (...) {
        // Out of memory: the window may come back iconic, as before.
    }
}

void Set_Skip_Taskbar(QWidget& widget, bool skip) noexcept {
    try {
        Apply_Skip_Taskbar(widget, skip);
    } catch (...) {
        // Out of memory: the entry stays as it was.
    }
}

} // namespace vistrel
