// Every sentence of ui/ that the user reads in a box or a prompt. UTF-8 here; boxes show them in
// CP932.
#pragma once

#include <string_view>

namespace texts {

inline constexpr std::string_view kEnterInteger = "整数を入力してください。";
inline constexpr std::string_view kNoCommaOrLineBreak = "カンマ（,）と改行は使えません。";
inline constexpr std::string_view kFolderPathTooLong = "フォルダーのパスが長すぎます。";
inline constexpr std::string_view kChooseFolder = "フォルダーを選んでください。";
inline constexpr std::string_view kVirtualMicFailed = "仮想マイクを作成できませんでした（pactl）。";

} // namespace texts
