// SPDX-License-Identifier: GPL-3.0-or-later
// Files dragged from a file manager onto the effect list: added to the open set, or held while a
// set is being opened and added once it is read whole.
#include "ui/mixer_dlg.h"

#include "ui/effect_list_ctrl.h"

#include <QDropEvent>
#include <QFile>
#include <QKeyEvent>
#include <QMimeData>
#include <QUrl>

#include <iterator>
#include <utility>

void CMixerDlg::AcceptDroppedFiles() {
    m_pEffectList->setAcceptDrops(true);
    m_pEffectList->viewport()->setAcceptDrops(true);
    m_pEffectList->viewport()->installEventFilter(this);
}

std::vector<std::string> CMixerDlg::DroppedPaths(const QMimeData* mime) {
    std::vector<std::string> paths;
    if (!mime || !mime->hasUrls())
        return paths;
    for (const QUrl& url : mime->urls()) {
        if (url.isLocalFile())
            paths.push_back(QFile::encodeName(url.toLocalFile()).toStdString());
    }
    return paths;
}

bool CMixerDlg::eventFilter(QObject* watched, QEvent* event) {
    if (watched == m_pPlayList && event->type() == QEvent::KeyPress &&
        OnPlayListKey(*static_cast<QKeyEvent*>(event)))
        return true;
    if (watched != m_pEffectList->viewport())
        return QDialog::eventFilter(watched, event);
    switch (event->type()) {
    case QEvent::DragEnter:
    case QEvent::DragMove: {
        auto* drag = static_cast<QDropEvent*>(event);
        if (DroppedPaths(drag->mimeData()).empty()) {
            drag->ignore();
        } else {
            drag->setDropAction(Qt::CopyAction);
            drag->accept();
        }
        return true;
    }
    case QEvent::Drop: {
        auto* drop = static_cast<QDropEvent*>(event);
        std::vector<std::string> paths = DroppedPaths(drop->mimeData());
        if (paths.empty()) {
            drop->ignore();
            return true;
        }
        drop->setDropAction(Qt::CopyAction);
        drop->accept();
        // The file manager waits for the drop to end: the editor opens after it has.
        QMetaObject::invokeMethod(
            this, [this, paths = std::move(paths)]() mutable { AddDroppedFiles(std::move(paths)); },
            Qt::QueuedConnection);
        return true;
    }
    default:
        return QDialog::eventFilter(watched, event);
    }
}

void CMixerDlg::AddDroppedFiles(std::vector<std::string> paths) {
    if (m_bWindowDestroyed)
        return;
    // Posted work runs while a set's sounds load and the table is still empty: the drop waits,
    // as a drop made a moment later would, rather than being refused in the middle of a load.
    if (!m_controller.IsSetOpen()) {
        m_heldDrops.insert(m_heldDrops.end(), std::make_move_iterator(paths.begin()),
                           std::make_move_iterator(paths.end()));
        return;
    }
    m_controller.AddDroppedFiles(paths);
}

void CMixerDlg::ResumeHeldDrops() {
    if (!m_heldDrops.empty() && m_controller.IsSetOpen())
        QMetaObject::invokeMethod(
            this,
            [this, paths = std::exchange(m_heldDrops, {})]() mutable {
                AddDroppedFiles(std::move(paths));
            },
            Qt::QueuedConnection);
}
