// SPDX-License-Identifier: GPL-3.0-or-later
// The owner-drawn list: painted into an image and sampled, so that colours, cutting and the
// focus rectangle are checked as a user would see them.
#include "dialog_test_app.h"
#include "ui/effect_list_ctrl.h"

#include "tests/support/test_support.h"
#include "ui/dialog_template.h"

#include <QApplication>
#include <QHeaderView>
#include <QImage>
#include <QLineEdit>
#include <QSignalSpy>
#include <QTest>

#include <gtest/gtest.h>

#include <memory>

namespace {

class ListTest : public ::testing::Test {
protected:
    void SetUp() override {
        EnsureDialogTestApp();
        m_window = std::make_unique<QWidget>();
        m_window->setFont(DialogFont());
        m_list = new CEffectListCtrl(kEffectListTint, m_window.get());
        m_other = new QLineEdit(m_window.get());
        m_list->setGeometry(0, 0, 320, 240);
        m_other->setGeometry(0, 250, 100, 20);
        m_list->InsertColumn(0, "name", 100);
        m_list->InsertColumn(1, "key", 65);
        m_list->InsertColumn(2, "repeat", 65);
        m_list->InsertColumn(3, "vol", 40);
        m_window->resize(330, 280);
        m_window->show();
    }

    // Rows named "HH" with every other cell empty, available unless listed.
    void Fill(int count, std::vector<int> unavailable = {}) {
        std::vector<ListRow> rows;
        for (int i = 0; i < count; ++i) {
            auto entry = std::make_shared<EffectEntry>();
            const bool gone =
                std::find(unavailable.begin(), unavailable.end(), i) != unavailable.end();
            if (!gone) {
                entry->pBuffer = std::shared_ptr<IDirectSoundBuffer>(
                    std::shared_ptr<int>(), reinterpret_cast<IDirectSoundBuffer*>(1));
                entry->dwDataLength = 100;
            }
            rows.push_back({{"HH", "", "", ""}, entry, nullptr});
        }
        m_list->SetRows(std::move(rows));
    }

    QImage Paint() {
        QApplication::processEvents();
        return m_list->viewport()->grab().toImage();
    }

    QRect RowRect(int row) const { return m_list->visualRect(m_list->model()->index(row, 0)); }

    // A point inside the row's first column, right of its short text.
    QPoint EmptyPoint(int row) const {
        QRect r = RowRect(row);
        return {r.left() + 90, r.center().y()};
    }

    // The pixel of the row's text that differs most from its background.
    QColor InkOf(const QImage& image, int row) const {
        QRect r = RowRect(row).adjusted(0, 1, 0, -1);
        r.setWidth(40);
        const QColor background = image.pixelColor(EmptyPoint(row));
        QColor best = background;
        int bestDistance = -1;
        for (int y = r.top(); y <= r.bottom(); ++y)
            for (int x = r.left(); x <= r.right(); ++x) {
                QColor c = image.pixelColor(x, y);
                int d = std::abs(c.red() - background.red()) +
                        std::abs(c.green() - background.green()) +
                        std::abs(c.blue() - background.blue());
                if (d > bestDistance) {
                    bestDistance = d;
                    best = c;
                }
            }
        return best;
    }

    // Glyph edges are smoothed; the strongest pixel of a stem comes close to the pen.
    static bool Near(const QColor& a, const QColor& b, int tolerance = 80) {
        return std::abs(a.red() - b.red()) + std::abs(a.green() - b.green()) +
                   std::abs(a.blue() - b.blue()) <=
               tolerance;
    }

    std::unique_ptr<QWidget> m_window;
    CEffectListCtrl* m_list = nullptr;
    QLineEdit* m_other = nullptr;
};

TEST_F(ListTest, RowsAlternateWindowColourAndTint) {
    Fill(5);
    const QImage image = Paint();
    const QColor window = m_list->palette().color(QPalette::Base);
    for (int row = 0; row < 5; ++row) {
        const QColor expected = row % 2 ? QColorFromRef(kEffectListTint) : window;
        EXPECT_EQ(image.pixelColor(EmptyPoint(row)), expected) << "row " << row;
    }
}

TEST_F(ListTest, PlayListTintIsPink) {
    m_list->m_clrTint = kPlayListTint;
    Fill(2);
    EXPECT_EQ(Paint().pixelColor(EmptyPoint(1)), QColor(255, 153, 153));
}

TEST_F(ListTest, SelectedRowIsHalfTintInHighlightTextAlsoWithoutFocus) {
    Fill(5);
    m_other->setFocus();
    m_list->SetItemSelected(2);
    const QImage image = Paint();
    ASSERT_FALSE(m_list->hasFocus());
    EXPECT_EQ(image.pixelColor(EmptyPoint(2)), QColor(102, 119, 127));
    EXPECT_TRUE(Near(InkOf(image, 2), m_list->palette().color(QPalette::HighlightedText)))
        << InkOf(image, 2).name().toStdString();
    // The rows around it keep their colours.
    EXPECT_EQ(image.pixelColor(EmptyPoint(1)), QColorFromRef(kEffectListTint));
    EXPECT_EQ(image.pixelColor(EmptyPoint(3)), QColorFromRef(kEffectListTint));
}

TEST_F(ListTest, FocusRectangleOnlyWhileTheListHasFocus) {
    Fill(3);
    m_list->SetItemSelected(1);
    auto markedOnTopEdge = [&](const QImage& image) {
        const QRect r = RowRect(1);
        const QColor fill = image.pixelColor(EmptyPoint(1));
        int marked = 0;
        for (int x = r.left() + 10; x < r.left() + 90; ++x)
            marked += image.pixelColor(x, r.top()) != fill;
        return marked;
    };
    m_other->setFocus();
    EXPECT_EQ(markedOnTopEdge(Paint()), 0);
    m_list->setFocus();
    ASSERT_TRUE(m_list->hasFocus());
    EXPECT_GT(markedOnTopEdge(Paint()), 10);
}

TEST_F(ListTest, UnavailableEffectIsGreyed) {
    Fill(3, {2});
    const QImage image = Paint();
    const QColor normal = InkOf(image, 0);
    const QColor grey = InkOf(image, 2);
    EXPECT_TRUE(Near(normal, m_list->palette().color(QPalette::Active, QPalette::Text)))
        << normal.name().toStdString();
    EXPECT_TRUE(Near(grey, m_list->palette().color(QPalette::Disabled, QPalette::Text)))
        << grey.name().toStdString();
    EXPECT_GT(grey.lightness(), normal.lightness() + 40);
}

TEST_F(ListTest, MonitorOnlyEffectIsGreyedWithoutAMonitor) {
    Fill(3);
    m_list->GetRow(1)->pEntry->options.send = OutputSend::Main;
    m_list->GetRow(2)->pEntry->options.send = OutputSend::Monitor;
    for (const bool missing : {true, false}) {
        m_list->SetMonitorMissing(missing);
        const QImage image = Paint();
        const QColor normal = InkOf(image, 0), monitor = InkOf(image, 2);
        EXPECT_EQ(monitor.lightness() > normal.lightness() + 40, missing);
        for (int row = 0; row < 3; ++row)
            EXPECT_EQ(
                m_list->model()->data(m_list->model()->index(row, 0), Qt::ToolTipRole).isNull(),
                !(missing && row == 2));
    }
}

TEST_F(ListTest, LongNameIsCutInsideItsColumn) {
    std::vector<ListRow> rows;
    rows.push_back({{std::string(80, 'W'), "", "", ""}, nullptr, nullptr});
    rows.push_back({{"W", "", "", ""}, nullptr, nullptr});
    m_list->SetRows(std::move(rows));
    const QImage image = Paint();
    const QRect r = RowRect(0);
    // Cells are drawn unclipped: a text that was not cut would run on into column 1.
    const QColor background = image.pixelColor(r.left() + 180, r.center().y()); // column 2
    for (int x = r.left() + 101; x < r.left() + 160; ++x)
        for (int y = r.top() + 1; y < r.bottom(); ++y)
            ASSERT_EQ(image.pixelColor(x, y), background) << x << "," << y;
    EXPECT_EQ(m_list->GetItemText(0, 0), QString(80, 'W'));
}

TEST_F(ListTest, RowHeightFollowsTheFontAndGridLinesAreDrawn) {
    Fill(2);
    EXPECT_EQ(RowRect(0).height(), m_list->MeasureItem());
    EXPECT_GE(m_list->MeasureItem(), QFontInfo(m_list->font()).pixelSize());
    const QImage image = Paint();
    const QRect r = RowRect(0);
    const QColor grid = image.pixelColor(r.left() + 99, r.center().y());
    EXPECT_NE(grid, image.pixelColor(EmptyPoint(0)));
    EXPECT_EQ(image.pixelColor(r.left() + 50, r.bottom()), grid);
}

TEST_F(ListTest, SelectionMarkIsTheRowLastSelected) {
    Fill(4);
    EXPECT_EQ(m_list->GetSelectionMark(), -1);
    QTest::mouseClick(m_list->viewport(), Qt::LeftButton, {}, RowRect(2).center());
    EXPECT_EQ(m_list->GetSelectionMark(), 2);
    // A click below the last row leaves the mark where it was.
    QTest::mouseClick(m_list->viewport(), Qt::LeftButton, {}, QPoint(20, 200));
    EXPECT_EQ(m_list->GetSelectionMark(), 2);
    QTest::keyClick(m_list, Qt::Key_Down);
    EXPECT_EQ(m_list->GetSelectionMark(), 3);
    m_list->SetItemSelected(1);
    EXPECT_EQ(m_list->GetSelectionMark(), 1);
    Fill(4); // rebuilt whole
    EXPECT_EQ(m_list->GetSelectionMark(), -1);
    EXPECT_FALSE(m_list->selectionModel()->hasSelection());
}

TEST_F(ListTest, NotificationsAlsoFromEmptyArea) {
    Fill(2);
    QSignalSpy click(m_list, &CEffectListCtrl::Click);
    QSignalSpy dbl(m_list, &CEffectListCtrl::DblClick);
    QSignalSpy right(m_list, &CEffectListCtrl::RClick);
    QTest::mouseClick(m_list->viewport(), Qt::LeftButton, {}, RowRect(0).center());
    EXPECT_EQ(click.count(), 1);
    QTest::mouseClick(m_list->viewport(), Qt::RightButton, {}, QPoint(20, 200));
    EXPECT_EQ(right.count(), 1);
    EXPECT_EQ(click.count(), 1);
    QTest::mouseDClick(m_list->viewport(), Qt::LeftButton, {}, QPoint(20, 200));
    EXPECT_EQ(dbl.count(), 1);
}

} // namespace

namespace {

// Light palettes keep the designed tints; dark ones (Fusion dark, Breeze Dark, Adwaita-dark)
// get tints of the same hue on which their text keeps 4.5:1, also on a painted row.
TEST_F(ListTest, TintsStayReadableUnderDarkPalettes) {
    const std::pair<QColor, QColor> palettes[] = {
        {QColor(0x31, 0x36, 0x3b), Qt::white}, // text and window colours of Breeze
        {Qt::white, QColor(0x2a, 0x2a, 0x2a)},
        {QColor(0xef, 0xf0, 0xf1), QColor(0x23, 0x26, 0x29)},
        {QColor(0xee, 0xee, 0xec), QColor(0x2d, 0x2d, 0x2d)},
    };
    for (const auto& [text, window] : palettes) {
        for (COLORREF designed : {kEffectListTint, kPlayListTint}) {
            const QColor tint = TintForPalette(designed, text, window);
            if (text == palettes[0].first) {
                EXPECT_EQ(tint, QColorFromRef(designed));
                continue;
            }
            EXPECT_GE(ContrastRatio(text, tint), 4.5) << window.name().toStdString();
            EXPECT_NEAR(tint.hslHueF(), QColorFromRef(designed).hslHueF(), 0.01);
        }
        QPalette palette = m_list->palette();
        palette.setColor(QPalette::Text, text);
        palette.setColor(QPalette::Base, window);
        m_list->setPalette(palette);
        Fill(2);
        EXPECT_EQ(Paint().pixelColor(EmptyPoint(1)), TintForPalette(kEffectListTint, text, window));
    }
}

} // namespace
