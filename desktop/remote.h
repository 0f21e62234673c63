// SPDX-License-Identifier: GPL-3.0-or-later
// The command-line remote and the one-instance-per-data-folder rule. The running instance claims
// its data folder under a name on the session bus and a socket in $XDG_RUNTIME_DIR; a second
// process of the same folder finds it there and sends it one request. Copies in other folders
// use other names and run side by side.
#pragma once

#include "core/remote_protocol.h"

#include <QObject>
#include <QString>

#include <functional>
#include <memory>
#include <optional>
#include <string>

class QLocalServer;
class QLockFile;
class QLocalSocket;

// The names that stand for a data folder (a path in the system's encoding).
QString RemoteServiceName(const std::string& dataFolder);
QString RemoteSocketPath(const std::string& dataFolder); // empty when no private folder is found
inline constexpr const char* kRemoteObjectPath = "/org/otomaru/Remote";
inline constexpr const char* kRemoteInterface = "org.otomaru.Remote";

class CRemoteServer : public QObject {
    Q_OBJECT
public:
    using Handler = std::function<RemoteReply(const RemoteRequest&)>;

    explicit CRemoteServer(std::string dataFolder, QObject* parent = nullptr);
    ~CRemoteServer() override;

    // Claims the folder; false when another running instance holds it. A socket that cannot be
    // opened is reported on standard error; the bus, if any, still serves.
    bool Listen();
    // Requests are answered on this object's thread, one at a time.
    void SetHandler(Handler handler) { m_handler = std::move(handler); }
    RemoteReply Handle(const RemoteRequest& request);
    bool OnBus() const { return m_bOnBus; }
    bool OnSocket() const;

private:
    void OnNewConnection();
    void OnReadyRead(QLocalSocket* socket);

    std::string m_strDataFolder;
    Handler m_handler;
    QLocalServer* m_pSocketServer = nullptr;
    // Held while this instance runs: of two started at the same moment, one gets it.
    std::unique_ptr<QLockFile> m_pLock;
    QObject* m_pBusObject = nullptr;
    bool m_bOnBus = false;
};

// Sends one request to the instance of that folder: over the bus when there is one, else over
// the socket. Empty when no instance answers. Blocks: for the command-line process only.
std::optional<RemoteReply> SendRemoteRequest(const std::string& dataFolder,
                                             const RemoteRequest& request);
