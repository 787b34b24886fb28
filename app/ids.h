// Every template, control, command, timer and private message number of the program.
// The numbers are part of how the windows talk to each other, so they never change.
#pragma once

// Templates and icon.
#define IDD_MAIN 101
#define IDD_PLAYLIST 105
#define IDI_QUAVERLY 107
#define IDD_RECORDER 108

// Main window controls.
#define IDC_PLAY 1000
#define IDC_EXIT 1001
#define IDC_OPEN 1002
#define IDC_VOLUME_LABEL 1005
#define IDC_POSITION_BAR 1007
#define IDC_PAUSE 1008
#define IDC_LOOP 1010
#define IDC_VOLUME_EDIT 1016
#define IDC_VOLUME_SCROLL 1017
#define IDC_ABOUT 1018
#define IDC_GO_TO_TRAY 1022
#define IDC_SHOW_PLAYLIST 1023
#define IDC_NEXT 1028
#define IDC_PREVIOUS 1029
#define IDC_STATUS 1031
#define IDC_LAUNCH_RECORDER 1036
#define IDC_RECORDER_INFO 1037

// Playlist window controls.
#define IDC_PLAYLIST_BOX 1025
#define IDC_REMOVE 1034
#define IDC_CLEAR 1035

// Recorder window controls.
#define IDC_CAPTURE_NAME 1003
#define IDC_CAPTURE_LABEL 1039
#define IDC_RECORD 1042
#define IDC_RECORDER_EXIT 1043
// Added beside the templates' controls: the progress line under the buttons.
#define IDC_RECORD_PROGRESS 1044

// Not controls.
#define TICK_TIMER_ID 1000
#define TRAY_ICON_ID 1001
#define WM_TRAYNOTIFY (WM_USER + 10) // 1034
// Posted after a change of DPI: docks the playlist again once the dialog is rescaled.
#define WM_REDOCK (WM_APP + 1)
// Posted at initialisation: the shell's media controls start once the window shows.
#define WM_SHELL_START (WM_APP + 2)
// Posted from the media controls' thread: a button, by the system's number for it.
#define WM_MEDIA_BUTTON (WM_APP + 3)
// Posted by the tag reader's thread: a track's title, artist and cover.
#define WM_TRACK_TAGS (WM_APP + 4)
#define IDM_TRAY_MAXIMIZE 1035
#define IDM_TRAY_EXIT 1001
#define IDM_PLAYLIST_CLEAR 1036
#define IDM_PLAYLIST_REMOVE 1037
// The playlist menu's "Save playlist...", after its template's items.
#define IDM_PLAYLIST_SAVE 1038

// Hot keys of the main window: the keyboard's media keys, system-wide.
#define HOTKEY_PLAY_PAUSE 1
#define HOTKEY_STOP 2
#define HOTKEY_NEXT 3
#define HOTKEY_PREVIOUS 4

// The taskbar thumbnail's buttons; they come as WM_COMMAND with THBN_CLICKED.
#define IDC_THUMB_PREVIOUS 1050
#define IDC_THUMB_PLAY_PAUSE 1051
#define IDC_THUMB_NEXT 1052
