// SPDX-License-Identifier: GPL-3.0-or-later
// The worker's debug lines ("%d\n", "Play Error!\n") go to one process-wide sink: silent unless
// something listens (tests, or OTOMARU_DEBUG=1 on stderr).
#pragma once

#include <functional>
#include <string_view>

using DebugListener = std::function<void(std::string_view line)>;

// Installs a listener and returns the previous one. Listeners may be called from any thread.
DebugListener SetDebugListener(DebugListener listener);

void OutputDebugStringA(std::string_view text);
