// SPDX-License-Identifier: GPL-3.0-or-later
// Opening a set: the window's thread runs a loop of its own while the sounds load on the other
// threads, so every window keeps painting, and a modal box says how far the load got once it has
// taken half a second. It has no Cancel: a set is opened whole, as before.
#pragma once

#include "core/set_sound_load.h"

#include <QDialog>

#include <chrono>

class QLabel;

class CLoadProgressDlg : public QDialog {
    Q_OBJECT
public:
    explicit CLoadProgressDlg(QWidget* parent = nullptr);
    // "読み込み中… 12 / 200"
    void SetCount(int loaded, int total);
    QString Text() const;
    // Escape and the close box leave it open: it goes when the load is done.
    void reject() override {}

private:
    QLabel* m_pText = nullptr;
};

// Returns once `load` is done. Input to the windows waits until then, as it did while the load
// held the thread; timers, paints and posted work run. `showAfter`: when the box appears.
void WaitForSetLoad(CSetSoundLoad& load, QWidget* parent,
                    std::chrono::milliseconds showAfter = std::chrono::milliseconds(500));
