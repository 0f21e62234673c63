// SPDX-License-Identifier: GPL-3.0-or-later
#include "audio/sound_device.h"

namespace {
const std::uint8_t kJingle[] = {
#include "jingle_wav.inc"
};
} // namespace

const std::uint8_t* JingleImage() {
    return kJingle;
}
std::size_t JingleImageSize() {
    return sizeof kJingle;
}
