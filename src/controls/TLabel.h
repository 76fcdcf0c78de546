// SPDX-License-Identifier: MIT
#pragma once

#include "skin/Skin.h"

#include <QColor>
#include <QLabel>

namespace controls {

// A text control: draws its caption literally (an "&" is an "&"), without a background,
// from its top-left corner. A fixed-size label cuts its text at the right edge without an
// ellipsis; an auto-size label grows to its text from its left edge. It takes the mouse
// over its whole rectangle, so a press on a label never reaches what lies beneath.
class TLabel : public QLabel {
    Q_OBJECT
public:
    TLabel(QWidget* parent, const QRect& geometry, const QFont& font, const QColor& color,
        bool autoSize, const QString& caption);

    void setCaption(const QString& caption);
    QString caption() const { return text(); }

    QSize sizeHint() const override;

    void setColor(const QColor& color);
    QColor color() const;

    // Shown as a tooltip while the mouse rests on the label; empty shows nothing.
    void setHint(const QString& hint) { hint_ = hint; }
    const QString& hint() const { return hint_; }

signals:
    void click();
    void mouseEnter();
    void mouseLeave();

protected:
    bool event(QEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void enterEvent(QEnterEvent* event) override;
    void leaveEvent(QEvent* event) override;

private:
    bool autoSize_;
    // The text cell of the label's font, which never changes: measured once, not per paint.
    skin::CellMetrics cell_;
    bool clickArmed_ = false;
    QString hint_;
};

} // namespace controls
