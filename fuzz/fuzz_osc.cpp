// SPDX-License-Identifier: GPL-3.0-or-later
// Arbitrary datagrams on the OSC port: whatever is taken carries a well-formed UTF-8 name, and a
// command taken reads back the same from the message we would write for it.
#include "base/text.h"
#include "core/osc_message.h"

#include <cstdint>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const OscRequest asked = ReadOscDatagram(data, size);
    if (asked.ask != OscAsk::Command || !RemoteVerbTakesArgument(asked.request.verb))
        return 0;
    const std::string& name = asked.request.strArgument;
    if (!IsValidUtf8(name) || name.find('\0') != std::string::npos)
        __builtin_trap();
    const char* path = asked.request.verb == RemoteVerb::Play      ? "/otomaru/play"
                       : asked.request.verb == RemoteVerb::PlayKey ? "/otomaru/play_key"
                                                                   : "/otomaru/stop";
    const std::vector<char> again = MakeOscDatagram(path, name);
    const OscRequest back = ReadOscDatagram(again.data(), again.size());
    if (back.ask != OscAsk::Command || !(back.request == asked.request))
        __builtin_trap();
    return 0;
}
