// Where the main window was, kept in appli.ini between runs.
#pragma once

#include "settings/window_placement.h"

#include <string>

class QWidget;

namespace vistrel {

// Puts the window where it was, moved into the desktop's area; the design
// place (0, 0) when nothing was kept.
void Restore_Placement(QWidget& window, const std::string& appli_ini, const Desktop_Area& desktop);
void Save_Placement(const QWidget& window, const std::string& appli_ini);

} // namespace vistrel
