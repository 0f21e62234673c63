// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/row_text.h"

#include "base/text.h"

#include <algorithm>
#include <cstring>

COLORREF ScaleColour(COLORREF colour, double factor) {
    auto scale = [factor](int c) {
        double v = static_cast<double>(c) * factor;
        if (!(v > 0.0)) // also NaN
            return 0;
        if (v > 255.0)
            return 255;
        return static_cast<int>(v);
    };
    return RGB(scale(GetRValue(colour)), scale(GetGValue(colour)), scale(GetBValue(colour)));
}

std::string_view CellText(std::string_view text) {
    return CutCp932(text, kCellTextSize - 1);
}

std::string_view MakeShortString(std::string_view text, int width, int margin,
                                 const TextExtentFn& extent, char (&shortBuf)[kCellTextSize]) {
    static constexpr std::string_view kDots = "...";
    const std::size_t n = text.size();
    if (n == 0 || extent(text) + margin <= width)
        return text;

    // Character boundaries, so that a cut never leaves a lead byte before the dots. The head
    // plus the dots and the terminator must fit the buffer.
    constexpr std::size_t kMaxHead = kCellTextSize - kDots.size() - 1;
    std::size_t ends[kCellTextSize];
    std::size_t count = 0;
    for (std::size_t pos = 0; pos < n;) {
        pos += IsLeadByte(text, pos) ? 2 : 1;
        if (pos >= n || pos > kMaxHead)
            break;
        ends[count++] = pos;
    }

    const int dots = extent(kDots);
    std::size_t head = 0;
    for (std::size_t k = count; k-- > 0;) {
        head = ends[k];
        if (extent(text.substr(0, head)) + margin + dots <= width)
            break;
    }
    if (head == 0) // even the first character is the whole text: keep it
        head = std::min(n, IsLeadByte(text, 0) ? std::size_t{2} : std::size_t{1});
    std::memcpy(shortBuf, text.data(), head);
    std::memcpy(shortBuf + head, kDots.data(), kDots.size());
    shortBuf[head + kDots.size()] = '\0';
    return {shortBuf, head + kDots.size()};
}

std::string VolumeText(std::int32_t volume) {
    // 64-bit sum: a hand-edited file may hold any 32-bit volume.
    long long percent = (static_cast<long long>(volume) + 10000) / 100;
    return std::to_string(percent) + "%";
}

RowTexts EffectRowTexts(const EffectEntry& entry, HKL layout) {
    return {entry.strName, HotkeyText(entry.nModifiers, entry.nKey, layout),
            std::to_string(entry.nRepeat.load()) + ":" + std::to_string(entry.nInterval.load()),
            VolumeText(entry.nVolume)};
}

RowTexts PlayRowTexts(const EffectEntry& entry) {
    return {entry.strName, std::to_string(entry.nRepeat.load()),
            std::to_string(entry.nInterval.load()), VolumeText(entry.nVolume)};
}
