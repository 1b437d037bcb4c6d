#include "compositorprobe.h"

#include <QGuiApplication>
#include <string>
#include <xcb/xcb.h>

bool CompositorProbe::Compositing()
{
    const QByteArray forced = qgetenv("POSTWATCH_3D_COMPOSITOR");
    if (forced == "0" || forced == "1")
        return forced == "1";
    const QString platform = QGuiApplication::platformName();
    if (platform.startsWith(QLatin1String("wayland")))
        return true;
    if (platform != QLatin1String("xcb"))
        return false;
    auto* x11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>();
    xcb_connection_t* connection = x11 ? x11->connection() : nullptr;
    if (!connection)
        return false;
    // The X screen number, as the display string names it (":0.1"); 0 without one.
    int number = 0;
    const QByteArray display = qgetenv("DISPLAY");
    const int dot = display.lastIndexOf('.');
    if (dot > display.lastIndexOf(':'))
        number = display.mid(dot + 1).toInt();
    const std::string name = "_NET_WM_CM_S" + std::to_string(number);
    xcb_intern_atom_reply_t* atom = xcb_intern_atom_reply(
        connection, xcb_intern_atom(connection, 1, uint16_t(name.size()), name.c_str()), nullptr);
    if (!atom)
        return false;
    const xcb_atom_t selection = atom->atom;
    free(atom);
    if (selection == XCB_ATOM_NONE)
        return false; // nobody ever made the atom, so nobody owns it
    xcb_get_selection_owner_reply_t* owner = xcb_get_selection_owner_reply(
        connection, xcb_get_selection_owner(connection, selection), nullptr);
    const bool owned = owner && owner->owner != XCB_WINDOW_NONE;
    free(owner);
    return owned;
}
