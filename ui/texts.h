// SPDX-License-Identifier: GPL-3.0-or-later
// Every sentence of ui/ that the user reads in a box or a prompt. UTF-8 here; boxes show them in
// CP932.
#pragma once

#include <string_view>

namespace texts {

inline constexpr std::string_view kLoading = "読み込み中…";
inline constexpr std::string_view kEnterInteger = "整数を入力してください。";
inline constexpr std::string_view kEnterFadeMs = "0 から 10000 までの整数を入力してください。";
inline constexpr std::string_view kEnterGainDb = "-60 から 12 までの整数を入力してください。";
inline constexpr std::string_view kFolderPathTooLong = "フォルダーのパスが長すぎます。";
inline constexpr std::string_view kChooseFolder = "フォルダーを選んでください。";
inline constexpr std::string_view kNoPactl =
    "仮想マイクを作成できませんでした：pactl が見つかりません。"
    "pulseaudio-utils をインストールしてください。";
inline constexpr std::string_view kModuleRefused =
    "仮想マイクを作成できませんでした：サウンドサーバーがモジュールを読み込みませんでした（pactl）"
    "。";
inline constexpr std::string_view kNoPassthrough =
    "マイク入力を仮想マイクにつなげませんでした（pactl）。マイクが接続されているか確認してください"
    "。";
// A play list row's tooltip: the level set there ("+3", "0", "-6").
inline constexpr std::string_view kPlayLevel = "再生音量 %1 dB（+ / - で変更）";
// The tooltip of an effect sent only to the monitor while there is none.
inline constexpr std::string_view kSilentWithoutMonitor = "モニター出力がないため鳴りません";
inline constexpr std::string_view kCannotRemoveMic = "仮想マイクを削除できませんでした（pactl）。";

inline constexpr std::string_view kWebLanWarning =
    "LAN からも使えるようにすると、同じネットワークにいて Webリモートのアドレスを知っている人は"
    "誰でも効果音を鳴らせます。\nアドレスは人に見せないでください。\n\nLAN からも使えるように"
    "しますか？";
// The port and the system's reason.
inline constexpr std::string_view kWebPortBefore = "Webリモートを始められませんでした：ポート ";
inline constexpr std::string_view kWebPortAfter =
    " を使えません。\n他のプログラムが使っていないか確かめるか、Otomaru.ini の WebRemotePort "
    "を変えてください。\n";
inline constexpr std::string_view kWebNoToken =
    "Webリモートを始められませんでした：合い言葉（トークン）を作れませんでした。";
inline constexpr std::string_view kWebRemoteOff =
    "Webリモートは切になっています。オプションメニューの「Webリモート」で入にしてください。";

} // namespace texts
