// The main window until the owner-drawn wizard takes it over: 528 x 382
// pixels, the package's title and icon, and a line naming the role.
#pragma once

#include <windows.h>

#include "base/text.h"

namespace zul::app {

// Registers the class and creates the window, hidden. Null on failure.
HWND createMainWindow(HINSTANCE instance, const Text& title, const Text& statusLine);

// Replaces the line under the title. Safe from any thread: the window's
// own thread does the painting.
void setStatusLine(HWND window, const Text& statusLine);

// Sets the window's small icon from the bytes of an .ico file; the icon is
// owned by the window until the process ends.
void setWindowIcon(HWND window, const Bytes& iconFile);

}  // namespace zul::app
