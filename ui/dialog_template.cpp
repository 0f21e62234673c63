// SPDX-License-Identifier: GPL-3.0-or-later
// The one builder that turns a dialog template into Qt widgets, so every dialog of the program is
// laid out from the same numbers in dialog units and looks the way it was designed.
#include "ui/dialog_template.h"

#include <QComboBox>
#include <QDialog>
#include <QFontDatabase>
#include <QFontMetrics>
#include <QFrame>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSlider>
#include <QStringList>

#include <algorithm>

namespace {

// Rounds a * b / c to the nearest integer, halves away from zero, as the dialog unit mapping
// always has.
int MulDiv(int a, int b, int c) {
    const long long p = static_cast<long long>(a) * b;
    const long long half = c / 2;
    return static_cast<int>(p >= 0 ? (p + half) / c : (p - half) / c);
}

struct BaseUnits {
    int x;
    int y;
};

// The average width is taken over the 52 Latin letters, the way dialog units have always been
// measured, rather than the font's declared average: a CJK font declares a full-width average,
// which would make every dialog twice as wide.
BaseUnits BaseUnitsOf(const QFont& font) {
    const QFontMetrics fm(font);
    static const QString kAlphabet =
        QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz");
    const int x = (fm.horizontalAdvance(kAlphabet) / 26 + 1) / 2;
    return {x > 0 ? x : 1, fm.height() > 0 ? fm.height() : 1};
}

// A label text without its mnemonic marks: "&&" stays one '&', a single '&' disappears.
QString StripMnemonic(const QString& text) {
    QString out;
    out.reserve(text.size());
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (text[i] == u'&' && i + 1 < text.size()) {
            ++i;
        }
        out += text[i];
    }
    return out;
}

bool IsFocusable(DlgClass cls) {
    return cls != DlgClass::Label && cls != DlgClass::Icon;
}

QWidget* MakeControl(const DlgItem& item, QWidget* parent, const DlgCustomFactory& custom) {
    const QString text = QString::fromUtf8(item.text ? item.text : "");
    switch (item.cls) {
    case DlgClass::Label: {
        auto* label = new QLabel(parent);
        label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
        label->setTextFormat(Qt::PlainText);
        label->setText(text);
        return label;
    }
    case DlgClass::Edit: {
        // QLineEdit scrolls horizontally as the text grows, like an ES_AUTOHSCROLL edit.
        auto* edit = new QLineEdit(parent);
        edit->setAlignment((item.style & DS_RIGHTALIGN) ? Qt::AlignRight | Qt::AlignVCenter
                                                        : Qt::AlignLeft | Qt::AlignVCenter);
        edit->setText(text);
        return edit;
    }
    case DlgClass::PushButton:
    case DlgClass::DefPushButton: {
        auto* button = new QPushButton(text, parent);
        // A push button with the focus is the default while it has it; the template's default
        // button is again once the focus leaves the buttons.
        button->setAutoDefault(true);
        button->setDefault(item.cls == DlgClass::DefPushButton);
        return button;
    }
    case DlgClass::ComboBox: {
        auto* combo = new QComboBox(parent);
        combo->setEditable(false);
        combo->setInsertPolicy(QComboBox::InsertAtBottom);
        return combo;
    }
    case DlgClass::TrackBar:
        return new QSlider(Qt::Horizontal, parent);
    case DlgClass::Icon: {
        auto* icon = new QLabel(parent);
        icon->setFrameStyle(QFrame::Box | QFrame::Plain);
        icon->setLineWidth(1);
        icon->setAlignment(Qt::AlignCenter);
        return icon;
    }
    case DlgClass::ListView:
    case DlgClass::HotKey:
    case DlgClass::Custom:
        break;
    }
    QWidget* made = custom ? custom(item, parent) : nullptr;
    if (made) {
        if (made->parentWidget() != parent) {
            made->setParent(parent);
        }
        return made;
    }
    auto* placeholder = new QFrame(parent);
    placeholder->setFrameStyle(QFrame::StyledPanel | QFrame::Sunken);
    placeholder->setFocusPolicy(Qt::StrongFocus);
    return placeholder;
}

const QStringList& JapaneseSansFamilies() {
    static const QStringList kFamilies = {
        QStringLiteral("IPAPGothic"),       QStringLiteral("IPAGothic"),
        QStringLiteral("Noto Sans CJK JP"), QStringLiteral("Noto Sans JP"),
        QStringLiteral("VL PGothic"),       QStringLiteral("TakaoPGothic"),
    };
    return kFamilies;
}

} // namespace

QFont DialogFont() {
    const QStringList installed = QFontDatabase::families();
    for (const QString& family : JapaneseSansFamilies()) {
        if (installed.contains(family, Qt::CaseInsensitive)) {
            QFont font(family);
            font.setPointSize(9);
            return font;
        }
    }
    QFont font = QFontDatabase::systemFont(QFontDatabase::GeneralFont);
    font.setStyleHint(QFont::SansSerif);
    font.setPointSize(9);
    return font;
}

// Each edge is mapped on its own, so controls that touch in dialog units still touch in pixels.
QRect DluToPixels(const QRect& dlu, const QFont& font) {
    const BaseUnits base = BaseUnitsOf(font);
    const int left = MulDiv(dlu.x(), base.x, 4);
    const int top = MulDiv(dlu.y(), base.y, 8);
    const int right = MulDiv(dlu.x() + dlu.width(), base.x, 4);
    const int bottom = MulDiv(dlu.y() + dlu.height(), base.y, 8);
    return QRect(left, top, right - left, bottom - top);
}

QSize DluToPixels(const QSize& dlu, const QFont& font) {
    const BaseUnits base = BaseUnitsOf(font);
    return QSize(MulDiv(dlu.width(), base.x, 4), MulDiv(dlu.height(), base.y, 8));
}

std::map<int, QWidget*> BuildDialog(QDialog& dialog, const DlgTemplate& tmpl,
                                    const DlgCustomFactory& custom) {
    const QFont font = DialogFont();
    dialog.setFont(font);
    dialog.setWindowTitle(QString::fromUtf8(tmpl.caption ? tmpl.caption : ""));
    dialog.setWindowFlag(Qt::WindowContextHelpButtonHint, false);
    dialog.setFixedSize(DluToPixels(tmpl.size, font));
    dialog.setSizeGripEnabled(false);

    std::map<int, QWidget*> byId;
    QWidget* previousFocusable = nullptr;
    // A label whose text carries a mnemonic hands the focus on to the next control, as a static
    // control's mnemonic always did.
    QLabel* pendingBuddy = nullptr;
    for (const DlgItem& item : tmpl.items) {
        QWidget* w = MakeControl(item, &dialog, custom);
        w->setFont(font);
        QRect geometry = DluToPixels(item.rect, font);
        if (item.cls == DlgClass::ComboBox) {
            // The template's height is the dropped list's; the closed box is as tall as the font
            // makes it.
            geometry.setHeight(w->sizeHint().height());
            // The rest of the template's height is the dropped list's, in rows of the font.
            const int listHeight = DluToPixels(item.rect, font).height() - geometry.height();
            const int rowHeight = QFontMetrics(font).height();
            static_cast<QComboBox*>(w)->setMaxVisibleItems(std::max(1, listHeight / rowHeight));
        }
        w->setGeometry(geometry);
        w->setProperty("dlgItemId", item.id);

        if (item.cls == DlgClass::Label) {
            auto* label = static_cast<QLabel*>(w);
            const QString text = label->text();
            const bool hasMnemonic = !(item.style & DS_NOPREFIX) && text.contains(u'&');
            if (hasMnemonic) {
                label->setTextFormat(Qt::PlainText);
                pendingBuddy = label;
            }
        } else if (IsFocusable(item.cls)) {
            if (pendingBuddy) {
                pendingBuddy->setBuddy(w);
                pendingBuddy = nullptr;
            }
            if (item.style & DS_NOTABSTOP) {
                w->setFocusPolicy(Qt::ClickFocus);
            } else {
                if (w->focusPolicy() == Qt::NoFocus || w->focusPolicy() == Qt::ClickFocus) {
                    w->setFocusPolicy(Qt::StrongFocus);
                }
                if (previousFocusable) {
                    QWidget::setTabOrder(previousFocusable, w);
                }
                previousFocusable = w;
            }
        }
        if (item.id != -1) {
            byId.emplace(item.id, w);
        }
    }
    // A mnemonic label with nothing after it to hand the focus to just shows its text.
    if (pendingBuddy) {
        pendingBuddy->setText(StripMnemonic(pendingBuddy->text()));
    }
    return byId;
}
