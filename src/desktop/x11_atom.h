// Names of X11 properties and messages, as the server numbers them.
#pragma once

#include <xcb/xcb.h>

namespace vistrel {

// The atom of that name; XCB_ATOM_NONE when the server gives none.
xcb_atom_t X11_Atom(xcb_connection_t* connection, const char* name);

} // namespace vistrel
