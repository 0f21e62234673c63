// SPDX-License-Identifier: GPL-3.0-or-later
// The main window with a real set controller on a set in a temporary folder, for the window's
// suites: a short and a long sound, a set of three effects and a second set.
#pragma once

#include "dialog_test_app.h"
#include "ui/mixer_dlg.h"

#include "core/remote_command.h"
#include "core/row_text.h"
#include "desktop/virtual_microphone.h"
#include "tests/support/test_support.h"
#include "ui/about_dlg.h"
#include "ui/device_menu.h"
#include "ui/effect_dlg.h"
#include "ui/effect_list_ctrl.h"
#include "ui/mixer_resource.h"

#include <QAction>
#include <QComboBox>
#include <QDropEvent>
#include <QElapsedTimer>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QMimeData>
#include <QPushButton>
#include <QScreen>
#include <QTest>
#include <QTimer>
#include <QUrl>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <thread>
#include <utility>
#include <vector>

// Waits for a condition that a worker thread brings about; generous, never a timing check.
inline bool WaitFor(const std::function<bool()>& condition) {
    QElapsedTimer timer;
    timer.start();
    while (!condition()) {
        if (timer.elapsed() > 10000)
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    }
    return true;
}

// Closes the next modal window once it is up, after letting `inspect` look at it.
class ModalCloser {
public:
    explicit ModalCloser(std::function<void(QWidget*)> inspect = {})
        : m_inspect(std::move(inspect)) {
        QTimer::singleShot(0, &m_context, [this] { Close(); });
    }
    QWidget* Seen() const { return m_seen; }
    QString SeenTitle() const { return m_title; }

private:
    void Close() {
        QWidget* modal = QApplication::activeModalWidget();
        if (!modal) {
            if (++m_tries < 200)
                QTimer::singleShot(10, &m_context, [this] { Close(); });
            return;
        }
        m_seen = modal;
        m_title = modal->windowTitle();
        if (m_inspect)
            m_inspect(modal);
        if (auto* dialog = qobject_cast<QDialog*>(modal))
            dialog->reject();
        else
            modal->close();
    }
    QObject m_context; // a closer that goes first takes its timers with it
    std::function<void(QWidget*)> m_inspect;
    QWidget* m_seen = nullptr;
    QString m_title;
    int m_tries = 0;
};

class MixerDlgTest : public ::testing::Test {
protected:
    void SetUp() override {
        EnsureDialogTestApp();
        // A short sound and a long one (4 s), so that a playback can be caught running.
        WriteBytes(m_dir.Path() + "short.wav",
                   MakePcm16Wave(1, 22050, std::vector<std::int16_t>(200, 1000)));
        WriteBytes(m_dir.Path() + "long.wav",
                   MakePcm16Wave(1, 22050, std::vector<std::int16_t>(22050 * 4, 1000)));
        WriteSet("音源.txt", {"short.wav," + Sj("短い") + ",0,49,0,0,1,0",
                              "long.wav," + Sj("長い") + ",6,50,0,-1,0,0",
                              "missing.wav," + Sj("無い") + ",0,51,0,-10000,3,500"});
        WriteSet("b.txt", {"short.wav,B,0,52,0,0,1,0"});
        m_dlg = std::make_unique<CMixerDlg>(m_dir.Path() + "otomaru");
        m_dlg->Create();
        m_dlg->show();
        QApplication::processEvents();
    }
    // The window makes its executable's folder the current directory; the next test must not
    // start in a folder that has been removed.
    void TearDown() override {
        m_dlg.reset();
        std::filesystem::current_path(m_savedDirectory);
    }

    void WriteSet(const char* utf8Name, const std::vector<std::string>& lines) {
        std::string text = "MOK_FILE\r\n" + m_dir.Cp932() + "\r\n";
        for (const std::string& line : lines)
            text += line + "\r\n";
        WriteText(m_dir.Path() + utf8Name, text);
    }

    QPushButton* Button(int id) { return qobject_cast<QPushButton*>(m_dlg->GetDlgItem(id)); }
    int PlayRows() { return m_dlg->PlayList().GetItemCount(); }
    void SelectEffect(int row) {
        QTest::mouseClick(
            m_dlg->EffectList().viewport(), Qt::LeftButton, {},
            m_dlg->EffectList().visualRect(m_dlg->EffectList().model()->index(row, 0)).center());
    }
    bool SendKey(QEvent::Type type, int key, Qt::KeyboardModifiers mods = {}) {
        QKeyEvent e(type, key, mods, QString());
        e.setTimestamp(++m_clock);
        QWidget* to = QApplication::focusWidget() ? QApplication::focusWidget() : m_dlg.get();
        QApplication::sendEvent(to, &e);
        QCoreApplication::processEvents();
        return e.isAccepted();
    }

    const std::filesystem::path m_savedDirectory = std::filesystem::current_path();
    TempDir m_dir;
    MessageRecorder m_messages;
    std::unique_ptr<CMixerDlg> m_dlg;
    quint64 m_clock = 1000;
};
