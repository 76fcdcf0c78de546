// SPDX-License-Identifier: MIT
#include "controls/TLabel.h"

#include "controls/TImage.h"

#include <QMouseEvent>
#include <QPainter>

namespace controls {

TLabel::TLabel(QWidget* parent, const QRect& geometry, const QFont& font, const QColor& color,
    bool autoSize, const QString& caption)
    : QLabel(parent)
    , autoSize_(autoSize)
    , cell_(skin::cellMetricsOf(font))
{
    setGeometry(geometry);
    setFont(font);
    setColor(color);
    setTextFormat(Qt::PlainText);
    setText(caption);
    if (autoSize_)
        resize(sizeHint());
}

void TLabel::setCaption(const QString& caption)
{
    // The tick writes the time every second, while paused always the same: an unchanged
    // caption is not measured again.
    if (caption == text())
        return;
    setText(caption);
    if (autoSize_)
        resize(sizeHint());
}

QSize TLabel::sizeHint() const
{
    return {fontMetrics().horizontalAdvance(text()), cell_.height()};
}

void TLabel::paintEvent(QPaintEvent*)
{
    // One line from the top-left corner, baseline where the design's text cell puts it,
    // cut at the edges without an ellipsis.
    QPainter painter(this);
    painter.setClipRect(rect());
    painter.setFont(font());
    painter.setPen(color());
    painter.drawText(QPoint(0, cell_.ascent), text());
}

void TLabel::setColor(const QColor& color)
{
    QPalette p = palette();
    p.setColor(QPalette::WindowText, color);
    setPalette(p);
}

QColor TLabel::color() const
{
    return palette().color(QPalette::WindowText);
}

bool TLabel::event(QEvent* event)
{
    if (showHint(this, event, hint_))
        return true;
    return QLabel::event(event);
}

void TLabel::mousePressEvent(QMouseEvent* event)
{
    event->accept();
    clickArmed_ = event->button() == Qt::LeftButton;
}

void TLabel::mouseDoubleClickEvent(QMouseEvent* event)
{
    event->accept();
    clickArmed_ = false;
}

void TLabel::mouseReleaseEvent(QMouseEvent* event)
{
    event->accept();
    const bool isClick = event->button() == Qt::LeftButton && clickArmed_
        && rect().contains(event->position().toPoint());
    clickArmed_ = false;
    if (isClick)
        emit click();
}

void TLabel::enterEvent(QEnterEvent* event)
{
    QLabel::enterEvent(event);
    emit mouseEnter();
}

void TLabel::leaveEvent(QEvent* event)
{
    QLabel::leaveEvent(event);
    emit mouseLeave();
}

} // namespace controls
