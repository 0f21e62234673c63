// SPDX-License-Identifier: GPL-3.0-or-later
// OSC control's messages: what a datagram asks of the remote's commands, and the datagrams sent
// back. Only messages under /otomaru/ with exactly the arguments named are taken; anything else
// is dropped unanswered, so a stray sender on the port cannot make us talk.
#pragma once

#include "core/remote_protocol.h"

#include <cstddef>
#include <string>
#include <vector>

enum class OscAsk { Nothing, Command, Subscribe, Unsubscribe };

struct OscRequest {
    OscAsk ask = OscAsk::Nothing;
    RemoteRequest request; // for Command
};

// Larger datagrams are dropped unread.
constexpr std::size_t kMaxOscDatagram = 8192;

// /otomaru/play ,s NAME; /otomaru/play_key ,s KEY; /otomaru/stop ,s NAME; /otomaru/stop_all;
// /otomaru/subscribe; /otomaru/unsubscribe. Texts must be UTF-8.
OscRequest ReadOscDatagram(const void* data, std::size_t size);

// One message with one string argument; empty when it cannot be made.
std::vector<char> MakeOscDatagram(const char* path, const std::string& text);
