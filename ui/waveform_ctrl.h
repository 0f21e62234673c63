// SPDX-License-Identifier: GPL-3.0-or-later
// The waveform of an effect's sound with the start and end marks of the part that plays. The
// marks are dragged with the mouse, or moved with the arrow keys (Space switches between them).
#pragma once

#include "ui/sound_preview.h"

#include <QString>
#include <QWidget>

#include <memory>

class CWaveformCtrl : public QWidget {
    Q_OBJECT
public:
    explicit CWaveformCtrl(QWidget* parent = nullptr);

    // nullptr shows `message` instead (still reading, or not a sound). The marks stay as set.
    void SetSound(std::shared_ptr<const PreviewSound> sound, const QString& message = {});
    // As the options hold them: end 0 is the sound's end.
    void SetMarks(int startMs, int endMs);
    int StartMs() const { return m_nStartMs; }
    int EndMs() const { return m_nEndMs; }

    // Where a time lies on the widget, and the time under a column; only with a sound.
    int XOfMs(int ms) const;
    int MsAtX(int x) const;

signals:
    void MarksChanged();

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void focusInEvent(QFocusEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;

private:
    enum class Mark { None, Start, End };
    QRect Plot() const;
    int ShownEndMs() const;
    // Moves one mark, kept inside the sound and a millisecond away from the other.
    void MoveMark(Mark mark, int ms);

    std::shared_ptr<const PreviewSound> m_pSound;
    QString m_strMessage;
    int m_nStartMs = 0;
    int m_nEndMs = 0;
    Mark m_active = Mark::Start;
    Mark m_dragged = Mark::None;
};
