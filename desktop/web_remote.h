// SPDX-License-Identifier: GPL-3.0-or-later
// The web remote: the page and the JSON API over HTTP/1.1, and the play list's news over a
// WebSocket, for a phone, a tablet or a Stream Deck. Requests are read by core/web_request and
// carried out by the same handler as the command-line remote, on this object's thread.
#pragma once

#include "core/remote_protocol.h"

#include <QList>
#include <QObject>
#include <QSet>
#include <QString>

#include <functional>
#include <string>

class QTcpServer;
class QTcpSocket;
class QWebSocket;
class QWebSocketServer;

class CWebRemote : public QObject {
    Q_OBJECT
public:
    using Handler = std::function<RemoteReply(const RemoteRequest&)>;
    static constexpr quint16 kDefaultPort = 8470;
    // Beyond this many open connections the one open longest is closed for the new one: a peer
    // that opens connections and never finishes a request cannot lock the phone out.
    static constexpr int kMaxConnections = 64;
    static constexpr int kBadTokenDelayMs = 400;
    static constexpr int kMaxEventMessage = 4096;

    explicit CWebRemote(Handler handler, QObject* parent = nullptr);
    ~CWebRemote() override;

    // Listens on `address` (empty: 127.0.0.1; "0.0.0.0": every address); false with the reason
    // when the port is taken or the address is not one. Port 0 takes a free one (tests).
    bool Start(quint16 port, const std::string& address, std::string token, QString* error);
    void Stop();
    bool IsListening() const;
    quint16 Port() const;
    // Sends one JSON text to every page that listens for news.
    void Broadcast(const std::string& json);
    // Sends the whole state again (another set, changed effects) to every listening page.
    void BroadcastState();
    int ListenerCount() const { return static_cast<int>(m_listeners.size()); }

signals:
    // A page began or stopped listening for news.
    void ListenerCountChanged(int count);

private:
    void OnNewConnection();
    void OnReadyRead(QTcpSocket* socket);
    void OnNewListener();
    void Answer(QTcpSocket* socket, const std::string& bytes, bool close);
    // {"type":"state","state":<the effects>}; empty while no set is open.
    QString StateMessage();

    Handler m_handler;
    std::string m_strToken;
    QTcpServer* m_pServer = nullptr;
    QWebSocketServer* m_pEvents = nullptr;
    QList<QTcpSocket*> m_connections; // oldest first
    // Connections whose answer is being made or held back: their further bytes wait.
    QSet<QTcpSocket*> m_busy;
    QSet<QWebSocket*> m_listeners;
};

// The address a browser opens: the page with its token, at the address listened on, or for every
// address at this machine's first LAN address.
QString WebRemoteUrl(quint16 port, const std::string& address, const std::string& token);
