// SPDX-License-Identifier: GPL-3.0-or-later
// What the command-line remote and the running instance say to each other over the local
// socket. D-Bus carries the same requests as method calls; the socket needs its own framing.
// Requests are one line, "<verb>[ <argument>]\n"; replies are "<status> <length>\n" and that many
// bytes of text. Texts are UTF-8, the system's encoding.
#pragma once

#include <cstddef>
#include <string>

// PlayIndex, StopPlayback, ChooseSet and Effects serve the web remote's page; WebUrl and
// Activate belong to the window.
enum class RemoteVerb {
    Play,
    PlayKey,
    Stop,
    StopAll,
    List,
    Activate,
    PlayIndex,    // the effect's row, from 0
    StopPlayback, // a playback's id, as the news gave it
    ChooseSet,    // a set file's name
    Effects,      // the set, the effects and the playbacks as JSON
    WebUrl,
};

struct RemoteRequest {
    RemoteVerb verb = RemoteVerb::List;
    std::string strArgument; // the name, hotkey text, row or id; empty for the others
    bool operator==(const RemoteRequest&) const = default;
};

struct RemoteReply {
    int nStatus = 0;     // 0 done, 1 failed: the process's exit status
    std::string strText; // --list's lines, or the failure's message
    bool operator==(const RemoteReply&) const = default;
};

// Nothing a peer sends is kept beyond this; a longer message ends the connection.
constexpr std::size_t kMaxRemoteMessage = 64 * 1024;

enum class RemoteParse { Incomplete, Done, Bad };

std::string FormatRemoteRequest(const RemoteRequest& request);
std::string FormatRemoteReply(const RemoteReply& reply);
// Takes one whole message off the front of `buffer`. Incomplete leaves the buffer as it was;
// Bad means the peer is not speaking this protocol.
RemoteParse TakeRemoteRequest(std::string& buffer, RemoteRequest& request);
RemoteParse TakeRemoteReply(std::string& buffer, RemoteReply& reply);

// The verb's name on the wire and as the D-Bus method ("Play", "PlayKey", ...).
const char* RemoteVerbName(RemoteVerb verb);
bool RemoteVerbFromName(const std::string& name, RemoteVerb& verb);
// Whether the verb carries a name or hotkey text.
bool RemoteVerbTakesArgument(RemoteVerb verb);
