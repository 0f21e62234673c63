// SPDX-License-Identifier: GPL-3.0-or-later
#include "desktop/osc_remote.h"

#include "base/message.h"
#include "base/text.h"
#include "core/osc_message.h"
#include "core/remote_command.h"
#include "desktop/texts.h"

#include <QSocketNotifier>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <netdb.h>
#include <netinet/in.h>
#include <unistd.h>

namespace {

// A wake-up reads at most this many, so a flood cannot hold the window; the rest wake it again.
constexpr int kDatagramsPerWake = 64;

} // namespace

bool COscRemote::Peer::operator==(const Peer& other) const {
    return length == other.length && std::memcmp(&address, &other.address, length) == 0;
}

COscRemote::COscRemote(QObject* parent) : QObject(parent), m_buffer(kMaxOscDatagram + 1) {}

COscRemote::~COscRemote() {
    if (!m_subscribers.empty() && m_newsWanted)
        m_newsWanted(false);
    if (m_fd >= 0)
        ::close(m_fd);
}

bool COscRemote::Listen(const std::string& address, std::uint16_t port, std::string& error) {
    // Numeric only: a name to look up would block the window's thread on the resolver.
    addrinfo hints{};
    hints.ai_flags = AI_NUMERICHOST | AI_NUMERICSERV | AI_PASSIVE;
    hints.ai_socktype = SOCK_DGRAM;
    addrinfo* found = nullptr;
    if (const int rc = getaddrinfo(address.c_str(), std::to_string(port).c_str(), &hints, &found);
        rc != 0) {
        error = gai_strerror(rc);
        return false;
    }
    const std::unique_ptr<addrinfo, decltype(&freeaddrinfo)> owned(found, &freeaddrinfo);
    const int fd = ::socket(found->ai_family, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0 || ::bind(fd, found->ai_addr, found->ai_addrlen) != 0) {
        error = std::strerror(errno);
        if (fd >= 0)
            ::close(fd);
        return false;
    }
    m_fd = fd;
    m_pNotifier = new QSocketNotifier(static_cast<qintptr>(fd), QSocketNotifier::Read, this);
    connect(m_pNotifier, &QSocketNotifier::activated, this, &COscRemote::ReadPending);
    return true;
}

std::uint16_t COscRemote::Port() const {
    sockaddr_storage address{};
    socklen_t length = sizeof address;
    if (m_fd < 0 || getsockname(m_fd, reinterpret_cast<sockaddr*>(&address), &length) != 0)
        return 0;
    const in_port_t port = address.ss_family == AF_INET6
                               ? reinterpret_cast<const sockaddr_in6&>(address).sin6_port
                               : reinterpret_cast<const sockaddr_in&>(address).sin_port;
    return ntohs(port);
}

void COscRemote::ReadPending() {
    for (int i = 0; i < kDatagramsPerWake; ++i) {
        Peer from;
        from.length = sizeof from.address;
        const ssize_t got = ::recvfrom(m_fd, m_buffer.data(), m_buffer.size(), MSG_TRUNC,
                                       reinterpret_cast<sockaddr*>(&from.address), &from.length);
        if (got < 0) {
            if (errno == EINTR)
                continue;
            return; // drained, or an error the next datagram does not share
        }
        // MSG_TRUNC gives the datagram's real size: one too long is dropped whole.
        if (static_cast<std::size_t>(got) <= kMaxOscDatagram)
            Take(m_buffer.data(), static_cast<std::size_t>(got), from);
    }
}

void COscRemote::Take(const char* data, std::size_t size, const Peer& from) {
    const OscRequest asked = ReadOscDatagram(data, size);
    switch (asked.ask) {
    case OscAsk::Nothing:
        return;
    case OscAsk::Subscribe:
        if (std::find(m_subscribers.begin(), m_subscribers.end(), from) != m_subscribers.end())
            return;
        if (m_subscribers.size() == kMaxSubscribers)
            m_subscribers.erase(m_subscribers.begin());
        m_subscribers.push_back(from);
        if (m_subscribers.size() == 1 && m_newsWanted)
            m_newsWanted(true);
        return;
    case OscAsk::Unsubscribe: {
        const std::size_t before = m_subscribers.size();
        std::erase(m_subscribers, from);
        if (before != 0 && m_subscribers.empty() && m_newsWanted)
            m_newsWanted(false);
        return;
    }
    case OscAsk::Command:
        break;
    }
    const RemoteReply reply = m_handler ? m_handler(asked.request) : RemoteReply{1, {}};
    if (reply.nStatus == 0)
        return;
    std::string text = reply.strText;
    while (!text.empty() && text.back() == '\n')
        text.pop_back();
    Send(from, MakeOscDatagram("/otomaru/error", text));
}

void COscRemote::Tell(const PlayNews& news) {
    if (m_subscribers.empty())
        return;
    const std::vector<char> datagram =
        MakeOscDatagram(news.bStarted ? "/otomaru/playing" : "/otomaru/stopped", news.strName);
    for (const Peer& peer : m_subscribers)
        Send(peer, datagram);
}

void COscRemote::Send(const Peer& to, const std::vector<char>& datagram) const {
    // Never waits: a full socket buffer loses this one message.
    if (!datagram.empty())
        ::sendto(m_fd, datagram.data(), datagram.size(), MSG_DONTWAIT | MSG_NOSIGNAL,
                 reinterpret_cast<const sockaddr*>(&to.address), to.length);
}

std::unique_ptr<COscRemote> StartOscRemote(CSetController& controller) {
    const AppSettings& settings = controller.Settings();
    if (settings.m_nOscPort == 0)
        return nullptr;
    auto osc = std::make_unique<COscRemote>();
    std::string error;
    if (!osc->Listen(settings.m_strOscAddress, settings.m_nOscPort, error)) {
        char text[512];
        std::snprintf(text, sizeof text, texts::kOscCannotListen,
                      Utf8FromCp932(settings.m_strOscAddress).c_str(), settings.m_nOscPort,
                      error.c_str());
        AfxMessageBox(Cp932FromUtf8(text), MB_ICONEXCLAMATION);
        return nullptr;
    }
    osc->SetHandler(
        [&controller](const RemoteRequest& r) { return RunRemoteRequest(r, controller); });
    osc->SetNewsWanted([&controller, raw = osc.get(), handle = 0](bool on) mutable {
        if (on)
            handle = controller.AddPlayNewsListener([raw](const PlayNews& n) { raw->Tell(n); });
        else
            controller.RemovePlayNewsListener(handle);
    });
    return osc;
}
