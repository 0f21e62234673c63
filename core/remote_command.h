// SPDX-License-Identifier: GPL-3.0-or-later
// The remote's commands carried out on the open set: play by name, play by hotkey text, stop
// by name, stop all, list. Names and hotkeys are matched as the effect list shows them, in UTF-8.
#pragma once

#include "core/remote_protocol.h"

#include <string_view>

class CSetController;

// Runs every verb but Activate and WebUrl, which belong to the window and fail here.
RemoteReply RunRemoteRequest(const RemoteRequest& request, CSetController& controller);
