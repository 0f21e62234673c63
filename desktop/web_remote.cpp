// SPDX-License-Identifier: GPL-3.0-or-later
#include "desktop/web_remote.h"

#include "core/web_request.h"

#include <QFile>
#include <QHostAddress>
#include <QNetworkInterface>
#include <QPointer>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>
#include <QWebSocket>
#include <QWebSocketServer>

#include <utility>

namespace {

// The page, compiled in: nothing a request names is ever looked up on the disk.
const std::string& PageBytes() {
    static const std::string page = [] {
        QFile file(QStringLiteral(":/otomaru/web/remote.html"));
        if (!file.open(QIODevice::ReadOnly))
            return std::string();
        const QByteArray bytes = file.readAll();
        return std::string(bytes.constData(), static_cast<std::size_t>(bytes.size()));
    }();
    return page;
}

} // namespace

CWebRemote::CWebRemote(Handler handler, QObject* parent)
    : QObject(parent), m_handler(std::move(handler)) {}

CWebRemote::~CWebRemote() {
    Stop();
}

bool CWebRemote::IsListening() const {
    return m_pServer && m_pServer->isListening();
}

quint16 CWebRemote::Port() const {
    return m_pServer ? m_pServer->serverPort() : 0;
}

bool CWebRemote::Start(quint16 port, const std::string& address, std::string token,
                       QString* error) {
    Q_INIT_RESOURCE(web_remote);
    Stop();
    m_strToken = std::move(token);
    auto server = std::make_unique<QTcpServer>();
    const QHostAddress host = address.empty() ? QHostAddress(QHostAddress::LocalHost)
                                              : QHostAddress(QString::fromStdString(address));
    if (host.isNull() || !server->listen(host, port)) {
        if (error)
            *error = host.isNull() ? QString::fromStdString(address) : server->errorString();
        return false;
    }
    server->setParent(this);
    m_pServer = server.release();
    connect(m_pServer, &QTcpServer::newConnection, this, &CWebRemote::OnNewConnection);
    // Never listens itself: it only takes over connections whose upgrade was read and allowed.
    m_pEvents =
        new QWebSocketServer(QStringLiteral("Otomaru"), QWebSocketServer::NonSecureMode, this);
    connect(m_pEvents, &QWebSocketServer::newConnection, this, &CWebRemote::OnNewListener);
    return true;
}

void CWebRemote::Stop() {
    // Their disconnected handlers edit the sets: the loops run over copies.
    const QSet<QWebSocket*> listeners = std::exchange(m_listeners, {});
    for (QWebSocket* listener : listeners)
        listener->abort();
    if (!listeners.isEmpty())
        emit ListenerCountChanged(0);
    const QList<QTcpSocket*> connections = std::exchange(m_connections, {});
    for (QTcpSocket* socket : connections)
        socket->abort();
    m_busy.clear();
    // Later, not now: a command may have run the window's loop from one of these sockets' own
    // signal, which is still on the stack.
    if (m_pEvents)
        m_pEvents->deleteLater();
    m_pEvents = nullptr;
    if (m_pServer) {
        m_pServer->close();
        m_pServer->deleteLater(); // its connections with it
    }
    m_pServer = nullptr;
}

void CWebRemote::Broadcast(const std::string& json) {
    if (m_listeners.isEmpty())
        return;
    const QString text = QString::fromUtf8(json.data(), static_cast<qsizetype>(json.size()));
    for (QWebSocket* listener : std::as_const(m_listeners))
        listener->sendTextMessage(text);
}

void CWebRemote::OnNewConnection() {
    while (QTcpSocket* socket = m_pServer->nextPendingConnection()) {
        if (m_connections.size() >= kMaxConnections) {
            QTcpSocket* oldest = m_connections.takeFirst();
            m_busy.remove(oldest);
            oldest->abort();
            oldest->deleteLater();
        }
        m_connections.append(socket);
        // Answers and news are small writes: Nagle would hold each back for the peer's ack.
        socket->setSocketOption(QAbstractSocket::LowDelayOption, 1);
        // Qt keeps no more than one request's worth; the reader refuses longer ones first.
        socket->setReadBufferSize(static_cast<qint64>(kMaxHttpHead + kMaxHttpBody + 8));
        connect(socket, &QTcpSocket::readyRead, this, [this, socket] { OnReadyRead(socket); });
        connect(socket, &QTcpSocket::disconnected, this, [this, socket] {
            m_connections.removeOne(socket);
            m_busy.remove(socket);
            socket->deleteLater();
        });
    }
}

void CWebRemote::Answer(QTcpSocket* socket, const std::string& bytes, bool close) {
    socket->write(bytes.data(), static_cast<qint64>(bytes.size()));
    if (close)
        socket->disconnectFromHost(); // after what was written has gone
}

void CWebRemote::OnReadyRead(QTcpSocket* socket) {
    if (m_busy.contains(socket))
        return;
    // Peeked, not read: an upgrade's bytes must still be there for the WebSocket server.
    while (socket->bytesAvailable() > 0 && socket->state() == QAbstractSocket::ConnectedState) {
        const QByteArray peeked = socket->peek(socket->bytesAvailable());
        std::string buffer(peeked.constData(), static_cast<std::size_t>(peeked.size()));
        HttpRequest request;
        int status = 0;
        const RemoteParse parse = TakeHttpRequest(buffer, request, status);
        if (parse == RemoteParse::Incomplete)
            return;
        if (parse == RemoteParse::Bad) {
            socket->read(peeked.size());
            Answer(socket, FormatWebError(status, "request", true), true);
            return;
        }
        const WebRoute route = RouteWebRequest(request, m_strToken);
        if (route.target == WebTarget::Events) {
            disconnect(socket, nullptr, this, nullptr);
            m_connections.removeOne(socket);
            socket->setReadBufferSize(0);
            socket->setParent(m_pEvents);
            m_pEvents->handleConnection(socket);
            return;
        }
        socket->read(peeked.size() - static_cast<qint64>(buffer.size()));
        const bool close = request.bClose || route.target == WebTarget::Refuse;
        switch (route.target) {
        case WebTarget::Refuse:
            if (route.bBadToken) {
                // Held back on a timer that exists only for this answer, so that guessing is slow
                // and the window's thread never waits.
                m_busy.insert(socket);
                QTimer::singleShot(kBadTokenDelayMs, socket, [this, socket, route] {
                    Answer(socket, FormatWebError(route.nStatus, route.strMessage, true), true);
                });
                return;
            }
            Answer(socket, FormatWebError(route.nStatus, route.strMessage, true), true);
            return;
        case WebTarget::Page:
            Answer(socket, FormatHttpResponse(200, "text/html; charset=utf-8", PageBytes(), close),
                   close);
            break;
        case WebTarget::Command: {
            // A command may run the window's loop (a set being read): this connection waits, and
            // may be gone when it returns.
            QPointer<QTcpSocket> guard(socket);
            m_busy.insert(socket);
            const RemoteReply reply = m_handler ? m_handler(route.request) : RemoteReply{1, {}};
            if (!guard || !m_connections.contains(socket))
                return;
            m_busy.remove(socket);
            Answer(socket, FormatWebReply(route.request, reply, close), close);
            break;
        }
        case WebTarget::Events:
            break;
        }
        if (close)
            return;
    }
}

void CWebRemote::OnNewListener() {
    while (QWebSocket* listener = m_pEvents->nextPendingConnection()) {
        listener->setParent(this);
        listener->setMaxAllowedIncomingFrameSize(kMaxEventMessage);
        listener->setMaxAllowedIncomingMessageSize(kMaxEventMessage);
        m_listeners.insert(listener);
        connect(listener, &QWebSocket::disconnected, this, [this, listener] {
            if (m_listeners.remove(listener))
                emit ListenerCountChanged(ListenerCount());
            listener->deleteLater();
        });
        emit ListenerCountChanged(ListenerCount());
        // The page learns the whole state first, then only what changes.
        if (const QString state = StateMessage(); !state.isEmpty())
            listener->sendTextMessage(state);
    }
}

QString CWebRemote::StateMessage() {
    const RemoteReply state = m_handler ? m_handler({RemoteVerb::Effects, {}}) : RemoteReply{1, {}};
    if (state.nStatus != 0)
        return {};
    return QStringLiteral("{\"type\":\"state\",\"state\":") +
           QString::fromUtf8(state.strText.data(), static_cast<qsizetype>(state.strText.size())) +
           QLatin1Char('}');
}

void CWebRemote::BroadcastState() {
    if (m_listeners.isEmpty())
        return;
    if (const QString state = StateMessage(); !state.isEmpty())
        for (QWebSocket* listener : std::as_const(m_listeners))
            listener->sendTextMessage(state);
}

QString WebRemoteUrl(quint16 port, const std::string& address, const std::string& token) {
    QString host = address.empty() ? QStringLiteral("127.0.0.1") : QString::fromStdString(address);
    if (QHostAddress(host) == QHostAddress(QHostAddress::AnyIPv4)) {
        // The first address another machine can reach; a phone cannot open 127.0.0.1.
        for (const QHostAddress& own : QNetworkInterface::allAddresses()) {
            if (own.protocol() == QAbstractSocket::IPv4Protocol && !own.isLoopback() &&
                !own.isLinkLocal()) {
                host = own.toString();
                break;
            }
        }
    }
    return QStringLiteral("http://%1:%2/?token=%3")
        .arg(host)
        .arg(port)
        .arg(QString::fromLatin1(token.data(), static_cast<qsizetype>(token.size())));
}
