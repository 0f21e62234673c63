// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/template_dlg.h"

#include "base/win_types.h"

#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSlider>

#include <algorithm>

CTemplateDlg::CTemplateDlg(QWidget* parent) : QDialog(parent) {}

void CTemplateDlg::BuildFromTemplate(const DlgTemplate& tmpl, const DlgCustomFactory& custom) {
    m_items = BuildDialog(*this, tmpl, custom);
    // The builder made the controls as direct children, in template order.
    for (QWidget* child : findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
        if (!child->isWindow())
            m_controls.push_back(child);
    }
    Q_ASSERT(m_controls.size() == tmpl.items.size());
    if (auto* ok = Item<QPushButton>(IDOK))
        connect(ok, &QPushButton::clicked, this, &QDialog::accept);
    if (auto* cancel = Item<QPushButton>(IDCANCEL))
        connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
}

QWidget* CTemplateDlg::GetDlgItem(int id) const {
    const auto it = m_items.find(id);
    return it == m_items.end() ? nullptr : it->second;
}

QLineEdit* CTemplateDlg::Edit(int id) const {
    return Item<QLineEdit>(id);
}

QSlider* CTemplateDlg::Slider(int id) const {
    return Item<QSlider>(id);
}

QComboBox* CTemplateDlg::Combo(int id) const {
    return Item<QComboBox>(id);
}

QLabel* CTemplateDlg::Label(int id) const {
    return Item<QLabel>(id);
}

void CTemplateDlg::AnchorControls(std::span<const DlgAnchor> anchors, QSize designed) {
    Q_ASSERT(anchors.size() == m_controls.size());
    const std::size_t n = std::min(anchors.size(), m_controls.size());
    for (std::size_t i = 0; i < n; ++i)
        m_placements.push_back({m_controls[i], m_controls[i]->geometry(), anchors[i]});
    m_designedSize = designed;
    setMinimumSize(m_designedSize);
    setMaximumSize(QWIDGETSIZE_MAX, QWIDGETSIZE_MAX);
    resize(m_designedSize);
}

void CTemplateDlg::resizeEvent(QResizeEvent* event) {
    QDialog::resizeEvent(event);
    LayOutControls();
}

void CTemplateDlg::LayOutControls() {
    if (m_designedSize.isEmpty()) // not anchored, or still being built
        return;
    const int dx = std::max(0, width() - m_designedSize.width());
    const int dy = std::max(0, height() - m_designedSize.height());
    for (const Placement& p : m_placements) {
        const QRect& r = p.rcDesigned;
        const DlgAnchor& a = p.anchor;
        // Edges are moved, not sizes scaled, so neighbours that share a share keep their gap.
        const int left = r.x() + qRound(a.left * static_cast<float>(dx));
        const int top = r.y() + qRound(a.top * static_cast<float>(dy));
        const int right = r.x() + r.width() + qRound(a.right * static_cast<float>(dx));
        const int bottom = r.y() + r.height() + qRound(a.bottom * static_cast<float>(dy));
        p.pWidget->setGeometry(left, top, right - left, bottom - top);
    }
}
