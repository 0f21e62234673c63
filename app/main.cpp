// The application object: sets up Qt and the dialog font, runs the main window modally and
// ends the process when it closes.
#include "base/message.h"
#include "ui/dialog_template.h"
#include "ui/icons.h"
#include "ui/message_box.h"
#include "ui/mixer_dlg.h"
#include "ui/mixer_resource.h"
#include "ui/qt_translations.h"

#include <QApplication>

class CMixerApp {
public:
    int InitInstance(int& argc, char** argv) {
        QApplication app(argc, argv);
        QApplication::setFont(DialogFont());
        LoadQtTranslations(app);
        QApplication::setWindowIcon(LoadIcon(IDR_MAINFRAME));
        ScopedMessageFunction messages(ShowQtMessageBox);
        CMixerDlg dlg;
        dlg.exec(); // the result is not looked at
        return 0;
    }
};

int main(int argc, char** argv) {
    CMixerApp theApp;
    return theApp.InitInstance(argc, argv);
}
