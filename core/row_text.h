// SPDX-License-Identifier: GPL-3.0-or-later
// The texts and colours of the two lists' rows, kept free of any widget toolkit so that they can
// be checked without a display: the four cell texts of an effect or a playback, the cut of a cell
// that is too wide for its column, and the halved tint of a selected row.
#pragma once

#include "input/hotkey.h"
#include "model/effect_table.h"
#include "playback/play_job.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

// A colour reference: red in bits 0-7, green in 8-15, blue in 16-23.
using COLORREF = std::uint32_t;
constexpr COLORREF RGB(int r, int g, int b) {
    return static_cast<COLORREF>((r & 0xFF) | ((g & 0xFF) << 8) | ((b & 0xFF) << 16));
}
constexpr int GetRValue(COLORREF c) {
    return static_cast<int>(c & 0xFF);
}
constexpr int GetGValue(COLORREF c) {
    return static_cast<int>((c >> 8) & 0xFF);
}
constexpr int GetBValue(COLORREF c) {
    return static_cast<int>((c >> 16) & 0xFF);
}

// The two lists' tints: light blue rows in the effect list, pink ones in the play list.
constexpr COLORREF kEffectListTint = RGB(204, 238, 255);
constexpr COLORREF kPlayListTint = RGB(255, 153, 153);

// Each component times `factor`, truncated, held at 255.
COLORREF ScaleColour(COLORREF colour, double factor);

// A cell's text, as the list keeps it, is at most this many bytes with its terminator.
constexpr std::size_t kCellTextSize = 260;

// Width in pixels of a CP932 text in the font the list draws with.
using TextExtentFn = std::function<int(std::string_view cp932)>;

// The text to draw in a column `width` pixels wide with `margin` pixels to spare: the text itself
// when it fits, otherwise its longest head that fits followed by "...", written into `shortBuf`.
// The head ends on a character boundary (a two-byte character is never split) and is at least
// the first character; the result always fits `shortBuf` with its terminator.
std::string_view MakeShortString(std::string_view text, int width, int margin,
                                 const TextExtentFn& extent, char (&shortBuf)[kCellTextSize]);

// The longest head of a text that the list keeps in a cell (259 bytes), not splitting a
// two-byte character.
std::string_view CellText(std::string_view text);

using RowTexts = std::array<std::string, 4>;

// "%d%%" of (volume + 10000) / 100, truncating toward zero.
std::string VolumeText(std::int32_t volume);
// Effect list: name, hotkey text, "repeat:interval", volume.
RowTexts EffectRowTexts(const EffectEntry& entry, HKL layout);
// Play list: the job's effect name, repeat count, interval, volume.
RowTexts PlayRowTexts(const EffectEntry& entry);
