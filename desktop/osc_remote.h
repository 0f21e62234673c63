// SPDX-License-Identifier: GPL-3.0-or-later
// OSC control over UDP: datagrams become the remote's commands on the window's thread, and
// subscribers hear the play list change. The socket is read when the event loop finds it
// readable, so nothing wakes the program while nobody sends.
#pragma once

#include "core/remote_protocol.h"
#include "core/set_controller.h"

#include <QObject>

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <sys/socket.h>
#include <vector>

class QSocketNotifier;

class COscRemote : public QObject {
    Q_OBJECT
public:
    using Handler = std::function<RemoteReply(const RemoteRequest&)>;
    // Called with true as the first subscriber comes and false as the last goes (or this ends).
    using NewsWanted = std::function<void(bool)>;
    // The oldest subscriber makes room for a new one beyond these.
    static constexpr std::size_t kMaxSubscribers = 16;

    explicit COscRemote(QObject* parent = nullptr);
    ~COscRemote() override;

    // Binds the UDP port on a numeric address (0 = any free port); false with the reason.
    bool Listen(const std::string& address, std::uint16_t port, std::string& error);
    std::uint16_t Port() const;
    void SetHandler(Handler handler) { m_handler = std::move(handler); }
    void SetNewsWanted(NewsWanted wanted) { m_newsWanted = std::move(wanted); }
    // /otomaru/playing or /otomaru/stopped with the name, to every subscriber.
    void Tell(const PlayNews& news);
    std::size_t Subscribers() const { return m_subscribers.size(); }

private:
    struct Peer {
        sockaddr_storage address{};
        socklen_t length = 0;
        bool operator==(const Peer& other) const;
    };
    void ReadPending();
    void Take(const char* data, std::size_t size, const Peer& from);
    void Send(const Peer& to, const std::vector<char>& datagram) const;

    int m_fd = -1;
    QSocketNotifier* m_pNotifier = nullptr;
    Handler m_handler;
    NewsWanted m_newsWanted;
    std::vector<Peer> m_subscribers;
    std::vector<char> m_buffer;
};

// OSC control of the controller when Otomaru.ini turns it on: commands go through the one
// command layer, news is gathered only while someone subscribed. A port that cannot be had is
// said in one box; null then, and while OSC is off.
std::unique_ptr<COscRemote> StartOscRemote(CSetController& controller);
