// SPDX-License-Identifier: GPL-3.0-or-later
// Every sentence of desktop/ that the user reads: the global hotkeys' boxes and the remote's
// complaints on standard error. UTF-8 here; boxes show them in CP932.
#pragma once

#include <string_view>

namespace texts {

inline constexpr std::string_view kHotkeysTaken =
    "次のホットキーは、他のプログラムかシステムが使っているか、このキーボードにないため、"
    "Otomaruの外では使えません。";
inline constexpr std::string_view kNoGlobalHotkeys =
    "このデスクトップはグローバルホットキーを提供していません。\n"
    "代わりに、デスクトップのキーボードショートカットに次のようなコマンドを割り当ててください。"
    "\n\n"
    "otomaru --play \"効果音の名前\"\n"
    "otomaru --play-key \"Ctrl + F1\"\n"
    "otomaru --stop-all";
// Around the desktop's name for our shortcuts.
inline constexpr std::string_view kUntriggeredBefore =
    "次のホットキーには、デスクトップでキーが割り当てられていません。\n"
    "デスクトップの設定の「ショートカット」を開き、「";
inline constexpr std::string_view kUntriggeredAfter = "」の項目でキーを割り当ててください。\n";

// GNOME's custom shortcuts: the question before any is added, and where they are seen.
inline constexpr std::string_view kGnomeAsk =
    "GNOMEのキーボードショートカットに、ホットキーごとに「Otomaru: 効果音の名前」という"
    "カスタムショートカットを追加します。どれもこのOtomaruに --play-key でその効果音を"
    "鳴らさせるもので、グローバルホットキーを切るかOtomaruを終了すると削除します。"
    "あなたが作ったショートカットには触れません。\n\n追加しますか？";
inline constexpr std::string_view kGnomeWay =
    "ホットキーはGNOMEのカスタムショートカット（「設定」→「キーボード」→「ショートカットの表示"
    "とカスタマイズ」→「カスタムショートカット」の「Otomaru: 」で始まる項目）です。GNOMEはキーを"
    "離したことを知らせないため、押したときだけ働きます。キーはOtomaruの効果音の設定で変えて"
    "ください。";
// sway's and Hyprland's bindings.
inline constexpr std::string_view kSwayWay =
    "ホットキーはswayのキー割り当て（bindsym）として、Otomaruが起動している間だけ追加します。"
    "swayの設定ファイルに同じキーの割り当てがあれば、その間はOtomaruのものが使われ、外した後は"
    "swaymsg reload まで働きません。キーを離したことは伝わらないため、押したときだけ働きます。";
inline constexpr std::string_view kHyprlandWay =
    "ホットキーはHyprlandのキー割り当て（bind）として、Otomaruが起動している間だけ追加します。"
    "キーを離したことは伝わらないため、押したときだけ働きます。";
// The box at switch-on, then what the way in use says of itself.
inline constexpr std::string_view kSwitchedOn = "グローバルホットキーをオンにしました。\n";
inline constexpr std::string_view kX11Way =
    "X11のキー入力を直接受け取ります。キーはOtomaruで設定したとおりです。";
inline constexpr std::string_view kKGlobalAccelWay =
    "KDEのグローバルショートカットを使います。キーはOtomaruで設定したとおりで、"
    "システム設定の「ショートカット」の「Otomaru」で確かめられます。";
// Around the desktop's name for our shortcuts.
inline constexpr std::string_view kPortalWhereBefore =
    "デスクトップのポータルを使います。キーの割り当ては、デスクトップの設定の"
    "「ショートカット」にある「";
inline constexpr std::string_view kPortalWhereAfter = "」の項目で変えられます。";

// printf formats: the socket's path (and the reason).
inline constexpr const char* kCannotLock = "otomaru: %s.lock を作成できません。\n";
inline constexpr const char* kCannotListen = "otomaru: %s で待ち受けできません（%s）。\n";

// printf format: the address, the port and the system's reason.
inline constexpr const char* kOscCannotListen =
    "OSCの待ち受けを %s のポート %u で始められません（%s）。\n"
    "OSCからは操作できません。Otomaru.ini の OscPort を別の番号にしてください。";

} // namespace texts
