// SPDX-License-Identifier: GPL-3.0-or-later
// Resource and control ids of the main window, its menus and the About box. The ids are the
// ones the program was designed with; tests and the routing table use them by name.
#pragma once

#include <vector>

constexpr int IDM_ABOUTBOX = 0x0010; // the window menu's About item
constexpr int IDD_ABOUTBOX = 100;
constexpr int IDS_ABOUTBOX = 101;
constexpr int IDD_MIXER_DIALOG = 102;
constexpr int IDR_MAINFRAME = 128; // menu bar and main icon
constexpr int IDR_EFFECT_MENU = 129;
constexpr int IDR_PLAY_MENU = 130;
constexpr int IDI_ABOUT = 134;

constexpr int IDC_PLAYLIST = 1000;
constexpr int IDC_PLAY = 1001;
constexpr int IDC_STOPALL = 1002;
constexpr int IDC_STOP = 1003;
constexpr int IDC_EFFECTLIST = 1004;
constexpr int IDC_EDIT = 1005;
constexpr int IDC_SOUNDFILES = 1013;
constexpr int IDC_SWITCH = 1014;
constexpr int IDC_NEW = 1015;

constexpr int ID_EFFECT_ADD = 32771;
constexpr int ID_EFFECT_EDIT = 32772;
constexpr int ID_EFFECT_DELETE = 32773;
constexpr int ID_EFFECT_PLAY = 32774;
constexpr int ID_PLAY_STOP = 32775;
constexpr int ID_FILE_NEW = 32778;
constexpr int ID_FILE_EXIT = 32779;
constexpr int ID_HELP_ABOUT = 32784;
constexpr int ID_FILE_GLOBAL_HOTKEYS = 32790;   // a later addition, checkable
constexpr int ID_OPTION_EQUAL_LOUDNESS = 32791; // a later addition, checkable
constexpr int ID_OPTION_WEB_REMOTE = 32792;     // a later addition, checkable
constexpr int ID_OPTION_WEB_LAN = 32793;        // a later addition, checkable
constexpr int ID_OPTION_WEB_ADDRESS = 32794;    // a later addition

// Later additions: the selected playback's level.
constexpr int ID_PLAY_LOUDER = 32795;
constexpr int ID_PLAY_QUIETER = 32796;
constexpr int ID_PLAY_LEVEL_RESET = 32797;

// Menus as data: an item with id 0 is a dividing line. Texts are UTF-8 with '&' mnemonics.
struct MenuItemData {
    int id;
    const char* text;
};
struct MenuData {
    const char* title;
    std::vector<MenuItemData> items;
};

// Menu bar 128, and the one popup of each of the menus 129 and 130.
const std::vector<MenuData>& MainMenuBar();
const MenuData& EffectListMenu();
const MenuData& PlayListMenu();
// String 101, the window menu's About item (UTF-8).
const char* AboutMenuText();
