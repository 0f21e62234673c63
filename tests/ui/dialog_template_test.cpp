// SPDX-License-Identifier: GPL-3.0-or-later
// The template builder: dialog units follow the font, every control is made as its class says,
// ids come back, and the tab order is the template order. The dialogs' base: OK and Cancel,
// anchors.
#include "dialog_test_app.h"
#include "ui/dialog_template.h"
#include "ui/template_dlg.h"

#include <QComboBox>
#include <QDialog>
#include <QFontDatabase>
#include <QFontMetrics>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSlider>

#include <gtest/gtest.h>

#include <cmath>
#include <map>
#include <vector>

namespace {

const DlgTemplate& SampleTemplate() {
    static const DlgTemplate kTemplate = {
        900,
        "見本",
        QSize(200, 100),
        {
            {-1, DlgClass::Label, "名前", QRect(7, 10, 31, 8)},
            {10, DlgClass::Edit, "abc", QRect(42, 7, 100, 14)},
            {11, DlgClass::PushButton, "参照(&B)", QRect(142, 7, 38, 14)},
            {12, DlgClass::Edit, "5", QRect(42, 25, 40, 14), DS_RIGHTALIGN},
            {13, DlgClass::TrackBar, "", QRect(42, 45, 120, 15)},
            {14, DlgClass::HotKey, "", QRect(42, 62, 80, 14)},
            {15, DlgClass::ComboBox, "", QRect(100, 25, 60, 80)},
            {16, DlgClass::Icon, "IDR_MAINFRAME", QRect(180, 40, 20, 20)},
            {-1, DlgClass::Label, "A&&B", QRect(7, 80, 40, 8), DS_NOPREFIX},
            {1, DlgClass::DefPushButton, "OK(&O)", QRect(90, 80, 50, 14)},
            {2, DlgClass::PushButton, "ｷｬﾝｾﾙ(&C)", QRect(145, 80, 50, 14)},
        }};
    return kTemplate;
}

QFont FontOfSize(int points) {
    QFont font = DialogFont();
    font.setPointSize(points);
    return font;
}

class DialogTemplateTest : public ::testing::Test {
protected:
    void SetUp() override { EnsureDialogTestApp(); }
};

TEST_F(DialogTemplateTest, DialogFontIsNinePointJapaneseSansWhenInstalled) {
    const QFont font = DialogFont();
    EXPECT_EQ(font.pointSize(), 9);
    // The machines that run the tests carry the IPA fonts; with them the Japanese sans is taken.
    const QStringList installed = QFontDatabase::families();
    if (installed.contains(QStringLiteral("IPAPGothic"))) {
        EXPECT_EQ(font.family(), QStringLiteral("IPAPGothic"));
    }
    EXPECT_FALSE(font.family().isEmpty());
}

// Four horizontal units are one average Latin letter, eight vertical units one line.
TEST_F(DialogTemplateTest, UnitsFollowTheFontMetrics) {
    for (int points : {9, 12, 20}) {
        SCOPED_TRACE(points);
        const QFont font = FontOfSize(points);
        const QFontMetrics fm(font);
        const double avg = fm.horizontalAdvance(QStringLiteral(
                               "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz")) /
                           52.0;
        const QRect r = DluToPixels(QRect(0, 0, 400, 800), font);
        EXPECT_EQ(r.topLeft(), QPoint(0, 0));
        EXPECT_NEAR(r.width(), avg * 100, 100); // within one pixel per letter of rounding
        EXPECT_EQ(r.height(), fm.height() * 100);
    }
}

TEST_F(DialogTemplateTest, RectanglesScaleWithTheFont) {
    const QRect dlu(42, 69, 40, 14);
    const QRect small = DluToPixels(dlu, FontOfSize(9));
    const QRect large = DluToPixels(dlu, FontOfSize(27));
    ASSERT_GT(small.width(), 0);
    ASSERT_GT(small.height(), 0);
    EXPECT_GT(large.width(), small.width() * 2);
    EXPECT_GT(large.height(), small.height() * 2);
    EXPECT_GT(large.x(), small.x() * 2);
    EXPECT_GT(large.y(), small.y() * 2);
    const QSize size = DluToPixels(QSize(227, 168), FontOfSize(9));
    EXPECT_EQ(size, DluToPixels(QRect(0, 0, 227, 168), FontOfSize(9)).size());
}

// Controls that touch in dialog units must still touch in pixels at every size, with no gap or
// overlap from rounding widths on their own.
TEST_F(DialogTemplateTest, NeighbouringControlsStayFlush) {
    for (int points = 6; points <= 30; ++points) {
        SCOPED_TRACE(points);
        const QFont font = FontOfSize(points);
        for (int x = 0; x < 60; x += 7) {
            const QRect a = DluToPixels(QRect(x, 3, 13, 7), font);
            const QRect b = DluToPixels(QRect(x + 13, 10, 5, 9), font);
            EXPECT_EQ(a.x() + a.width(), b.x());
            EXPECT_EQ(a.y() + a.height(), b.y());
        }
    }
}

TEST_F(DialogTemplateTest, BuildsControlsByClassWithTextsAndGeometry) {
    QDialog dialog;
    int customCalls = 0;
    auto ids = BuildDialog(dialog, SampleTemplate(), [&](const DlgItem& item, QWidget* parent) {
        ++customCalls;
        EXPECT_EQ(item.id, 14);
        auto* edit = new QLineEdit(parent);
        edit->setObjectName(QStringLiteral("custom"));
        return static_cast<QWidget*>(edit);
    });
    const QFont font = DialogFont();

    EXPECT_EQ(dialog.windowTitle(), QStringLiteral("見本"));
    EXPECT_EQ(dialog.minimumSize(), DluToPixels(QSize(200, 100), font));
    EXPECT_EQ(dialog.maximumSize(), DluToPixels(QSize(200, 100), font));
    EXPECT_EQ(dialog.font().family(), font.family());

    // Every control with an id, none of the id-less labels.
    std::vector<int> keys;
    for (const auto& [id, w] : ids) {
        keys.push_back(id);
        EXPECT_EQ(w->parentWidget(), &dialog);
    }
    EXPECT_EQ(keys, (std::vector<int>{1, 2, 10, 11, 12, 13, 14, 15, 16}));
    EXPECT_EQ(customCalls, 1);
    EXPECT_EQ(ids[14]->objectName(), QStringLiteral("custom"));

    auto* edit = qobject_cast<QLineEdit*>(ids[10]);
    ASSERT_NE(edit, nullptr);
    EXPECT_EQ(edit->text(), QStringLiteral("abc"));
    EXPECT_TRUE(edit->alignment() & Qt::AlignLeft);
    EXPECT_EQ(edit->geometry(), DluToPixels(QRect(42, 7, 100, 14), font));
    auto* number = qobject_cast<QLineEdit*>(ids[12]);
    ASSERT_NE(number, nullptr);
    EXPECT_TRUE(number->alignment() & Qt::AlignRight);

    auto* browse = qobject_cast<QPushButton*>(ids[11]);
    ASSERT_NE(browse, nullptr);
    EXPECT_EQ(browse->text(), QStringLiteral("参照(&B)"));
    EXPECT_FALSE(browse->isDefault());
    auto* ok = qobject_cast<QPushButton*>(ids[1]);
    ASSERT_NE(ok, nullptr);
    EXPECT_TRUE(ok->isDefault());
    auto* cancel = qobject_cast<QPushButton*>(ids[2]);
    ASSERT_NE(cancel, nullptr);
    EXPECT_FALSE(cancel->isDefault());

    auto* slider = qobject_cast<QSlider*>(ids[13]);
    ASSERT_NE(slider, nullptr);
    EXPECT_EQ(slider->orientation(), Qt::Horizontal);

    auto* combo = qobject_cast<QComboBox*>(ids[15]);
    ASSERT_NE(combo, nullptr);
    EXPECT_FALSE(combo->isEditable());
    EXPECT_EQ(combo->x(), DluToPixels(QRect(100, 25, 60, 80), font).x());
    EXPECT_LT(combo->height(), DluToPixels(QRect(100, 25, 60, 80), font).height());

    auto* icon = qobject_cast<QLabel*>(ids[16]);
    ASSERT_NE(icon, nullptr);
    EXPECT_EQ(icon->frameShape(), QFrame::Box);
    EXPECT_EQ(icon->lineWidth(), 1);

    // Labels: left-aligned, texts as given; a no-prefix label shows '&' as it is.
    std::vector<QString> labelTexts;
    for (QLabel* label : dialog.findChildren<QLabel*>(Qt::FindDirectChildrenOnly)) {
        if (label == icon) {
            continue;
        }
        EXPECT_TRUE(label->alignment() & Qt::AlignLeft);
        labelTexts.push_back(label->text());
    }
    EXPECT_EQ(labelTexts, (std::vector<QString>{QStringLiteral("名前"), QStringLiteral("A&&B")}));
}

TEST_F(DialogTemplateTest, PlaceholderWhenTheFactoryMakesNothing) {
    QDialog dialog;
    auto ids = BuildDialog(dialog, SampleTemplate(),
                           [](const DlgItem&, QWidget*) -> QWidget* { return nullptr; });
    ASSERT_TRUE(ids.count(14));
    EXPECT_NE(ids[14], nullptr);
    EXPECT_EQ(ids[14]->geometry(), DluToPixels(QRect(42, 62, 80, 14), DialogFont()));
    QDialog second;
    auto noFactory = BuildDialog(second, SampleTemplate());
    ASSERT_TRUE(noFactory.count(14));
    EXPECT_NE(noFactory[14], nullptr);
}

// Tab walks the controls in template order, skipping labels and the icon.
TEST_F(DialogTemplateTest, TabOrderIsTemplateOrder) {
    QDialog dialog;
    auto ids = BuildDialog(dialog, SampleTemplate());
    const std::vector<int> expected = {10, 11, 12, 13, 14, 15, 1, 2};
    QWidget* w = ids[expected.front()];
    for (std::size_t i = 1; i < expected.size(); ++i) {
        w = w->nextInFocusChain();
        while (w->focusPolicy() == Qt::NoFocus || !(w->focusPolicy() & Qt::TabFocus)) {
            w = w->nextInFocusChain();
        }
        // Composite widgets (a combo box) may bring inner parts; climb to the control itself.
        while (w->parentWidget() != &dialog) {
            w = w->parentWidget();
        }
        EXPECT_EQ(w->property("dlgItemId").toInt(), expected[i]) << "step " << i;
    }
}

// A label with a mnemonic hands the focus to the control after it.
TEST_F(DialogTemplateTest, MnemonicLabelGetsTheNextControlAsBuddy) {
    const DlgTemplate tmpl = {901,
                              "x",
                              QSize(100, 50),
                              {
                                  {-1, DlgClass::Label, "名前(&N)", QRect(2, 2, 30, 8)},
                                  {20, DlgClass::Edit, "", QRect(40, 2, 50, 14)},
                                  {-1, DlgClass::Label, "末尾(&E)", QRect(2, 20, 30, 8)},
                              }};
    QDialog dialog;
    auto ids = BuildDialog(dialog, tmpl);
    auto labels = dialog.findChildren<QLabel*>();
    ASSERT_EQ(labels.size(), 2);
    EXPECT_EQ(labels[0]->buddy(), ids[20]);
    EXPECT_EQ(labels[1]->buddy(), nullptr);
    EXPECT_EQ(labels[1]->text(), QStringLiteral("末尾(E)"));
}

// A dialog that refuses its fields until told to take them, as the editor does.
class SampleDlg : public CTemplateDlg {
public:
    SampleDlg() { BuildFromTemplate(SampleTemplate()); }
    void accept() override { m_bTake ? QDialog::accept() : void(++m_nRefused); }
    using CTemplateDlg::AnchorControls;
    bool m_bTake = false;
    int m_nRefused = 0;
};

TEST_F(DialogTemplateTest, BaseRoutesOkThroughAcceptAndCancelToReject) {
    SampleDlg dlg;
    auto button = [&](int id) { return qobject_cast<QPushButton*>(dlg.GetDlgItem(id)); };
    dlg.setResult(-1);
    button(1)->click();
    EXPECT_EQ(dlg.m_nRefused, 1);
    EXPECT_EQ(dlg.result(), -1); // refused: the dialog stays
    dlg.m_bTake = true;
    button(1)->click();
    EXPECT_EQ(dlg.result(), QDialog::Accepted);
    button(2)->click();
    EXPECT_EQ(dlg.result(), QDialog::Rejected);
}

TEST_F(DialogTemplateTest, AnchoredControlsFollowTheExtraRoomEdgeByEdge) {
    SampleDlg dlg;
    // Everything stays but the first edit (widens), OK (moves all the way), Cancel (half way).
    std::vector<DlgAnchor> anchors(SampleTemplate().items.size(), DlgAnchor{0, 0, 0, 0});
    anchors[1] = {0, 0, 1, 0};
    anchors[9] = {1, 1, 1, 1};
    anchors[10] = {0.5f, 1, 0.5f, 1};
    const QSize designed = dlg.size();
    std::map<int, QRect> before;
    for (int id : {10, 13, 1, 2})
        before[id] = dlg.GetDlgItem(id)->geometry();
    dlg.AnchorControls(anchors, designed);
    dlg.show();
    dlg.resize(designed + QSize(40, 20));
    EXPECT_EQ(dlg.minimumSize(), designed);
    EXPECT_EQ(dlg.GetDlgItem(10)->geometry(), before[10].adjusted(0, 0, 40, 0));
    EXPECT_EQ(dlg.GetDlgItem(13)->geometry(), before[13]);
    EXPECT_EQ(dlg.GetDlgItem(1)->geometry(), before[1].translated(40, 20));
    EXPECT_EQ(dlg.GetDlgItem(2)->geometry(), before[2].translated(20, 20));
    dlg.resize(designed / 2); // never below the designed size
    EXPECT_EQ(dlg.GetDlgItem(1)->geometry(), before[1]);
}

} // namespace
