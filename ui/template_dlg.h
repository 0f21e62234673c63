// SPDX-License-Identifier: GPL-3.0-or-later
// What every window built from a dialog template shares: its controls found by id, OK and
// Cancel that accept and reject, and for a window that may grow, how each control follows.
#pragma once

#include "ui/dialog_template.h"

#include <QDialog>
#include <QRect>
#include <QSize>

#include <map>
#include <span>
#include <vector>

class QComboBox;
class QLabel;
class QLineEdit;
class QSlider;

// How far each edge of a control follows the room the window has beyond its designed size:
// 0 = stays, 1 = follows all of the extra room.
struct DlgAnchor {
    float left, top, right, bottom;
};

class CTemplateDlg : public QDialog {
    Q_OBJECT
public:
    // The control with this id, null when the template has none.
    QWidget* GetDlgItem(int id) const;

protected:
    explicit CTemplateDlg(QWidget* parent = nullptr);

    // Makes the template's controls (BuildDialog); a push button IDOK runs accept(), IDCANCEL
    // reject(), so a dialog that checks its fields overrides accept().
    void BuildFromTemplate(const DlgTemplate& tmpl, const DlgCustomFactory& custom = {});
    const std::map<int, QWidget*>& Items() const { return m_items; }
    template <class T> T* Item(int id) const { return qobject_cast<T*>(GetDlgItem(id)); }
    QLineEdit* Edit(int id) const;
    QSlider* Slider(int id) const;
    QComboBox* Combo(int id) const;
    QLabel* Label(int id) const;

    // Makes the window sizable from `designed` up: one anchor per control, in template order,
    // and the controls' present places are their designed ones.
    void AnchorControls(std::span<const DlgAnchor> anchors, QSize designed);
    // Empty until the controls are anchored.
    QSize DesignedSize() const { return m_designedSize; }
    void resizeEvent(QResizeEvent* event) override;

private:
    // Places the anchored controls for the window's size: the designed size is the smallest.
    void LayOutControls();

    struct Placement {
        QWidget* pWidget;
        QRect rcDesigned;
        DlgAnchor anchor;
    };
    std::map<int, QWidget*> m_items;
    std::vector<QWidget*> m_controls; // in template order, labels too
    std::vector<Placement> m_placements;
    QSize m_designedSize;
};
