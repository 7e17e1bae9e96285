#pragma once
// The console client of the window: the telnet client named by the
// "Console Command" setting, embedded through X11.
#include <memory>

#include "console/ui/frm_nx9000.h"

namespace orv::ui {

// True when embedding can work here: the window runs on X11 (directly or
// through XWayland).
bool ConsoleDisplayAvailable();
// What the frame's status bar says when it cannot.
extern const char* const szConsoleNeedsX11;

std::unique_ptr<ConsoleProcess> MakeXConsoleProcess();
// Installs MakeXConsoleProcess as the frames' client and the "Error" box of
// a failed launch.
void InstallXConsole();

// Before the application object exists: on a Wayland session that also has
// an X display, ask for the xcb platform, unless the user chose one.
void PreferX11Platform(int argc, char** argv);

}  // namespace orv::ui
