// SPDX-License-Identifier: GPL-3.0-or-later
#include "desktop/remote.h"
#include "desktop/texts.h"

#include <QDBusAbstractAdaptor>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QLocalServer>
#include <QLocalSocket>
#include <QLockFile>
#include <QPointer>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// FNV-1a of the folder's real path: a short, stable name without the path's own characters.
QString FolderTag(const std::string& dataFolder) {
    std::error_code ec;
    std::filesystem::path path = std::filesystem::weakly_canonical(dataFolder, ec);
    std::string bytes = ec ? dataFolder : path.string();
    while (bytes.size() > 1 && bytes.back() == '/')
        bytes.pop_back();
    std::uint64_t hash = 14695981039346656037ull;
    for (unsigned char c : bytes) {
        hash ^= c;
        hash *= 1099511628211ull;
    }
    return QString::number(hash, 16).rightJustified(16, QLatin1Char('0'));
}

constexpr int kClientTimeoutMs = 5000;

} // namespace

// The bus face of the server: one method per verb.
class CRemoteBusObject : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.otomaru.Remote")
public:
    explicit CRemoteBusObject(CRemoteServer& server) : QObject(&server), m_server(server) {}

public slots:
    // Each answers the exit status (0 done, 1 failed) and the text: the list, or why it failed.
    Q_SCRIPTABLE int Play(const QString& name, QString& text) {
        return Run(RemoteVerb::Play, name, text);
    }
    Q_SCRIPTABLE int PlayKey(const QString& hotkey, QString& text) {
        return Run(RemoteVerb::PlayKey, hotkey, text);
    }
    Q_SCRIPTABLE int Stop(const QString& name, QString& text) {
        return Run(RemoteVerb::Stop, name, text);
    }
    Q_SCRIPTABLE int StopAll(QString& text) { return Run(RemoteVerb::StopAll, {}, text); }
    Q_SCRIPTABLE int List(QString& text) { return Run(RemoteVerb::List, {}, text); }
    Q_SCRIPTABLE int Activate(QString& text) { return Run(RemoteVerb::Activate, {}, text); }
    Q_SCRIPTABLE int WebUrl(QString& text) { return Run(RemoteVerb::WebUrl, {}, text); }

private:
    int Run(RemoteVerb verb, const QString& argument, QString& text) {
        const QByteArray utf8 = argument.toUtf8();
        const RemoteReply reply = m_server.Handle(
            {verb, std::string(utf8.constData(), static_cast<std::size_t>(utf8.size()))});
        text = QString::fromStdString(reply.strText);
        return reply.nStatus;
    }
    CRemoteServer& m_server;
};

QString RemoteServiceName(const std::string& dataFolder) {
    return QStringLiteral("org.otomaru.Otomaru.d") + FolderTag(dataFolder);
}

namespace {

// The session's runtime folder; without one (a bare X server, a script run from cron) a folder of
// our own in /tmp, used only while it is the user's and private to it.
QString RuntimeFolder() {
    const QByteArray runtime = qgetenv("XDG_RUNTIME_DIR");
    if (!runtime.isEmpty())
        return QString::fromLocal8Bit(runtime);
    const std::string own = "/tmp/otomaru-" + std::to_string(getuid());
    if (mkdir(own.c_str(), 0700) != 0 && errno != EEXIST)
        return {};
    struct stat st {};
    if (lstat(own.c_str(), &st) != 0 || !S_ISDIR(st.st_mode) || st.st_uid != getuid() ||
        (st.st_mode & 077) != 0)
        return {};
    return QString::fromLocal8Bit(own.c_str());
}

} // namespace

QString RemoteSocketPath(const std::string& dataFolder) {
    const QString runtime = RuntimeFolder();
    if (runtime.isEmpty())
        return {};
    return runtime + QStringLiteral("/otomaru-") + FolderTag(dataFolder) + QStringLiteral(".sock");
}

CRemoteServer::CRemoteServer(std::string dataFolder, QObject* parent)
    : QObject(parent), m_strDataFolder(std::move(dataFolder)) {}

CRemoteServer::~CRemoteServer() {
    if (m_bOnBus) {
        QDBusConnection bus = QDBusConnection::sessionBus();
        bus.unregisterObject(QString::fromLatin1(kRemoteObjectPath));
        bus.unregisterService(RemoteServiceName(m_strDataFolder));
    }
}

bool CRemoteServer::OnSocket() const {
    return m_pSocketServer && m_pSocketServer->isListening();
}

bool CRemoteServer::Listen() {
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (bus.isConnected()) {
        const QString service = RemoteServiceName(m_strDataFolder);
        const auto registered =
            bus.interface()->registerService(service, QDBusConnectionInterface::DontQueueService,
                                             QDBusConnectionInterface::DontAllowReplacement);
        if (registered.isValid() &&
            registered.value() == QDBusConnectionInterface::ServiceRegistered) {
            m_pBusObject = new CRemoteBusObject(*this);
            m_bOnBus = bus.registerObject(QString::fromLatin1(kRemoteObjectPath), m_pBusObject,
                                          QDBusConnection::ExportScriptableSlots);
        } else if (registered.isValid()) {
            return false; // the folder's name is taken: its instance runs
        }
    }

    const QString path = RemoteSocketPath(m_strDataFolder);
    if (path.isEmpty())
        return true;
    // Qt's listen takes the name over from a running instance, so the lock decides first. A lock
    // or socket file left by an instance that ended abruptly is not held by a live process.
    m_pLock = std::make_unique<QLockFile>(path + QStringLiteral(".lock"));
    m_pLock->setStaleLockTime(0);
    if (!m_pLock->tryLock(0)) {
        if (m_pLock->error() == QLockFile::LockFailedError)
            return false;
        std::fprintf(stderr, texts::kCannotLock, qPrintable(path));
    }
    QLocalServer::removeServer(path);
    auto server = std::make_unique<QLocalServer>();
    server->setSocketOptions(QLocalServer::UserAccessOption);
    if (!server->listen(path)) {
        std::fprintf(stderr, texts::kCannotListen, qPrintable(path),
                     qPrintable(server->errorString()));
        return true;
    }
    server->setParent(this);
    m_pSocketServer = server.release();
    connect(m_pSocketServer, &QLocalServer::newConnection, this, &CRemoteServer::OnNewConnection);
    return true;
}

RemoteReply CRemoteServer::Handle(const RemoteRequest& request) {
    if (!m_handler)
        return {1, {}};
    return m_handler(request);
}

void CRemoteServer::OnNewConnection() {
    while (QLocalSocket* socket = m_pSocketServer->nextPendingConnection()) {
        connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
        connect(socket, &QLocalSocket::readyRead, this, [this, socket] { OnReadyRead(socket); });
    }
}

void CRemoteServer::OnReadyRead(QLocalSocket* socket) {
    // What came so far waits in the socket's own buffer until a whole line is there.
    if (!socket->canReadLine()) {
        if (socket->bytesAvailable() > static_cast<qint64>(kMaxRemoteMessage))
            socket->abort();
        return;
    }
    const QByteArray line = socket->readLine(static_cast<qint64>(kMaxRemoteMessage) + 2);
    std::string buffer(line.constData(), static_cast<std::size_t>(line.size()));
    RemoteRequest request;
    if (TakeRemoteRequest(buffer, request) != RemoteParse::Done) {
        socket->abort();
        return;
    }
    const std::string reply = FormatRemoteReply(Handle(request));
    socket->write(reply.data(), static_cast<qint64>(reply.size()));
    socket->disconnectFromServer(); // after the reply has been written
}

namespace {

std::optional<RemoteReply> SendOverBus(const std::string& dataFolder,
                                       const RemoteRequest& request) {
    QDBusConnection bus = QDBusConnection::sessionBus();
    // Asked first rather than learnt from a failed call: a process that ended right after an
    // error reply had Qt's bus thread print type-registry complaints on standard error.
    if (!bus.isConnected() || !bus.interface()->isServiceRegistered(RemoteServiceName(dataFolder)))
        return std::nullopt;
    QDBusMessage call = QDBusMessage::createMethodCall(
        RemoteServiceName(dataFolder), QString::fromLatin1(kRemoteObjectPath),
        QString::fromLatin1(kRemoteInterface), QString::fromLatin1(RemoteVerbName(request.verb)));
    if (RemoteVerbTakesArgument(request.verb))
        call << QString::fromUtf8(request.strArgument.data(),
                                  static_cast<qsizetype>(request.strArgument.size()));
    const QDBusMessage answer = bus.call(call, QDBus::Block, kClientTimeoutMs);
    const QVariantList values = answer.arguments();
    if (answer.type() != QDBusMessage::ReplyMessage || values.size() != 2)
        return std::nullopt;
    const int status = values[0].toInt();
    return RemoteReply{status == 0 ? 0 : 1, values[1].toString().toStdString()};
}

std::optional<RemoteReply> SendOverSocket(const std::string& dataFolder,
                                          const RemoteRequest& request) {
    const QString path = RemoteSocketPath(dataFolder);
    if (path.isEmpty())
        return std::nullopt;
    QLocalSocket socket;
    socket.connectToServer(path);
    if (!socket.waitForConnected(kClientTimeoutMs))
        return std::nullopt;
    const std::string message = FormatRemoteRequest(request);
    socket.write(message.data(), static_cast<qint64>(message.size()));
    std::string buffer;
    RemoteReply reply;
    for (;;) {
        switch (TakeRemoteReply(buffer, reply)) {
        case RemoteParse::Done:
            return reply;
        case RemoteParse::Bad:
            return std::nullopt;
        case RemoteParse::Incomplete:
            break;
        }
        if (!socket.bytesAvailable() && !socket.waitForReadyRead(kClientTimeoutMs))
            return std::nullopt;
        const QByteArray chunk = socket.readAll();
        buffer.append(chunk.constData(), static_cast<std::size_t>(chunk.size()));
    }
}

} // namespace

std::optional<RemoteReply> SendRemoteRequest(const std::string& dataFolder,
                                             const RemoteRequest& request) {
    if (std::optional<RemoteReply> reply = SendOverBus(dataFolder, request))
        return reply;
    return SendOverSocket(dataFolder, request);
}

#include "remote.moc"
