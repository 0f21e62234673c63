// SPDX-License-Identifier: GPL-3.0-or-later
// The sound-source file: Shift-JIS text, line 1 "MOK_FILE", line 2 the WAVE directory, then one
// effect per line "%s,%s,%d,%d,%d,%d,%d,%d"; lines starting with "/" are comments.
#pragma once

#include "audio/sound_device.h"
#include "model/effect_table.h"

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

// Loads a WAVE file (full CP932 path) into a new buffer; returns the data length, 0 = failed.
using WaveLoader = std::function<std::uint32_t(const std::string& fullPath, SoundBufferSlot& slot)>;

// The sound at a full CP932 path: empty when the file is not there or does not load (the loader
// has said why).
EffectSound LoadEffectSound(const WaveLoader& load, const std::string& fullPath);

// Empties the table, then reads the file. Returns true when the file opened and its first two
// lines were valid: the WAVE directory is then set and the table refilled (the caller rebuilds
// the effect list). Effects whose WAVE file is missing or does not load are kept without a sound.
// Failures are reported by message (caption "Otomaru"); `shown`, when given, receives the text
// of that message (empty after a whole read). The set file's path is the system's (see
// JoinOsPath); the WAVE paths in it are CP932, relative to the current directory.
bool ReadSetFile(const std::string& path, EffectTable& table, std::string& waveDir,
                 const WaveLoader& load, std::string* shown = nullptr);

// Writes the set through a temporary file renamed over the old one. On any failure the old file
// stays as it was and "<path>に書き込み出来ません。" is shown; returns false.
bool WriteSetFile(const std::string& path, const std::string& waveDir, const EffectTable& table);

// A name or path a sound-source line can carry: no comma (the field delimiter) and no line
// break. Bytes are walked as CP932 characters.
bool IsStorableFieldText(std::string_view cp932);
// The refusal of a text the set file or Otomaru.ini could only store altered (CP932).
const std::string& UnholdableTextMessage();
// Removes trailing spaces, CRs and LFs.
void TrimLineEnd(std::string& line);
// Splits `line` in place at `delimiter` (Shift-JIS aware) into at most slotCount fields; returns
// how many slots received one.
int SplitFields(char* line, char delimiter, char** slots, int slotCount);
// Whether something (a file or a directory) exists at the CP932 path. A path ending in a
// separator names nothing, as the designed platform's directory search found nothing for it.
bool FileExists(const std::string& path);
// The same for a path in the system's encoding (the set file's own path).
bool OsPathExists(const std::string& osPath);
// The path a WAVE path text names: the WAVE directory followed directly by the text when the
// text holds no backslash, the text unchanged otherwise.
std::string ResolveWavePath(const std::string& waveDir, const std::string& pathText);
