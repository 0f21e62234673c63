// SPDX-License-Identifier: GPL-3.0-or-later
// Replacing a file so that a crash, a full disk or a failing write never leaves it half written:
// the data goes to a temporary file beside it, is synced, and is renamed over the old file.
#pragma once

#include <functional>
#include <string>
#include <string_view>

// The steps of one replacement, in order.
enum class AtomicWriteStep { Create, Write, Sync, Close, Rename };

// Writes `data` to the host path (UTF-8). Returns false on any failure; the old file is then
// exactly as it was and no temporary file is left behind. A file that exists but cannot be
// opened for writing, or is no regular file, is refused. A symbolic link stays a link: the file
// it points at is replaced in its own folder. A file with other hard links is rewritten in
// place once the new content is safe in the temporary. The replaced file keeps its permission
// bits.
bool WriteFileAtomically(const std::string& osPath, std::string_view data);

// Test seam for failures that cannot be produced on demand (a sync or rename that fails):
// called before each step (before every chunk of the Write step); a non-zero result makes that
// step fail with that errno value. Returns the previous function.
using AtomicWriteFault = std::function<int(AtomicWriteStep step)>;
AtomicWriteFault SetAtomicWriteFault(AtomicWriteFault fault);
