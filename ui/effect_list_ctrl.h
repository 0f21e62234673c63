// SPDX-License-Identifier: GPL-3.0-or-later
// The owner-drawn report list behind both lists of the main window. The view keeps rows,
// columns, selection and scrolling; every row is painted by DrawItem alone: alternating window
// colour and tint, the selected row in the tint at half brightness, cells cut with "...",
// grid lines and a focus rectangle.
#pragma once

#include "core/row_text.h"
#include "model/effect_table.h"
#include "playback/active_play_list.h"
#include "playback/play_job.h"

#include <QAbstractTableModel>
#include <QColor>
#include <QTreeView>

#include <string>
#include <vector>

// One row: its four cell texts (CP932) and the entry or job it shows.
struct ListRow {
    RowTexts cells;
    EffectEntryPtr pEntry; // effect list rows
    PlayJobPtr pJob;       // play list rows
};

// The rows of the effect list and the play list, in table / start order.
std::vector<ListRow> EffectListRows(const EffectTable& table, HKL layout);
std::vector<ListRow> PlayListRows(const ActivePlayList& jobs);

class CEffectListModel : public QAbstractTableModel {
    Q_OBJECT
public:
    using QAbstractTableModel::QAbstractTableModel;

    void SetRows(std::vector<ListRow> rows);
    void SetHeaders(std::vector<QString> headers);
    const ListRow* Row(int row) const;
    // Without a monitor output, effects sent only to it are silent: their rows say so. True
    // when it changed.
    bool SetMonitorMissing(bool missing);
    bool Silent(const ListRow& row) const;

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

private:
    std::vector<ListRow> m_rows;
    std::vector<QString> m_headers;
    bool m_bMonitorMissing = false;
};

inline QColor QColorFromRef(COLORREF c) {
    return QColor(GetRValue(c), GetGValue(c), GetBValue(c));
}

// WCAG contrast ratio of two colours (1 to 21).
double ContrastRatio(const QColor& a, const QColor& b);
// The tint a row is painted in under this palette: the designed tint while the window colour is
// light; under a dark palette (light text on a dark window) the same hue, darkened until the
// text on it keeps a contrast of at least 4.5:1.
QColor TintForPalette(COLORREF designed, const QColor& text, const QColor& window);

class CEffectListCtrl : public QTreeView {
    Q_OBJECT
public:
    explicit CEffectListCtrl(COLORREF tint, QWidget* parent = nullptr);

    // The owner may change the tint before the first paint (the play list's is pink).
    COLORREF m_clrTint;

    // A column `width` pixels wide; texts that fit are aligned as asked, cut ones to the left.
    void InsertColumn(int column, const QString& header, int width,
                      Qt::Alignment align = Qt::AlignLeft);
    // From now on the first column also takes whatever the list is wider than `designedWidth`.
    // The widths reported and set stay those of the list at that width.
    void StretchFirstColumn(int designedWidth);
    // Every column's width in pixels; widths given back are taken only one per column.
    std::vector<int> ColumnWidths() const;
    void SetColumnWidths(const std::vector<int>& widths);
    // Deletes every row and inserts the given ones; the selection mark becomes -1.
    void SetRows(std::vector<ListRow> rows);
    int GetItemCount() const;
    const ListRow* GetRow(int row) const;
    QString GetItemText(int row, int column) const;

    // The row last selected, -1 when none (reset when the rows are rebuilt).
    int GetSelectionMark() const { return m_nSelectionMark; }
    // Selects and focuses a row, which also becomes the selection mark.
    void SetItemSelected(int row);
    // Greys the rows of effects sent only to the monitor while there is none.
    void SetMonitorMissing(bool missing);

    // The row height the list asks for: the height of its font.
    int MeasureItem() const;

signals:
    // The list's notifications to its owner: left click, double click, right click. Sent also
    // for clicks on an empty part of the list.
    void Click();
    void DblClick();
    void RClick();

protected:
    void drawRow(QPainter* painter, const QStyleOptionViewItem& option,
                 const QModelIndex& index) const override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    void DrawItem(QPainter& painter, int row, const QRect& rowRect) const;
    void FollowWidth();

    CEffectListModel* m_pModel;
    std::vector<Qt::Alignment> m_columnAlign;
    int m_nSelectionMark = -1;
    bool m_bLeftPressed = false;
    bool m_bRightPressed = false;
    int m_nDesignedWidth = 0; // 0: no column stretches
    int m_nGrowth = 0;        // what the first column is given on top of its own width
};
