// The program's name, and its version as the window, the dialogs and the
// update check show it ("V3.2"). The version comes from the project's, so it
// is written in one place.
#pragma once

#ifndef VISTREL_VERSION_TEXT
#error "VISTREL_VERSION_TEXT comes with the vistrel_base library"
#endif

namespace vistrel {

inline constexpr const char* kApp_Name = "Vistrel";
inline constexpr const char* kVersion_Local = VISTREL_VERSION_TEXT;

} // namespace vistrel
