// SPDX-License-Identifier: GPL-3.0-or-later
// Every sentence the command line answers with (UTF-8, as the terminal reads it).
#pragma once

namespace texts {

inline constexpr const char* kUsage =
    "使い方：otomaru [オプション]\n"
    "\n"
    "オプションなしでは、ウィンドウを開きます。同じフォルダーのOtomaruが起動していれば、\n"
    "そのウィンドウを前に出して終わります。\n"
    "\n"
    "起動しているOtomaruへのコマンド：\n"
    "  --play 名前            その名前の効果音を鳴らします。\n"
    "  --play-key ホットキー  そのホットキーの効果音を鳴らします（例：\"Ctrl + F1\"）。\n"
    "  --stop 名前            その名前の効果音を止めます。\n"
    "  --stop-all             鳴っている効果音をすべて止めます。\n"
    "  --list                 効果音の名前とホットキーを一覧にします。\n"
    "  --web-url              Webリモートのアドレス（合い言葉つき）を表示します。\n"
    "\n"
    "  -h, --help             この使い方を表示します。\n"
    "  --version              バージョンを表示します。\n"
    "\n"
    "終了コード：0 成功、1 コマンドの失敗（その効果音がない、このフォルダーのOtomaruが\n"
    "起動していないなど）、2 オプションの誤り。\n";

// printf formats: the option's name, or what was given.
inline constexpr const char* kUnknownOption =
    "otomaru: 「%s」というオプションはありません（--help で使い方を表示します）。\n";
inline constexpr const char* kNameMissing = "otomaru: %s の後に名前を指定してください。\n";
inline constexpr const char* kStrayArgument =
    "otomaru: 「%s」は何を指すのかわかりません（--help で使い方を表示します）。\n";
inline constexpr const char* kVerbNameMissing = "otomaru: --%s の後に名前を指定してください。\n";
inline constexpr const char* kWebRemoteOff =
    "Webリモートは切になっています（オプションメニューの「Webリモート」で入にします）。\n";
inline constexpr const char* kNotRunning = "otomaru: このフォルダーのOtomaruは起動していません。\n";

} // namespace texts
