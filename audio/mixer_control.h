// SPDX-License-Identifier: GPL-3.0-or-later
// A voice's control word and start slots as both halves of the mixer read them: the starting and
// stopping threads (mixer.cpp) and the block being mixed (mixer_block.cpp). Internal to audio/.
#pragma once

#include "audio/mixer.h"

#include <algorithm>
#include <cstdint>

namespace mixer_control {

inline constexpr std::uint32_t kFlagBits =
    MixerVoice::kPlaying | MixerVoice::kListed | MixerVoice::kOrphan | MixerVoice::kPendingMask;

inline std::uint32_t Pending(std::uint32_t control) {
    return (control & MixerVoice::kPendingMask) / MixerVoice::kPendingUnit;
}

inline std::uint32_t Generation(std::uint32_t control) {
    return control & ~kFlagBits;
}

// A start slot holds frame + 1 below the owner, so that 0 stays "free".
inline constexpr unsigned kOwnerShift = 48;
inline constexpr std::uint64_t kFrameMask = (std::uint64_t{1} << kOwnerShift) - 1;

inline std::uint64_t SlotValue(std::uint64_t frame, std::uint16_t owner) {
    return std::uint64_t{owner} << kOwnerShift | (std::min(frame, kFrameMask - 1) + 1);
}

inline std::uint64_t SlotFrame(std::uint64_t value) {
    return (value & kFrameMask) - 1;
}

inline std::uint16_t SlotOwner(std::uint64_t value) {
    return static_cast<std::uint16_t>(value >> kOwnerShift);
}

} // namespace mixer_control
