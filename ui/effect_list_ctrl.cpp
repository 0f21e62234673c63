// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/effect_list_ctrl.h"

#include "base/text.h"
#include "desktop/qt_text.h"
#include "ui/texts.h"

#include <QHeaderView>
#include <QMouseEvent>
#include <QPainter>
#include <QStyledItemDelegate>

#include <algorithm>
#include <cmath>

namespace {

// The shortening buffer shared by every list: rows are painted one at a time on the window's
// thread, and a cut text lives only until the row is drawn.
char s_szShort[kCellTextSize];

// Measures heads of one cell text without converting each head again: a CP932 character that
// converts to exactly one UTF-16 unit lets a head of k characters be the first k units.
class CellMeasure {
public:
    CellMeasure(const QFontMetrics& fm, std::string_view text)
        : m_fm(fm), m_text(text), m_wide(QStringFromCp932(text)) {
        m_oneToOne = m_wide.size() == static_cast<qsizetype>(CharCount(text));
    }
    int operator()(std::string_view head) const {
        if (m_oneToOne && head.data() == m_text.data())
            return m_fm.horizontalAdvance(m_wide.left(static_cast<qsizetype>(CharCount(head))));
        return m_fm.horizontalAdvance(QStringFromCp932(head));
    }
    const QString& Wide() const { return m_wide; }

private:
    static std::size_t CharCount(std::string_view text) {
        std::size_t count = 0;
        for (std::size_t pos = 0; pos < text.size(); ++count)
            pos += IsLeadByte(text, pos) ? 2 : 1;
        return count;
    }

    const QFontMetrics& m_fm;
    std::string_view m_text;
    QString m_wide;
    bool m_oneToOne;
};

// Answers the view's row-height question with the list's MeasureItem.
class CRowHeightDelegate : public QStyledItemDelegate {
public:
    explicit CRowHeightDelegate(CEffectListCtrl* list) : QStyledItemDelegate(list), m_pList(list) {}
    QSize sizeHint(const QStyleOptionViewItem&, const QModelIndex&) const override {
        return {0, m_pList->MeasureItem()};
    }

private:
    CEffectListCtrl* m_pList;
};

COLORREF RefFromQColor(const QColor& c) {
    return RGB(c.red(), c.green(), c.blue());
}

const QColor kGridColour(0xD8, 0xD8, 0xD8);

double Luminance(const QColor& c) {
    auto linear = [](double v) {
        return v <= 0.04045 ? v / 12.92 : std::pow((v + 0.055) / 1.055, 2.4);
    };
    return 0.2126 * linear(c.redF()) + 0.7152 * linear(c.greenF()) + 0.0722 * linear(c.blueF());
}

} // namespace

double ContrastRatio(const QColor& a, const QColor& b) {
    const double la = Luminance(a);
    const double lb = Luminance(b);
    return (std::max(la, lb) + 0.05) / (std::min(la, lb) + 0.05);
}

QColor TintForPalette(COLORREF designed, const QColor& text, const QColor& window) {
    const QColor tint = QColorFromRef(designed);
    if (Luminance(window) >= Luminance(text))
        return tint;
    // Same hue and saturation, less light, until the text reads on it.
    float hue = 0;
    float saturation = 0;
    float lightness = 0;
    tint.getHslF(&hue, &saturation, &lightness);
    for (float l = lightness; l > 0; l -= 0.01f) {
        const QColor darker(QColor::fromHslF(hue, saturation, l).rgb()); // as it is painted
        if (ContrastRatio(text, darker) >= 4.5)
            return darker;
    }
    return Qt::black;
}

std::vector<ListRow> EffectListRows(const EffectTable& table, HKL layout) {
    std::vector<ListRow> rows;
    rows.reserve(static_cast<std::size_t>(table.GetSize()));
    for (int i = 0; i < table.GetSize(); ++i) {
        const EffectEntryPtr& entry = table.GetPtrAt(i);
        rows.push_back({EffectRowTexts(*entry, layout), entry, nullptr});
    }
    return rows;
}

std::vector<ListRow> PlayListRows(const ActivePlayList& jobs) {
    std::vector<ListRow> rows;
    rows.reserve(static_cast<std::size_t>(jobs.GetSize()));
    for (int i = 0; i < jobs.GetSize(); ++i) {
        const PlayJobPtr& job = jobs.GetAt(i);
        rows.push_back({job->pEntry ? PlayRowTexts(*job->pEntry) : RowTexts{}, nullptr, job});
    }
    return rows;
}

void CEffectListModel::SetRows(std::vector<ListRow> rows) {
    beginResetModel();
    m_rows = std::move(rows);
    endResetModel();
}

void CEffectListModel::SetHeaders(std::vector<QString> headers) {
    const int old = columnCount();
    const int now = static_cast<int>(headers.size());
    if (now > old)
        beginInsertColumns({}, old, now - 1);
    m_headers = std::move(headers);
    if (now > old)
        endInsertColumns();
    else
        emit headerDataChanged(Qt::Horizontal, 0, now - 1);
}

bool CEffectListModel::SetMonitorMissing(bool missing) {
    const bool changed = missing != m_bMonitorMissing;
    m_bMonitorMissing = missing;
    return changed;
}

bool CEffectListModel::Silent(const ListRow& row) const {
    return m_bMonitorMissing && row.pEntry && row.pEntry->options.send == OutputSend::Monitor;
}

const ListRow* CEffectListModel::Row(int row) const {
    if (row < 0 || row >= rowCount())
        return nullptr;
    return &m_rows[static_cast<std::size_t>(row)];
}

int CEffectListModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(m_rows.size());
}

int CEffectListModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(m_headers.size());
}

QVariant CEffectListModel::data(const QModelIndex& index, int role) const {
    const ListRow* row = Row(index.row());
    if (row && Silent(*row) && role == Qt::ToolTipRole)
        return QString::fromUtf8(texts::kSilentWithoutMonitor.data(),
                                 texts::kSilentWithoutMonitor.size());
    if (row && row->pJob && role == Qt::ToolTipRole) // the level the play list set
        return QString::fromUtf8(texts::kPlayLevel.data(), texts::kPlayLevel.size())
            .arg(QString::asprintf(row->pJob->nLiveDb > 0 ? "+%d" : "%d", row->pJob->nLiveDb));
    if (!row || role != Qt::DisplayRole || index.column() < 0 ||
        index.column() >= static_cast<int>(row->cells.size()))
        return {};
    return QStringFromCp932(row->cells[static_cast<std::size_t>(index.column())]);
}

QVariant CEffectListModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation != Qt::Horizontal || section < 0 ||
        section >= static_cast<int>(m_headers.size()))
        return {};
    if (role == Qt::DisplayRole)
        return m_headers[static_cast<std::size_t>(section)];
    if (role == Qt::TextAlignmentRole)
        return QVariant::fromValue(Qt::Alignment(Qt::AlignLeft | Qt::AlignVCenter));
    return {};
}

CEffectListCtrl::CEffectListCtrl(COLORREF tint, QWidget* parent)
    : QTreeView(parent), m_clrTint(tint), m_pModel(new CEffectListModel(this)) {
    setModel(m_pModel);
    setItemDelegate(new CRowHeightDelegate(this));
    setRootIsDecorated(false);
    setIndentation(0);
    setItemsExpandable(false);
    setUniformRowHeights(true);
    setAllColumnsShowFocus(true);
    setSelectionMode(QAbstractItemView::SingleSelection);
    setSelectionBehavior(QAbstractItemView::SelectRows);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setSortingEnabled(false);
    setFrameShape(QFrame::StyledPanel);
    header()->setSectionsMovable(false);
    header()->setStretchLastSection(false);
    header()->setSectionResizeMode(QHeaderView::Interactive);
    header()->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);

    connect(selectionModel(), &QItemSelectionModel::selectionChanged, this,
            [this](const QItemSelection& selected, const QItemSelection&) {
                if (!selected.indexes().isEmpty())
                    m_nSelectionMark = selected.indexes().first().row();
            });
    connect(m_pModel, &QAbstractItemModel::modelReset, this, [this] { m_nSelectionMark = -1; });
}

void CEffectListCtrl::InsertColumn(int column, const QString& headerText, int width,
                                   Qt::Alignment align) {
    std::vector<QString> headers;
    for (int i = 0; i < m_pModel->columnCount(); ++i)
        headers.push_back(m_pModel->headerData(i, Qt::Horizontal, Qt::DisplayRole).toString());
    column = std::clamp(column, 0, static_cast<int>(headers.size()));
    headers.insert(headers.begin() + column, headerText);
    m_columnAlign.insert(m_columnAlign.begin() + column, align);
    m_pModel->SetHeaders(std::move(headers));
    header()->resizeSection(column, width + (column == 0 ? m_nGrowth : 0));
}

void CEffectListCtrl::StretchFirstColumn(int designedWidth) {
    m_nDesignedWidth = designedWidth;
    FollowWidth();
}

void CEffectListCtrl::FollowWidth() {
    const int growth = m_nDesignedWidth > 0 ? std::max(0, width() - m_nDesignedWidth) : 0;
    if (growth == m_nGrowth)
        return;
    if (header()->count() > 0)
        header()->resizeSection(0, header()->sectionSize(0) - m_nGrowth + growth);
    m_nGrowth = growth;
}

void CEffectListCtrl::resizeEvent(QResizeEvent* event) {
    QTreeView::resizeEvent(event);
    FollowWidth();
}

std::vector<int> CEffectListCtrl::ColumnWidths() const {
    std::vector<int> widths;
    for (int c = 0; c < header()->count(); ++c)
        widths.push_back(header()->sectionSize(c));
    if (!widths.empty())
        widths[0] = std::max(widths[0] - m_nGrowth, header()->minimumSectionSize());
    return widths;
}

void CEffectListCtrl::SetColumnWidths(const std::vector<int>& widths) {
    if (static_cast<int>(widths.size()) != header()->count())
        return;
    for (int c = 0; c < header()->count(); ++c)
        header()->resizeSection(c, widths[static_cast<std::size_t>(c)] + (c == 0 ? m_nGrowth : 0));
}

void CEffectListCtrl::SetRows(std::vector<ListRow> rows) {
    m_pModel->SetRows(std::move(rows));
}

void CEffectListCtrl::SetMonitorMissing(bool missing) {
    if (m_pModel->SetMonitorMissing(missing))
        viewport()->update();
}

int CEffectListCtrl::GetItemCount() const {
    return m_pModel->rowCount();
}

const ListRow* CEffectListCtrl::GetRow(int row) const {
    return m_pModel->Row(row);
}

QString CEffectListCtrl::GetItemText(int row, int column) const {
    return m_pModel->data(m_pModel->index(row, column), Qt::DisplayRole).toString();
}

void CEffectListCtrl::SetItemSelected(int row) {
    if (row < 0 || row >= GetItemCount())
        return;
    QModelIndex index = m_pModel->index(row, 0);
    selectionModel()->setCurrentIndex(index, QItemSelectionModel::ClearAndSelect |
                                                 QItemSelectionModel::Rows);
    m_nSelectionMark = row;
}

int CEffectListCtrl::MeasureItem() const {
    // The font's pixel height, as the list was designed (12 at 9 points); never less than a
    // line of the font, so that a font with tall glyphs is not clipped.
    const QFontInfo info(font());
    return std::max(std::abs(info.pixelSize()), fontMetrics().height());
}

void CEffectListCtrl::drawRow(QPainter* painter, const QStyleOptionViewItem& option,
                              const QModelIndex& index) const {
    const int left = header()->sectionViewportPosition(0);
    DrawItem(*painter, index.row(),
             QRect(left, option.rect.top(), header()->length(), option.rect.height()));
}

void CEffectListCtrl::DrawItem(QPainter& painter, int row, const QRect& rowRect) const {
    const ListRow* item = m_pModel->Row(row);
    if (!item)
        return;
    const bool focus = hasFocus();
    const bool selected = selectionModel()->isRowSelected(row, QModelIndex());

    QColor text;
    const QColor window = palette().color(QPalette::Base);
    const QColor tint =
        TintForPalette(m_clrTint, palette().color(QPalette::Active, QPalette::Text), window);
    if (selected) {
        painter.fillRect(rowRect, QColorFromRef(ScaleColour(RefFromQColor(tint), 0.5)));
        text = palette().color(QPalette::HighlightedText);
    } else {
        painter.fillRect(rowRect, row % 2 ? tint : window);
        const bool unavailable =
            (item->pEntry && !item->pEntry->IsAvailable()) || m_pModel->Silent(*item);
        text = palette().color(unavailable ? QPalette::Disabled : QPalette::Active, QPalette::Text);
    }
    painter.setPen(text);

    const QFontMetrics fm(font());
    QRect cell(rowRect.left(), rowRect.top(), 0, rowRect.height());
    const int columns = m_pModel->columnCount();
    for (int column = 0; column < columns; ++column) {
        cell.setLeft(cell.left() + cell.width());
        cell.setWidth(header()->sectionSize(column));
        std::string_view cellText = CellText(item->cells[static_cast<std::size_t>(column)]);
        if (cellText.empty())
            continue;
        const int margin = column == 0 ? 4 : 12;
        const int inset = column == 0 ? 2 : 6;
        CellMeasure measure(fm, cellText);
        std::string_view shown = MakeShortString(
            cellText, cell.width(), margin, [&](std::string_view s) { return measure(s); },
            s_szShort);
        Qt::Alignment align = Qt::AlignLeft;
        if (shown.data() == cellText.data() && column < static_cast<int>(m_columnAlign.size()))
            align = m_columnAlign[static_cast<std::size_t>(column)] & Qt::AlignHorizontal_Mask;
        align |= column == 0 ? Qt::AlignVCenter : Qt::AlignTop;
        const QString wide =
            shown.data() == cellText.data() ? measure.Wide() : QStringFromCp932(shown);
        painter.drawText(cell.adjusted(inset, 0, -inset, 0), int(align) | Qt::TextDontClip, wide);
    }

    // Grid lines: the bottom of the row and the right edge of every column.
    painter.setPen(kGridColour);
    painter.drawLine(rowRect.left(), rowRect.bottom(), rowRect.right(), rowRect.bottom());
    int x = rowRect.left();
    for (int column = 0; column < columns; ++column) {
        x += header()->sectionSize(column);
        painter.drawLine(x - 1, rowRect.top(), x - 1, rowRect.bottom());
    }

    if (focus && currentIndex().isValid() && currentIndex().row() == row) {
        QPen pen(text, 1, Qt::DotLine);
        painter.setPen(pen);
        painter.setBrush(Qt::NoBrush);
        painter.drawRect(rowRect.adjusted(0, 0, -1, -1));
    }
}

void CEffectListCtrl::paintEvent(QPaintEvent* event) {
    QTreeView::paintEvent(event);
    // Below the last row the grid goes on, as on an empty list.
    QPainter painter(viewport());
    painter.setPen(kGridColour);
    const int rowHeight = MeasureItem();
    int top = 0;
    if (GetItemCount() > 0) {
        QRect last = visualRect(m_pModel->index(GetItemCount() - 1, 0));
        top = last.bottom() + 1;
    }
    const int left = header()->sectionViewportPosition(0);
    const int right = left + header()->length();
    const int bottom = viewport()->height();
    if (top >= bottom || rowHeight <= 0)
        return;
    for (int y = top + rowHeight - 1; y < bottom; y += rowHeight)
        painter.drawLine(left, y, right - 1, y);
    int x = left;
    for (int column = 0; column < m_pModel->columnCount(); ++column) {
        x += header()->sectionSize(column);
        painter.drawLine(x - 1, top, x - 1, bottom);
    }
}

void CEffectListCtrl::mousePressEvent(QMouseEvent* event) {
    QTreeView::mousePressEvent(event);
    m_bLeftPressed = event->button() == Qt::LeftButton;
    m_bRightPressed = event->button() == Qt::RightButton;
}

void CEffectListCtrl::mouseReleaseEvent(QMouseEvent* event) {
    QTreeView::mouseReleaseEvent(event);
    if (event->button() == Qt::LeftButton && m_bLeftPressed) {
        m_bLeftPressed = false;
        emit Click();
    } else if (event->button() == Qt::RightButton && m_bRightPressed) {
        m_bRightPressed = false;
        emit RClick();
    }
}

void CEffectListCtrl::mouseDoubleClickEvent(QMouseEvent* event) {
    QTreeView::mouseDoubleClickEvent(event);
    if (event->button() == Qt::LeftButton) {
        m_bLeftPressed = false; // the release that follows is not another click
        emit DblClick();
    }
}
