// SPDX-License-Identifier: GPL-3.0-or-later
// Decoding of the sample encodings a sound buffer may hold, and the fold-down of more than two
// channels. Runs when a buffer is unlocked, never while mixing.
#include "audio/sample_format.h"

#include "audio/cpu_dispatch.h"
#include "audio/riff.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstring>

namespace {

// KSDATAFORMAT_SUBTYPE_PCM / _IEEE_FLOAT: {0000000x-0000-0010-8000-00aa00389b71}.
constexpr std::uint8_t kSubTypeTail[14] = {0x00, 0x00, 0x00, 0x00, 0x10, 0x00, 0x80,
                                           0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71};

constexpr std::uint32_t SPEAKER_FRONT_LEFT = 0x1;
constexpr std::uint32_t SPEAKER_FRONT_RIGHT = 0x2;
constexpr std::uint32_t SPEAKER_FRONT_CENTER = 0x4;
constexpr std::uint32_t SPEAKER_LOW_FREQUENCY = 0x8;
constexpr std::uint32_t SPEAKER_BACK_LEFT = 0x10;
constexpr std::uint32_t SPEAKER_BACK_RIGHT = 0x20;
constexpr std::uint32_t SPEAKER_FRONT_LEFT_OF_CENTER = 0x40;
constexpr std::uint32_t SPEAKER_FRONT_RIGHT_OF_CENTER = 0x80;
constexpr std::uint32_t SPEAKER_BACK_CENTER = 0x100;
constexpr std::uint32_t SPEAKER_SIDE_LEFT = 0x200;
constexpr std::uint32_t SPEAKER_SIDE_RIGHT = 0x400;
constexpr std::uint32_t SPEAKER_TOP_CENTER = 0x800;
constexpr std::uint32_t SPEAKER_TOP_FRONT_LEFT = 0x1000;
constexpr std::uint32_t SPEAKER_TOP_FRONT_CENTER = 0x2000;
constexpr std::uint32_t SPEAKER_TOP_FRONT_RIGHT = 0x4000;
constexpr std::uint32_t SPEAKER_TOP_BACK_LEFT = 0x8000;
constexpr std::uint32_t SPEAKER_TOP_BACK_CENTER = 0x10000;
constexpr std::uint32_t SPEAKER_TOP_BACK_RIGHT = 0x20000;

// The layouts players assume for a plain record with more than two channels.
std::uint32_t DefaultMask(std::uint16_t channels) {
    switch (channels) {
    case 3:
        return SPEAKER_FRONT_LEFT | SPEAKER_FRONT_RIGHT | SPEAKER_FRONT_CENTER;
    case 4:
        return SPEAKER_FRONT_LEFT | SPEAKER_FRONT_RIGHT | SPEAKER_BACK_LEFT | SPEAKER_BACK_RIGHT;
    case 5:
        return SPEAKER_FRONT_LEFT | SPEAKER_FRONT_RIGHT | SPEAKER_FRONT_CENTER | SPEAKER_BACK_LEFT |
               SPEAKER_BACK_RIGHT;
    case 6:
        return SPEAKER_FRONT_LEFT | SPEAKER_FRONT_RIGHT | SPEAKER_FRONT_CENTER |
               SPEAKER_LOW_FREQUENCY | SPEAKER_BACK_LEFT | SPEAKER_BACK_RIGHT;
    case 7:
        return SPEAKER_FRONT_LEFT | SPEAKER_FRONT_RIGHT | SPEAKER_FRONT_CENTER |
               SPEAKER_LOW_FREQUENCY | SPEAKER_BACK_CENTER | SPEAKER_SIDE_LEFT | SPEAKER_SIDE_RIGHT;
    case 8:
        return SPEAKER_FRONT_LEFT | SPEAKER_FRONT_RIGHT | SPEAKER_FRONT_CENTER |
               SPEAKER_LOW_FREQUENCY | SPEAKER_BACK_LEFT | SPEAKER_BACK_RIGHT | SPEAKER_SIDE_LEFT |
               SPEAKER_SIDE_RIGHT;
    default:
        return SPEAKER_FRONT_LEFT | SPEAKER_FRONT_RIGHT;
    }
}

void SpeakerWeights(std::uint32_t speaker, float* l, float* r) {
    constexpr float kCentre = 0.70710678f;
    switch (speaker) {
    case SPEAKER_FRONT_LEFT:
    case SPEAKER_BACK_LEFT:
    case SPEAKER_FRONT_LEFT_OF_CENTER:
    case SPEAKER_SIDE_LEFT:
    case SPEAKER_TOP_FRONT_LEFT:
    case SPEAKER_TOP_BACK_LEFT:
        *l = 1.0f;
        *r = 0.0f;
        return;
    case SPEAKER_FRONT_RIGHT:
    case SPEAKER_BACK_RIGHT:
    case SPEAKER_FRONT_RIGHT_OF_CENTER:
    case SPEAKER_SIDE_RIGHT:
    case SPEAKER_TOP_FRONT_RIGHT:
    case SPEAKER_TOP_BACK_RIGHT:
        *l = 0.0f;
        *r = 1.0f;
        return;
    case SPEAKER_FRONT_CENTER:
    case SPEAKER_BACK_CENTER:
    case SPEAKER_TOP_CENTER:
    case SPEAKER_TOP_FRONT_CENTER:
    case SPEAKER_TOP_BACK_CENTER:
        *l = kCentre;
        *r = kCentre;
        return;
    default: // low frequency and positions without a name
        *l = 0.5f;
        *r = 0.5f;
        return;
    }
}

std::int32_t ReadLe32(const std::uint8_t* p) {
    return static_cast<std::int32_t>(Le32(p));
}

// Frames 0, 2, 4, ... (`count` of them) of 16-bit samples, kChannels per frame, to floats
// with the channels interleaved. Spelled out in vectors: the compiler leaves the strided gather
// scalar, and it was a third of preparing a 44.1 kHz sound.
template <int kChannels>
OTOMARU_SIMD_CLONES void S16EveryOther(const std::uint8_t* bytes, std::size_t count, float* out) {
    using V16s = std::int16_t __attribute__((vector_size(32)));
    using V8s = std::int16_t __attribute__((vector_size(16)));
    using V8i = std::int32_t __attribute__((vector_size(32)));
    using V8f = float __attribute__((vector_size(32)));
    constexpr std::size_t kFrames = 8 / kChannels; // kept frames per 8 floats
    std::size_t k = 0;
    // Each step reads one frame past the last it keeps, which must exist.
    for (; k + kFrames < count; k += kFrames) {
        V16s pair;
        std::memcpy(&pair, bytes + 4 * kChannels * k, sizeof pair);
        V8s kept;
        if constexpr (kChannels == 2) {
            kept = __builtin_shufflevector(pair, pair, 0, 1, 4, 5, 8, 9, 12, 13);
        } else {
            kept = __builtin_shufflevector(pair, pair, 0, 2, 4, 6, 8, 10, 12, 14);
        }
        const V8f v =
            __builtin_convertvector(__builtin_convertvector(kept, V8i), V8f) * (1.0f / 32768.0f);
        std::memcpy(out + kChannels * k, &v, sizeof v);
    }
    for (; k < count; ++k) {
        for (int c = 0; c < kChannels; ++c) {
            std::int16_t v;
            std::memcpy(&v, bytes + 2 * (2 * kChannels * k + static_cast<std::size_t>(c)),
                        sizeof v);
            out[kChannels * k + static_cast<std::size_t>(c)] =
                static_cast<float>(v) * (1.0f / 32768.0f);
        }
    }
}

} // namespace

HRESULT ParseSampleFormat(const WAVEFORMATEX* format, SampleFormat* out) {
    if (format == nullptr || out == nullptr) {
        return DSERR_INVALIDPARAM;
    }
    SampleFormat f;
    std::uint16_t tag = format->wFormatTag;
    std::uint16_t bits = format->wBitsPerSample;
    std::uint16_t validBits = bits;
    f.nChannels = format->nChannels;
    f.nSamplesPerSec = format->nSamplesPerSec;
    f.nBlockAlign = format->nBlockAlign;
    if (tag == WAVE_FORMAT_EXTENSIBLE) {
        if (format->cbSize < 22) {
            return DSERR_BADFORMAT;
        }
        const auto* extra = reinterpret_cast<const std::uint8_t*>(format) + sizeof(WAVEFORMATEX);
        validBits = static_cast<std::uint16_t>(extra[0] | extra[1] << 8);
        f.dwChannelMask = static_cast<std::uint32_t>(ReadLe32(extra + 2));
        const std::uint8_t* guid = extra + 6;
        if (std::memcmp(guid + 2, kSubTypeTail, sizeof kSubTypeTail) != 0 || guid[1] != 0) {
            return DSERR_BADFORMAT;
        }
        tag = guid[0];
        if (validBits == 0) {
            validBits = bits;
        }
    } else if (tag == WAVE_FORMAT_PCM && bits == 24 && f.nChannels != 0 &&
               f.nBlockAlign == f.nChannels * 4) {
        // Recorders write 24 valid bits in 4-byte containers under the plain tag; the
        // container decides, as the extensible record would say it.
        bits = 32;
        validBits = 24;
    }
    if (tag == WAVE_FORMAT_PCM) {
        switch (bits) {
        case 8:
            f.kind = SampleKind::U8;
            break;
        case 16:
            f.kind = SampleKind::S16;
            break;
        case 24:
            f.kind = SampleKind::S24;
            break;
        case 32:
            f.kind = SampleKind::S32;
            break;
        default:
            return DSERR_BADFORMAT;
        }
    } else if (tag == WAVE_FORMAT_IEEE_FLOAT && bits == 32) {
        f.kind = SampleKind::F32;
    } else {
        return DSERR_BADFORMAT;
    }
    if (validBits > bits || f.nChannels < 1 || f.nChannels > kMaxBufferChannels ||
        f.nSamplesPerSec < kMinBufferRate || f.nSamplesPerSec > kMaxBufferRate ||
        f.nBlockAlign != f.nChannels * (bits / 8)) {
        return DSERR_BADFORMAT;
    }
    if (f.dwChannelMask == 0 || f.nChannels <= 2) {
        f.dwChannelMask = DefaultMask(f.nChannels);
    }
    *out = f;
    return DS_OK;
}

std::size_t KeptFormatBytes(const WAVEFORMATEX* format) {
    return format->wFormatTag == WAVE_FORMAT_EXTENSIBLE ? sizeof(WAVEFORMATEX) + 22
                                                        : sizeof(WAVEFORMATEX);
}

float DecodeSample(const std::uint8_t* p, SampleKind kind) {
    switch (kind) {
    case SampleKind::U8:
        return (static_cast<float>(p[0]) - 128.0f) * (1.0f / 128.0f);
    case SampleKind::S16:
        return static_cast<float>(static_cast<std::int16_t>(p[0] | p[1] << 8)) * (1.0f / 32768.0f);
    case SampleKind::S24: {
        std::int32_t v = static_cast<std::int32_t>(static_cast<std::uint32_t>(p[0]) << 8 |
                                                   static_cast<std::uint32_t>(p[1]) << 16 |
                                                   static_cast<std::uint32_t>(p[2]) << 24) >>
                         8;
        return static_cast<float>(v) * (1.0f / 8388608.0f);
    }
    case SampleKind::S32:
        return static_cast<float>(static_cast<double>(ReadLe32(p)) * (1.0 / 2147483648.0));
    case SampleKind::F32: {
        std::uint32_t u = static_cast<std::uint32_t>(ReadLe32(p));
        float v;
        std::memcpy(&v, &u, sizeof v);
        // NaN and infinities in a file must not poison the whole mix.
        if (!std::isfinite(v)) {
            return 0.0f;
        }
        return v;
    }
    }
    return 0.0f;
}

FoldWeights MakeFoldWeights(std::uint16_t channels, std::uint32_t channelMask) {
    FoldWeights w{};
    std::uint32_t mask = channelMask;
    float sumL = 0.0f;
    float sumR = 0.0f;
    for (std::uint16_t c = 0; c < channels && c < kMaxBufferChannels; ++c) {
        std::uint32_t speaker = 0;
        if (mask != 0) {
            speaker = mask & (~mask + 1); // lowest remaining position
            mask &= ~speaker;
        }
        SpeakerWeights(speaker, &w.left[c], &w.right[c]);
        sumL += w.left[c];
        sumR += w.right[c];
    }
    float norm = std::max({sumL, sumR, 1.0f});
    for (std::uint16_t c = 0; c < channels && c < kMaxBufferChannels; ++c) {
        w.left[c] /= norm;
        w.right[c] /= norm;
    }
    return w;
}

int PlaneCount(const SampleFormat& format) {
    return format.nChannels == 1 ? 1 : 2;
}

void DecodeStrided(const std::uint8_t* bytes, std::size_t first, std::size_t count,
                   std::size_t step, const SampleFormat& format, float* left, float* right,
                   std::size_t outStep) {
    const std::size_t stride = step * format.nBlockAlign;
    const std::uint8_t* p = bytes + first * format.nBlockAlign;
    const std::size_t bytesPerSample = format.nBlockAlign / format.nChannels;
    // 16-bit mono and stereo are what nearly every effect is: their loops stay free of calls
    // and branches.
    constexpr float kS16 = 1.0f / 32768.0f;
    if (format.kind == SampleKind::S16 && step == 2 && std::endian::native == std::endian::little) {
        // The 2:1 path's every other frame, channels kept interleaved: fixed strides vectorise.
        if (format.nChannels == 1 && outStep == 1) {
            S16EveryOther<1>(p, count, left);
            return;
        }
        if (format.nChannels == 2 && outStep == 2 && right == left + 1) {
            S16EveryOther<2>(p, count, left);
            return;
        }
    }
    if (format.kind == SampleKind::S16 && format.nChannels == 1) {
        for (std::size_t k = 0; k < count; ++k, p += stride) {
            left[k * outStep] =
                static_cast<float>(static_cast<std::int16_t>(p[0] | p[1] << 8)) * kS16;
        }
        return;
    }
    if (format.kind == SampleKind::S16 && format.nChannels == 2) {
        for (std::size_t k = 0; k < count; ++k, p += stride) {
            left[k * outStep] =
                static_cast<float>(static_cast<std::int16_t>(p[0] | p[1] << 8)) * kS16;
            right[k * outStep] =
                static_cast<float>(static_cast<std::int16_t>(p[2] | p[3] << 8)) * kS16;
        }
        return;
    }
    if (format.nChannels == 1) {
        for (std::size_t k = 0; k < count; ++k, p += stride) {
            left[k * outStep] = DecodeSample(p, format.kind);
        }
        return;
    }
    if (format.nChannels == 2) {
        for (std::size_t k = 0; k < count; ++k, p += stride) {
            left[k * outStep] = DecodeSample(p, format.kind);
            right[k * outStep] = DecodeSample(p + bytesPerSample, format.kind);
        }
        return;
    }
    const FoldWeights w = MakeFoldWeights(format.nChannels, format.dwChannelMask);
    for (std::size_t k = 0; k < count; ++k, p += stride) {
        float l = 0.0f;
        float r = 0.0f;
        for (std::uint16_t c = 0; c < format.nChannels; ++c) {
            float s = DecodeSample(p + c * bytesPerSample, format.kind);
            l += s * w.left[c];
            r += s * w.right[c];
        }
        left[k * outStep] = l;
        right[k * outStep] = r;
    }
}

void DecodeToPlanes(const std::uint8_t* bytes, std::size_t frames, const SampleFormat& format,
                    std::vector<float>& left, std::vector<float>& right, int* planes) {
    *planes = PlaneCount(format);
    left.resize(frames);
    if (*planes == 1) {
        right.clear();
    } else {
        right.resize(frames);
    }
    DecodeStrided(bytes, 0, frames, 1, format, left.data(), *planes == 1 ? nullptr : right.data());
}

// Adding 1.5 * 2^23 to a clipped value rounds it to the nearest integer (half to even) and leaves
// that integer in the low 16 bits of the float's bits: no library call and no conversion, so the
// loop stays vectors. A value that is not a number (a damaged lossy stream) becomes silence.
OTOMARU_SIMD_CLONES
void FloatsToS16(const float* in, std::size_t n, std::int16_t* out) {
    using V8 = float __attribute__((vector_size(32)));
    using V8i = std::int32_t __attribute__((vector_size(32)));
    using V8s = std::int16_t __attribute__((vector_size(16)));
    constexpr float kRoundMagic = 12582912.0f;
    const V8 lo = V8{} - 32768.0f;
    const V8 hi = V8{} + 32767.0f;
    std::size_t i = 0;
    for (; i + 8 <= n; i += 8) {
        V8 v;
        std::memcpy(&v, in + i, sizeof v);
        v *= 32768.0f;
        v = v == v ? v : V8{};
        v = lo > v ? lo : v;
        v = hi < v ? hi : v;
        v += kRoundMagic;
        V8i bits;
        std::memcpy(&bits, &v, sizeof bits);
        const V8s s = __builtin_convertvector(bits, V8s);
        std::memcpy(out + i, &s, sizeof s);
    }
    for (; i < n; ++i) {
        const float v = in[i] == in[i] ? in[i] * 32768.0f : 0.0f;
        out[i] = static_cast<std::int16_t>(
            (std::min(std::max(v, -32768.0f), 32767.0f) + kRoundMagic) - kRoundMagic);
    }
}

std::int16_t FloatToS16(float v) {
    std::int16_t s;
    FloatsToS16(&v, 1, &s);
    return s;
}
