// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/mixer_resource.h"

const std::vector<MenuData>& MainMenuBar() {
    static const std::vector<MenuData> bar = {
        {"ファイル(&F)",
         {{ID_FILE_NEW, "新規音源ファイル(&N)"}, {0, nullptr}, {ID_FILE_EXIT, "終了(&X)"}}},
        {"効果音リスト(&P)",
         {{ID_EFFECT_PLAY, "選択WAVEを再生(&P)"},
          {0, nullptr},
          {ID_EFFECT_EDIT, "編集(&E)"},
          {ID_EFFECT_ADD, "追加(&A)"},
          {0, nullptr},
          {ID_EFFECT_DELETE, "削除(&D)"}}},
        {"再生リスト", {{ID_PLAY_STOP, "選択WAVEを停止"}}},
        // Exit ends the File menu; later additions go in menus of their own before Help.
        {"オプション(&O)",
         {{ID_FILE_GLOBAL_HOTKEYS, "グローバルホットキー(&G)"},
          {ID_OPTION_EQUAL_LOUDNESS, "音量を揃える(&L)"},
          {0, nullptr},
          {ID_OPTION_WEB_REMOTE, "Webリモート(&W)"},
          {ID_OPTION_WEB_LAN, "LAN からも使う(&N)"},
          {ID_OPTION_WEB_ADDRESS, "Webリモートのアドレス(&U)..."}}},
        {"ヘルプ(&H)", {{ID_HELP_ABOUT, "Otomaruについて(&A)"}}},
    };
    return bar;
}

const MenuData& EffectListMenu() {
    static const MenuData menu = {"dummy",
                                  {{ID_EFFECT_PLAY, "再生(&P)"},
                                   {0, nullptr},
                                   {ID_EFFECT_EDIT, "編集(&E)"},
                                   {ID_EFFECT_ADD, "追加(&A)"},
                                   {0, nullptr},
                                   {ID_EFFECT_DELETE, "削除(&D)"}}};
    return menu;
}

const MenuData& PlayListMenu() {
    static const MenuData menu = {"dummy",
                                  {{ID_PLAY_STOP, "停止(&S)"},
                                   {0, nullptr},
                                   {ID_PLAY_LOUDER, "音量を上げる(&U)\t+"},
                                   {ID_PLAY_QUIETER, "音量を下げる(&D)\t-"},
                                   {ID_PLAY_LEVEL_RESET, "音量を戻す(&R)"}}};
    return menu;
}

const char* AboutMenuText() {
    return "MOK のﾊﾞｰｼﾞｮﾝ情報(&A)...";
}
