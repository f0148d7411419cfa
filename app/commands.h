/* The menu commands and the Launch Game button. */
#ifndef SETUP_COMMANDS_H
#define SETUP_COMMANDS_H

#define WIN32_LEAN_AND_MEAN
#define STRICT
#include <windows.h>

#define ABOUT_CAPTION "About"

/* 0 when handled; otherwise whatever DefWindowProcA makes of the message. */
LRESULT DispatchCommand(HWND window, WPARAM wParam, LPARAM lParam);

#endif
