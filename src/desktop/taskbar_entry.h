// Whether the main window has an entry of its own in the desktop's taskbar.
// The window manager keeps that entry, so this is platform code: on X11 it is
// the window's _NET_WM_STATE; elsewhere (Wayland, the offscreen platform of
// the tests) a program cannot take itself off the taskbar and nothing happens.
#pragma once

class QWidget;

namespace vistrel {

// Asks for the window to be left out of (or put back into) the taskbar and
// the pager. Works for a window shown or not yet shown. Never throws.
void Set_Skip_Taskbar(QWidget& window, bool skip) noexcept;

// Makes a window that was withdrawn while minimized come back normal when it
// is mapped again. Qt maps such a window as soon as its minimized state is
// cleared, before it rewrites the window's start-up hints, and a window
// manager that reads them first keeps the window iconic: called before the
// state is changed. Never throws.
void Start_Normal_When_Mapped(QWidget& window) noexcept;

// Asks the window manager to show and focus the window, as a click on its
// taskbar entry does: a minimized window is restored. For a request the user
// made in another way (starting the program again). Never throws.
void Bring_Forward_As_Taskbar(QWidget& window) noexcept;

} // namespace vistrel
