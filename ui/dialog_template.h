// SPDX-License-Identifier: GPL-3.0-or-later
// Dialog templates as data: every control with its id, class, text and rectangle in dialog units,
// in tab order. One builder turns a template into widgets, converting dialog units with the
// dialog font's metrics (x * average char width / 4, y * height / 8), so every window keeps the
// proportions it was designed with.
#pragma once

#include <QFont>
#include <QRect>
#include <QSize>

#include <functional>
#include <map>
#include <vector>

class QDialog;
class QWidget;

enum class DlgClass {
    Label, // left-aligned static text
    Edit,  // single-line edit
    PushButton,
    DefPushButton, // the default button
    ComboBox,      // drop-down list, not sorted
    ListView,      // report-view list (made by the custom factory)
    HotKey,        // hotkey field (made by the custom factory)
    TrackBar,      // horizontal slider
    Icon,          // icon picture with a thin border
    Custom,        // any other control (made by the custom factory)
};

// Extra style bits a control may carry.
enum DlgStyle : unsigned {
    DS_NONE = 0,
    DS_RIGHTALIGN = 1u << 0, // ES_RIGHT on an edit
    DS_NOTABSTOP = 1u << 1,
    DS_NOPREFIX = 1u << 2, // SS_NOPREFIX on a label: '&' is shown as is
};

struct DlgItem {
    int id; // -1 for labels without an id
    DlgClass cls;
    const char* text; // UTF-8; "&" marks the mnemonic as in the original templates
    QRect rect;       // dialog units: x, y, width, height
    unsigned style = DS_NONE;
};

struct DlgTemplate {
    int id;
    const char* caption;        // UTF-8
    QSize size;                 // dialog units
    std::vector<DlgItem> items; // in tab order
};

// The dialog font: a Japanese sans-serif of 9 points standing in for "ＭＳ Ｐゴシック".
QFont DialogFont();

// Dialog units -> pixels for a font.
QRect DluToPixels(const QRect& dlu, const QFont& font);
QSize DluToPixels(const QSize& dlu, const QFont& font);

// Makes the widgets of a template inside `dialog`: sets the dialog's font, caption and fixed
// client size, creates every control in template order (which is the tab order) and returns them
// by id (labels with id -1 are not returned). `custom` makes the classes only the caller knows
// (ListView, HotKey); it may return nullptr to get a plain placeholder.
using DlgCustomFactory = std::function<QWidget*(const DlgItem& item, QWidget* parent)>;
std::map<int, QWidget*> BuildDialog(QDialog& dialog, const DlgTemplate& tmpl,
                                    const DlgCustomFactory& custom = {});
