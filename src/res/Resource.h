// Identifiers of the program's resources: commands, controls, menus, dialogs,
// bitmaps and strings. The numbers are part of the program's interface (the
// playback thread posts some of them back to the window), so they never change.
#pragma once

#include "engine/OwnerWindow.h"
#include "platform/win32/Types.h"

// Commands of the File and Movie menus and of the accelerator table. Close,
// Play, Stop and Rewind are also sent or posted by the engine and are defined
// with its owner-window interface, as is MSG_FIT_WINDOW.
constexpr UINT IDM_EXIT = 301;
constexpr UINT IDM_ABOUT = 302;
constexpr UINT IDM_LASTFRAME = 1005;
constexpr UINT IDM_OPEN = 40001;
constexpr UINT IDM_LOOP = 40021;
constexpr UINT IDM_PAUSE = 40024;
constexpr UINT IDM_REDRAW = 40025;
constexpr UINT IDM_STEPBACK = 40026;
constexpr UINT IDM_STEPFORWARD = 40027;
constexpr UINT IDM_PLAYPAUSE = 40029;
constexpr UINT IDM_INFO = 40031;
constexpr UINT IDM_BACKTENTH = 40032;
constexpr UINT IDM_FORWARDTENTH = 40033;
constexpr UINT IDM_BACKSECOND = 40034;
constexpr UINT IDM_FORWARDSECOND = 40035;
constexpr UINT IDM_SEEKBAR = 40037;

// Display options.
constexpr UINT IDM_RGB8 = 40008;
constexpr UINT IDM_RGB16 = 40009;
constexpr UINT IDM_RGB24 = 40012;
constexpr UINT IDM_RGB32 = 40013;
constexpr UINT IDM_NATIVE = 40014;
constexpr UINT IDM_PIXELDOUBLE = 40015;
constexpr UINT IDM_ALTLINE = 40017;
constexpr UINT IDM_COLORCONTROLS = 40018;
constexpr UINT IDM_ACCESSKEY = 40019;
constexpr UINT IDM_SCALABILITY = 40020;
constexpr UINT IDM_PALDEFAULT = 40043;
constexpr UINT IDM_PALCLIPBOARD = 40044;
constexpr UINT IDM_PALFILE = 40047;
constexpr UINT IDM_BACKGROUND = 40049;

// Standard dialog results, also sent as commands to close a dialog.
constexpr UINT IDOK = 1;
constexpr UINT IDCANCEL = 2;

// Window-level identifiers.
constexpr UINT IDC_STATUSBAR = 101;
constexpr UINT STATUS_TIMER = 102;
constexpr UINT STATUS_TIMER_PERIOD_MS = 1000;

// Menus: 112 is shown while no movie is open, 113 while one is.
constexpr UINT IDR_NOMOVIEMENU = 112;
constexpr UINT IDR_MOVIEMENU = 113;

// Dialog templates and their controls.
constexpr UINT IDD_INFOGENERAL = 114;
constexpr UINT IDD_INFOSHORTCUTS = 116;
constexpr UINT IDD_SEEKBAR = 117;
constexpr UINT IDB_PLAYBUTTON = 118;
constexpr UINT IDC_PLAYBUTTON = 1000;
constexpr UINT IDC_SEEKTRACKBAR = 1058;
constexpr UINT IDC_INFOFILENAME = 1048;
constexpr UINT IDC_INFODATARATE = 1055;
constexpr UINT IDC_ABOUTCOMPANY = 400;
constexpr UINT IDC_ABOUTDESCRIPTION = 401;
constexpr UINT IDC_ABOUTVERSION = 402;
constexpr UINT IDC_ABOUTCOPYRIGHT = 403;
constexpr UINT IDC_ABOUTOSVERSION = 404;
constexpr UINT IDC_ABOUTTRADEMARKS = 405;
constexpr UINT IDC_ABOUTRUNNINGON = 406;
// The Tavro control dialogs; button 3 is Reset in both trackbar dialogs.
constexpr UINT IDD_COLORCONTROLS = 104;
constexpr UINT IDD_ACCESSKEY = 107;
constexpr UINT IDD_SCALABILITY = 110;
constexpr UINT IDC_RESET = 3;
constexpr UINT IDC_BRIGHTNESS = 1002;
constexpr UINT IDC_SATURATION = 1008;
constexpr UINT IDC_CONTRAST = 1009;
constexpr UINT IDC_ACCESSKEYEDIT = 1015;
constexpr UINT IDC_BRIGHTNESSVALUE = 1020;
constexpr UINT IDC_SATURATIONVALUE = 1021;
constexpr UINT IDC_CONTRASTVALUE = 1022;
constexpr UINT IDC_SCALETRACKBAR = 1026;
constexpr UINT IDC_SCALEVALUE = 1028;

// Strings.
constexpr UINT IDS_AVIFILTER = 1;
constexpr UINT IDS_BMPFILTER = 2;
