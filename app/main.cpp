// The application object: sets up Qt and the dialog font, runs the main window modally and
// ends the process when it closes. With a remote option it only sends that command to the
// instance running on the same data folder and exits with its result.
#include "base/message.h"
#include "core/app_settings.h"
#include "core/remote_command.h"
#include "desktop/qt_translations.h"
#include "desktop/remote.h"
#include "ui/dialog_template.h"
#include "ui/icons.h"
#include "ui/message_box.h"
#include "ui/mixer_dlg.h"
#include "ui/mixer_resource.h"

#include <QApplication>

#include <cstdio>
#include <cstring>
#include <optional>

namespace {

// The folder whose sets and Otomaru.ini this process would use, in the system's encoding.
std::string DataFolder() {
    AppSettings settings;
    settings.LocateFiles();
    return settings.m_strExeDir;
}

enum class ArgsResult { Window, Remote, Bad };

ArgsResult ParseRemoteArgs(int argc, char** argv, RemoteRequest& request) {
    struct Option {
        const char* name;
        RemoteVerb verb;
        bool takesValue;
    };
    static const Option kOptions[] = {{"--play", RemoteVerb::Play, true},
                                      {"--play-key", RemoteVerb::PlayKey, true},
                                      {"--stop-all", RemoteVerb::StopAll, false},
                                      {"--list", RemoteVerb::List, false}};
    for (int i = 1; i < argc; ++i) {
        for (const Option& option : kOptions) {
            if (std::strcmp(argv[i], option.name) != 0)
                continue;
            request.verb = option.verb;
            if (!option.takesValue)
                return ArgsResult::Remote;
            if (i + 1 >= argc || argv[i + 1][0] == '\0') {
                std::fprintf(stderr, "otomaru: %s の後に名前を指定してください。\n", option.name);
                return ArgsResult::Bad;
            }
            request.strArgument = argv[i + 1];
            return ArgsResult::Remote;
        }
    }
    return ArgsResult::Window;
}

int RunRemote(int argc, char** argv, const RemoteRequest& request) {
    QCoreApplication app(argc, argv);
    const std::optional<RemoteReply> reply = SendRemoteRequest(DataFolder(), request);
    if (!reply) {
        std::fputs("otomaru: このフォルダーのOtomaruは起動していません。\n", stderr);
        return 1;
    }
    if (reply->nStatus != 0)
        std::fputs("otomaru: ", stderr);
    std::fputs(reply->strText.c_str(), reply->nStatus == 0 ? stdout : stderr);
    return reply->nStatus;
}

} // namespace

class CMixerApp {
public:
    int InitInstance(int& argc, char** argv) {
        RemoteRequest request;
        switch (ParseRemoteArgs(argc, argv, request)) {
        case ArgsResult::Bad:
            return 2;
        case ArgsResult::Remote:
            return RunRemote(argc, argv, request);
        case ArgsResult::Window:
            break;
        }
        QApplication app(argc, argv);
        // One instance per data folder: a second one would write the same files over the first.
        const std::string folder = DataFolder();
        CRemoteServer server(folder);
        if (!server.Listen()) {
            SendRemoteRequest(folder, {RemoteVerb::Activate, {}});
            return 0;
        }
        QApplication::setFont(DialogFont());
        LoadQtTranslations(app);
        QApplication::setWindowIcon(LoadIcon(IDR_MAINFRAME));
        ScopedMessageFunction messages(ShowQtMessageBox);
        CMixerDlg dlg;
        server.SetHandler([&dlg](const RemoteRequest& r) -> RemoteReply {
            if (r.verb != RemoteVerb::Activate)
                return RunRemoteRequest(r, dlg.Controller());
            dlg.showNormal();
            dlg.raise();
            dlg.activateWindow();
            return {};
        });
        dlg.exec(); // the result is not looked at
        return 0;
    }
};

int main(int argc, char** argv) {
    CMixerApp theApp;
    return theApp.InitInstance(argc, argv);
}
