// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/load_progress_dlg.h"

#include "desktop/qt_text.h"
#include "ui/dialog_template.h"
#include "ui/texts.h"

#include <QEventLoop>
#include <QLabel>
#include <QTimer>

namespace {
constexpr int IDD_LOADING = 140;
constexpr int IDC_LOADING_TEXT = 1400;
} // namespace

CLoadProgressDlg::CLoadProgressDlg(QWidget* parent) : QDialog(parent) {
    static const DlgTemplate kTemplate = {
        IDD_LOADING,
        "Otomaru",
        {160, 30},
        {
            {IDC_LOADING_TEXT, DlgClass::Label, "", {10, 11, 140, 8}, DS_NOPREFIX},
        }};
    auto items = BuildDialog(*this, kTemplate);
    m_pText = qobject_cast<QLabel*>(items[IDC_LOADING_TEXT]);
    m_pText->setTextFormat(Qt::PlainText);
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint);
    setWindowModality(Qt::ApplicationModal);
    SetCount(0, 0);
}

void CLoadProgressDlg::SetCount(int loaded, int total) {
    m_pText->setText(QStringFromUtf8(texts::kLoading) +
                     QStringLiteral(" %1 / %2").arg(loaded).arg(total));
}

QString CLoadProgressDlg::Text() const {
    return m_pText->text();
}

void WaitForSetLoad(CSetSoundLoad& load, QWidget* parent, std::chrono::milliseconds showAfter) {
    QEventLoop loop;
    CLoadProgressDlg dlg(parent);
    // The loading threads only post; the count is read here, on the window's thread.
    QObject receiver;
    auto update = [&] {
        dlg.SetCount(load.Loaded(), load.Total());
        if (load.IsDone())
            loop.quit();
    };
    load.Watch([&receiver, update] {
        QMetaObject::invokeMethod(&receiver, update, Qt::QueuedConnection);
    });
    QTimer::singleShot(showAfter, &receiver, [&] {
        if (!load.IsDone())
            dlg.show();
    });
    while (!load.IsDone()) {
        // -1: the application is quitting and every loop returns at once; the rest is waited
        // for below.
        if (loop.exec(QEventLoop::ExcludeUserInputEvents) == -1)
            break;
    }
    load.Watch({});
    load.Wait();
}
