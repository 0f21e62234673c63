// SPDX-License-Identifier: GPL-3.0-or-later
// The open set's effects, in file order. Entries are held by shared_ptr: list rows and running
// playbacks keep their entry alive and at the same address while the table grows or shrinks,
// and a stopped worker winding down can still read it after the set was closed.
#pragma once

#include "audio/loudness.h"
#include "audio/mixer.h"
#include "audio/sound_output.h"

#include <atomic>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// A 32-bit field that the window's thread writes while a playback worker reads it. Relaxed
// atomics: each value stands alone, the worker only needs to see a whole value soon.
class SharedInt32 {
public:
    SharedInt32(std::int32_t v = 0) : m_value(v) {}
    SharedInt32(const SharedInt32& other) : m_value(other.load()) {}
    SharedInt32& operator=(const SharedInt32& other) { return *this = other.load(); }
    SharedInt32& operator=(std::int32_t v) {
        m_value.store(v, std::memory_order_relaxed);
        return *this;
    }
    operator std::int32_t() const { return load(); }
    std::int32_t load() const { return m_value.load(std::memory_order_relaxed); }

private:
    std::atomic<std::int32_t> m_value;
};

// Per-effect options: name=value fields after the eighth of an effect line, which the designed
// reader ignores. `extra` keeps every such field as read, so a field this version does not know,
// or a known one with a bad value, goes back to the file unchanged.
struct EffectOptions {
    // Hold: sounds while its key is held; a trigger that brings no release restarts it.
    enum class Retrigger { Default, Restart, Toggle, Hold };
    enum class Pick { Cycle, Random };
    using Send = OutputSend;
    Retrigger retrigger = Retrigger::Default;
    int nChoke = 0;     // 0 = none, 1..9
    int nFadeInMs = 0;  // 0..10000
    int nFadeOutMs = 0; // 0..10000
    int nStartMs = 0;
    int nEndMs = 0; // 0 = to the end
    std::vector<std::string> extra;
    // Sounds beside the effect's own (CP932 paths, read as the main path is), and which plays.
    std::vector<std::string> files;
    Pick pick = Pick::Cycle;
    int nGainDb = 0; // whole dB, kMinGainDb..kMaxGainDb, on top of volume and pan
    Send send = Send::Both;

    bool operator==(const EffectOptions&) const = default;
};

// Whether a path can stand in a `files=` list: no '|' (its separator) outside a two-byte
// character, and not empty.
bool FitsFileList(std::string_view cp932Path);

// Takes the fields after the eighth (ASCII name=value) and returns the options they give. For
// each known name the first field of that name decides; a bad value there counts as absent.
EffectOptions ParseEffectOptions(std::vector<std::string> fields);
// The fields to write after the eighth: `extra` in order, with a known field replaced in place
// when the program changed its value (dropped when it went back to absent), and known options
// that have no field yet appended.
std::vector<std::string> FormatEffectOptions(const EffectOptions& options);

// One loaded sound of an effect.
struct EffectSound {
    SoundBufferPtr pBuffer;
    std::uint32_t dwDataLength = 0;
    std::optional<Loudness> loudness; // window thread only
};

struct EffectEntry {
    SoundBufferPtr pBuffer;         // the loaded sound; empty when the WAVE file was not available
    std::uint32_t dwDataLength = 0; // sample bytes in pBuffer; 0 = not loaded, never played
    std::string strName;            // CP932
    std::string strWavePath;        // CP932, as entered or as the file holds it
    SharedInt32 nModifiers;         // bit 0 Alt, bit 1 Ctrl, bit 2 Shift
    SharedInt32 nKey;               // virtual-key code; 0 = no hotkey
    SharedInt32 nPan;               // -10000 left .. 10000 right
    SharedInt32 nVolume;            // -10000 silent .. 0 full
    SharedInt32 nRepeat;            // 0 = until stopped
    SharedInt32 nInterval;          // ms between starts; 0 = the sound's own length
    std::uint8_t bKeyHeld = 0;      // key latch; window thread only
    EffectOptions options;          // window thread only
    std::optional<Loudness> loudness; // of the loaded sound, once measured; window thread only
    // The sounds of options.files, in order, loaded with the set; window thread only.
    std::vector<EffectSound> extraSounds;
    int nLastPick = -1; // the sound the last start took; window thread only

    // Whether the effect can sound: its WAVE file, and every added one, was found and loaded.
    bool IsAvailable() const;
    // Which sound the next start plays (0 its own, k the k-th added), by options.pick; a
    // random pick never takes the last one again. Window thread only.
    int PickSound();
    // The sound at a pick: 0 the entry's own fields, k its k-th added sound.
    EffectSound SoundAt(int pick) const;
};

using EffectEntryPtr = std::shared_ptr<EffectEntry>;

class EffectTable {
public:
    int GetSize() const { return static_cast<int>(m_entries.size()); }
    // The entry at a position 0 .. size-1; the caller may change it in place.
    EffectEntry& GetAt(int index) const { return *m_entries.at(static_cast<size_t>(index)); }
    // The shared handle that list rows and playbacks keep.
    const EffectEntryPtr& GetPtrAt(int index) const {
        return m_entries.at(static_cast<size_t>(index));
    }
    // Appends a copy of the entry (latch cleared) and returns its position.
    int Add(const EffectEntry& entry);
    // Drops the entry at a position; later entries move down by one. Buffers are not released.
    void RemoveAt(int index);
    // Drops every entry. Buffers are not released.
    void RemoveAll() { m_entries.clear(); }
    // Position of an entry, or -1.
    int IndexOf(const EffectEntry* entry) const;

private:
    std::vector<EffectEntryPtr> m_entries;
};
