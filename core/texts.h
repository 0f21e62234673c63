// SPDX-License-Identifier: GPL-3.0-or-later
// Every sentence of core/ that the user reads: the set commands' message boxes, the set file's
// errors, the title's status lines and the remote's replies. UTF-8 here; boxes show them in
// CP932. A sentence that follows a path or a name starts with its particle.
#pragma once

#include <string_view>

namespace texts {

// Set commands.
inline constexpr std::string_view kCannotLoad = "が読み込めませんでした。";
inline constexpr std::string_view kAskDelete = "を削除してよろしいですか？";
inline constexpr std::string_view kPlayingNoDelete = "再生中のWAVEファイルは削除出来ません。";
inline constexpr std::string_view kAskNewSet = "新規音源ファイルを作成しますか？";
inline constexpr std::string_view kAskOverwrite = "は既に存在します。上書きしますか？";
inline constexpr std::string_view kBadSetFileName =
    "音源ファイル名が正しくありません。フォルダーを含まないファイル名を指定してください。";
inline constexpr std::string_view kUnstorableSetName =
    "は、ファイル名にCP932（Shift-JIS）で表せない文字があるため開けません。"
    "ファイル名を変えてください。";
// The editor says it beside the field, a drop after the file's path.
inline constexpr std::string_view kNoCommaOrLineBreak = "カンマ（,）と改行は使えません。";
inline constexpr std::string_view kNoCommaBarOrLineBreakInFiles =
    "追加するファイルのパスにカンマ（,）、縦線（|）と改行は使えません。";
inline constexpr std::string_view kUnholdableText =
    "CP932（Shift-JIS）で表せない文字は使えません。別の名前を使ってください。";

// The set file.
inline constexpr std::string_view kCannotRead = "が読み込めません。";
inline constexpr std::string_view kNotSetFile = "は音源定義ファイルではありません。";
inline constexpr std::string_view kNoWaveDir = "にパス定義がありません。";
inline constexpr std::string_view kCannotWrite = "に書き込み出来ません。";

// The title's status line.
inline constexpr std::string_view kNoOutputDevice = "出力デバイスがありません：接続を待っています";
inline constexpr std::string_view kDeviceMissing = "が見つかりません：既定のデバイスで再生中";
inline constexpr std::string_view kWaitingForMonitor = "モニター出力を待っています";

// The remote's replies (each ends its line).
inline constexpr std::string_view kNotLoaded = "の音が読み込まれていません。\n";
inline constexpr std::string_view kNoSuchName = "という効果音はありません。\n";
inline constexpr std::string_view kHotkeyPrefix = "ホットキー";
inline constexpr std::string_view kNoSuchHotkey = "の効果音はありません。\n";
inline constexpr std::string_view kUnknownCommand = "この命令は使えません。\n";
inline constexpr std::string_view kNoSuchRow = "番目の効果音はありません。\n";
inline constexpr std::string_view kNoSuchPlayback = "その再生はもう終わっています。\n";
inline constexpr std::string_view kNoSuchSet = "という音源ファイルはありません。\n";
inline constexpr std::string_view kSetLoading =
    "音源ファイルの読み込み中です。少し待ってからもう一度実行してください。\n";

} // namespace texts
