// SPDX-License-Identifier: GPL-3.0-or-later
// Every sentence of audio/ that the user reads: the sound device's failures, each in a box
// captioned "Error". UTF-8 here; shown in CP932.
#pragma once

#include <string_view>

namespace texts {

inline constexpr std::string_view kCreateDeviceFailed = "DirectSoundオブジェクトの作成に失敗";
inline constexpr std::string_view kCooperativeLevelFailed = "協調レベルの設定に失敗";
inline constexpr std::string_view kPrimaryBufferFailed = "プライマリ・バッファの作成に失敗";
inline constexpr std::string_view kSecondaryBufferFailed = "セカンダリ・バッファの作成に失敗";
inline constexpr std::string_view kWaveDataFailed = "Waveデータの読み込みに失敗";
inline constexpr std::string_view kWaveOpenFailed = "Waveファイルのオープンに失敗";
inline constexpr std::string_view kBufferFailed = "バッファの作成に失敗";

} // namespace texts
