// SPDX-License-Identifier: GPL-3.0-or-later
// Drawn from the sound's peaks: each pixel column spans the slices under it and draws their lowest
// and highest sample, so a click a single sample long still shows at any width.
#include "ui/waveform_ctrl.h"

#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>

#include <algorithm>
#include <cstdlib>

namespace {

constexpr int kGrabPixels = 5; // how near a mark a press takes it rather than the nearer one
constexpr int kKeyStepMs = 10;
constexpr int kShiftKeyStepMs = 100;

} // namespace

CWaveformCtrl::CWaveformCtrl(QWidget* parent) : QWidget(parent) {
    setFocusPolicy(Qt::StrongFocus);
    setAutoFillBackground(false);
}

void CWaveformCtrl::SetSound(std::shared_ptr<const PreviewSound> sound, const QString& message) {
    m_pSound = std::move(sound);
    m_strMessage = message;
    m_dragged = Mark::None;
    update();
}

void CWaveformCtrl::SetMarks(int startMs, int endMs) {
    m_nStartMs = std::max(startMs, 0);
    m_nEndMs = std::max(endMs, 0);
    update();
}

QRect CWaveformCtrl::Plot() const {
    return rect().adjusted(1, 1, -1, -1);
}

int CWaveformCtrl::ShownEndMs() const {
    const int length = m_pSound ? static_cast<int>(m_pSound->nLengthMs) : 0;
    return m_nEndMs == 0 ? length : std::min(m_nEndMs, length);
}

int CWaveformCtrl::XOfMs(int ms) const {
    const QRect plot = Plot();
    const int length = m_pSound ? static_cast<int>(m_pSound->nLengthMs) : 0;
    if (length <= 0 || plot.width() < 2)
        return plot.left();
    return plot.left() + static_cast<int>((static_cast<long long>(std::clamp(ms, 0, length)) *
                                               (plot.width() - 1) +
                                           length / 2) /
                                          length);
}

int CWaveformCtrl::MsAtX(int x) const {
    const QRect plot = Plot();
    const int length = m_pSound ? static_cast<int>(m_pSound->nLengthMs) : 0;
    if (length <= 0 || plot.width() < 2)
        return 0;
    const int column = std::clamp(x - plot.left(), 0, plot.width() - 1);
    const int span = plot.width() - 1;
    return static_cast<int>((static_cast<long long>(column) * length + span / 2) / span);
}

void CWaveformCtrl::MoveMark(Mark mark, int ms) {
    const int length = m_pSound ? static_cast<int>(m_pSound->nLengthMs) : 0;
    if (length < 2)
        return;
    const int end = ShownEndMs();
    if (mark == Mark::Start) {
        m_nStartMs = std::clamp(ms, 0, std::max(end - 1, 0));
    } else {
        const int moved = std::clamp(ms, std::min(m_nStartMs + 1, length), length);
        m_nEndMs = moved >= length ? 0 : moved;
    }
    update();
    emit MarksChanged();
}

void CWaveformCtrl::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    const QRect plot = Plot();
    painter.fillRect(rect(), palette().base());
    painter.setPen(palette().color(QPalette::Mid));
    painter.drawRect(rect().adjusted(0, 0, -1, -1));
    if (!m_pSound) {
        painter.setPen(palette().color(QPalette::Text));
        painter.drawText(plot, Qt::AlignCenter, m_strMessage);
        return;
    }
    const int startX = XOfMs(m_nStartMs);
    const int endX = XOfMs(ShownEndMs());
    painter.fillRect(QRect(QPoint(startX, plot.top()), QPoint(endX, plot.bottom())),
                     palette().color(QPalette::AlternateBase));

    const std::vector<PreviewSound::Peak>& peaks = m_pSound->peaks;
    const double mid = plot.top() + (plot.height() - 1) / 2.0;
    const double half = (plot.height() - 1) / 2.0;
    const QColor inside(0x1f, 0x4e, 0x9a);
    const QColor outside(0xa0, 0xa0, 0xa0);
    const std::size_t slices = peaks.size();
    const auto columns = static_cast<std::size_t>(plot.width());
    for (std::size_t c = 0; c < columns && slices != 0; ++c) {
        const std::size_t from = c * slices / columns;
        const std::size_t to = std::max((c + 1) * slices / columns, from + 1);
        float lo = peaks[from].lo;
        float hi = peaks[from].hi;
        for (std::size_t s = from + 1; s < to && s < slices; ++s) {
            lo = std::min(lo, peaks[s].lo);
            hi = std::max(hi, peaks[s].hi);
        }
        const int x = plot.left() + static_cast<int>(c);
        painter.setPen(x >= startX && x <= endX ? inside : outside);
        painter.drawLine(x, static_cast<int>(mid - hi * half), x,
                         static_cast<int>(mid - lo * half));
    }

    for (const Mark mark : {Mark::Start, Mark::End}) {
        const int x = mark == Mark::Start ? startX : endX;
        const bool active = hasFocus() && mark == m_active;
        painter.setPen(
            QPen(mark == Mark::Start ? QColor(0x00, 0x80, 0x00) : QColor(0xc0, 0x00, 0x00),
                 active ? 3 : 1));
        painter.drawLine(x, plot.top(), x, plot.bottom());
    }
}

void CWaveformCtrl::mousePressEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton || !m_pSound)
        return QWidget::mousePressEvent(event);
    const int x = event->position().toPoint().x();
    const int toStart = std::abs(x - XOfMs(m_nStartMs));
    const int toEnd = std::abs(x - XOfMs(ShownEndMs()));
    // Marks that meet are told apart by the side the press is on.
    if (toStart == toEnd)
        m_dragged = x < XOfMs(m_nStartMs) ? Mark::Start : Mark::End;
    else
        m_dragged = toStart < toEnd ? Mark::Start : Mark::End;
    m_active = m_dragged;
    if (std::min(toStart, toEnd) > kGrabPixels)
        MoveMark(m_dragged, MsAtX(x));
    update();
}

void CWaveformCtrl::mouseMoveEvent(QMouseEvent* event) {
    if (m_dragged == Mark::None)
        return QWidget::mouseMoveEvent(event);
    MoveMark(m_dragged, MsAtX(event->position().toPoint().x()));
}

void CWaveformCtrl::mouseReleaseEvent(QMouseEvent* event) {
    if (m_dragged == Mark::None)
        return QWidget::mouseReleaseEvent(event);
    MoveMark(m_dragged, MsAtX(event->position().toPoint().x()));
    m_dragged = Mark::None;
}

void CWaveformCtrl::keyPressEvent(QKeyEvent* event) {
    const int step = event->modifiers() & Qt::ShiftModifier ? kShiftKeyStepMs : kKeyStepMs;
    const int at = m_active == Mark::Start ? m_nStartMs : ShownEndMs();
    switch (event->key()) {
    case Qt::Key_Space:
        m_active = m_active == Mark::Start ? Mark::End : Mark::Start;
        update();
        return;
    case Qt::Key_Left:
        return MoveMark(m_active, at - step);
    case Qt::Key_Right:
        return MoveMark(m_active, at + step);
    default:
        return QWidget::keyPressEvent(event);
    }
}

// The active mark is drawn thick only while the keys move it.
void CWaveformCtrl::focusInEvent(QFocusEvent* event) {
    QWidget::focusInEvent(event);
    update();
}

void CWaveformCtrl::focusOutEvent(QFocusEvent* event) {
    QWidget::focusOutEvent(event);
    update();
}
