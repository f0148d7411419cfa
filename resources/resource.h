/* Identifiers shared by the code and the resource script. */
#ifndef SETUP_RESOURCE_H
#define SETUP_RESOURCE_H

#define IDI_APP                 101

/* Form controls, one block of a hundred per group. */
#define IDC_MASTER_VOLUME       1001
#define IDC_EFFECT_VOLUME       1002
#define IDC_AMBIENT_VOLUME      1003
#define IDC_MUSIC_VOLUME        1004
#define IDC_RENDERER_OPENGL     1101
#define IDC_RENDERER_GLIDE      1102
#define IDC_RENDERER_DIRECT3D   1103
#define IDC_MODE_WINDOWED       1201
#define IDC_MODE_FULLSCREEN     1202
#define IDC_MODE_BORDERLESS     1203
#define IDC_RESOLUTION          1301
#define IDC_SOFTWARE_CURSOR     1401
#define IDC_VSYNC               1402
#define IDC_LAUNCH_GAME         1501

/* Menu commands. */
#define IDM_CONFIG_FOLDER       2001
#define IDM_SAVE                2002
#define IDM_RESET               2003
#define IDM_QUIT                2004
#define IDM_ABOUT               2101

#ifndef RC_INVOKED
#define WIN32_LEAN_AND_MEAN
#define STRICT
#include <windows.h>

/* The module's instance, kept by the entry function for every window the program creates. */
extern HINSTANCE g_instance;
#endif

#endif
