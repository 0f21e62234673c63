// SPDX-License-Identifier: GPL-3.0-or-later
// The application object: sets up Qt and the dialog font, runs the main window modally and
// ends the process when it closes. With a remote option it only sends that command to the
// instance running on the same data folder and exits with its result; --help and --version
// answer without a window, and a mistyped option starts nothing.
#include "app/texts.h"
#include "audio/sound_output.h"
#include "base/message.h"
#include "core/app_settings.h"
#include "core/remote_command.h"
#include "desktop/osc_remote.h"
#include "desktop/qt_translations.h"
#include "desktop/quit_signals.h"
#include "desktop/remote.h"
#include "ui/dialog_template.h"
#include "ui/icons.h"
#include "ui/message_box.h"
#include "ui/mixer_dlg.h"
#include "ui/mixer_resource.h"

#include <QApplication>
#include <QCommandLineParser>

#include <cstdio>
#include <cstring>
#include <memory>
#include <optional>

namespace {

// The folder whose sets and Otomaru.ini this process would use, in the system's encoding.
std::string DataFolder() {
    AppSettings settings;
    settings.LocateFiles();
    return settings.m_strExeDir;
}

enum class ArgsResult { Window, Remote, Answered, Bad };

constexpr int kBadArguments = 2;

// Options Qt's own application object reads: accepted here and left to it.
const char* const kQtOptionsWithValue[] = {"platform",        "platformpluginpath",
                                           "platformtheme",   "plugin",
                                           "display",         "session",
                                           "style",           "stylesheet",
                                           "qwindowgeometry", "qwindowtitle",
                                           "qwindowicon",     "geometry",
                                           "title",           "name"};
const char* const kQtFlags[] = {"reverse", "widgetcount", "nograb", "dograb", "sync"};

ArgsResult ParseArgs(int argc, char** argv, RemoteRequest& request) {
    struct Verb {
        const char* name;
        RemoteVerb verb;
        bool takesValue;
    };
    static const Verb kVerbs[] = {
        {"play", RemoteVerb::Play, true},  {"play-key", RemoteVerb::PlayKey, true},
        {"stop", RemoteVerb::Stop, true},  {"stop-all", RemoteVerb::StopAll, false},
        {"list", RemoteVerb::List, false}, {"web-url", RemoteVerb::WebUrl, false}};
    QCommandLineParser parser;
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    const QCommandLineOption help(QStringList{"h", "help"});
    const QCommandLineOption version(QStringLiteral("version"));
    parser.addOption(help);
    parser.addOption(version);
    for (const Verb& v : kVerbs)
        parser.addOption(v.takesValue ? QCommandLineOption(v.name, {}, QStringLiteral("name"))
                                      : QCommandLineOption(v.name));
    for (const char* name : kQtOptionsWithValue)
        parser.addOption(QCommandLineOption(name, {}, QStringLiteral("value")));
    for (const char* name : kQtFlags)
        parser.addOption(QCommandLineOption(name));

    QStringList args;
    for (int i = 0; i < argc; ++i)
        args << QString::fromLocal8Bit(argv[i]);
    if (!parser.parse(args)) {
        const QStringList unknown = parser.unknownOptionNames();
        if (!unknown.isEmpty())
            std::fprintf(stderr, texts::kUnknownOption, qPrintable(unknown.front()));
        else
            std::fprintf(stderr, texts::kNameMissing, qPrintable(args.back()));
        return ArgsResult::Bad;
    }
    if (!parser.positionalArguments().isEmpty()) {
        std::fprintf(stderr, texts::kStrayArgument,
                     qPrintable(parser.positionalArguments().front()));
        return ArgsResult::Bad;
    }
    if (parser.isSet(help)) {
        std::fputs(texts::kUsage, stdout);
        return ArgsResult::Answered;
    }
    if (parser.isSet(version)) {
        std::printf("Otomaru %s\n", OTOMARU_VERSION);
        return ArgsResult::Answered;
    }
    for (const Verb& v : kVerbs) {
        if (!parser.isSet(v.name))
            continue;
        request.verb = v.verb;
        if (!v.takesValue)
            return ArgsResult::Remote;
        const QByteArray value = parser.value(v.name).toLocal8Bit();
        if (value.isEmpty()) {
            std::fprintf(stderr, texts::kVerbNameMissing, v.name);
            return ArgsResult::Bad;
        }
        request.strArgument = value.toStdString();
        return ArgsResult::Remote;
    }
    return ArgsResult::Window;
}

int RunRemote(int argc, char** argv, const RemoteRequest& request) {
    QCoreApplication app(argc, argv);
    const std::optional<RemoteReply> reply = SendRemoteRequest(DataFolder(), request);
    if (!reply) {
        std::fputs(texts::kNotRunning, stderr);
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
        switch (ParseArgs(argc, argv, request)) {
        case ArgsResult::Bad:
            return kBadArguments;
        case ArgsResult::Answered:
            return 0;
        case ArgsResult::Remote:
            return RunRemote(argc, argv, request);
        case ArgsResult::Window:
            break;
        }
        SetSoundServerLatency(); // before Qt starts its threads
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
            if (r.verb == RemoteVerb::WebUrl) {
                const QString url = dlg.WebRemoteAddress();
                if (url.isEmpty())
                    return {1, texts::kWebRemoteOff};
                return {0, url.toStdString() + "\n"};
            }
            if (r.verb != RemoteVerb::Activate)
                return RunRemoteRequest(r, dlg.Controller());
            dlg.showNormal();
            dlg.raise();
            dlg.activateWindow();
            return {};
        });
        // A logout or a kill ends the program as File → Exit does, over any box still open.
        CQuitSignals quitSignals([&dlg] {
            for (int open = 0; open < 8; ++open) {
                QWidget* box = QApplication::activeModalWidget();
                if (!box || box == &dlg)
                    break;
                box->close();
            }
            dlg.GetMenuAction(ID_FILE_EXIT)->trigger();
        });
        std::unique_ptr<COscRemote> osc;
        // Once the window is up, so that a box about the port stands over it.
        QMetaObject::invokeMethod(
            &dlg, [&] { osc = StartOscRemote(dlg.Controller()); }, Qt::QueuedConnection);
        dlg.exec(); // the result is not looked at
        return 0;
    }
};

int main(int argc, char** argv) {
    CMixerApp theApp;
    return theApp.InitInstance(argc, argv);
}
