// SPDX-License-Identifier: MIT
#include "controls/TImage.h"

#include <QHelpEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QToolTip>

namespace controls {

namespace {
constexpr int kHintHideMs = 2500;
}

bool showHint(QWidget* widget, QEvent* event, const QString& hint)
{
    if (event->type() != QEvent::ToolTip)
        return false;
    if (hint.isEmpty()) {
        QToolTip::hideText();
        event->ignore();
    } else {
        const auto* help = static_cast<QHelpEvent*>(event);
        QToolTip::showText(help->globalPos(), hint, widget, QRect(), kHintHideMs);
    }
    return true;
}

TImage::TImage(QWidget* parent, const QRect& geometry)
    : QWidget(parent)
{
    setGeometry(geometry);
}

void TImage::setPicture(const QImage& picture, bool whiteIsTransparent)
{
    picture_ = picture;
    whiteIsTransparent_ = whiteIsTransparent;
    update();
}

bool TImage::event(QEvent* event)
{
    if (showHint(this, event, hint_))
        return true;
    return QWidget::event(event);
}

void TImage::paintEvent(QPaintEvent*)
{
    if (picture_.isNull())
        return;
    QPainter painter(this);
    if (!whiteIsTransparent_) {
        paintOnGrid(painter, *this, picture_, onScreen_);
        return;
    }
    // The picture is tiny (a 29 × 21 glyph) and lighting it writes into it: keyed again
    // whenever it changed, so the bitmap itself stays the only state.
    if (keyedFrom_ != picture_.cacheKey() || keyed_.isNull()) {
        keyed_ = picture_.convertToFormat(QImage::Format_ARGB32);
        const QRgb white = qRgb(255, 255, 255);
        for (int y = 0; y < keyed_.height(); ++y) {
            auto* line = reinterpret_cast<QRgb*>(keyed_.scanLine(y));
            for (int x = 0; x < keyed_.width(); ++x) {
                if ((line[x] | 0xff000000u) == white)
                    line[x] = 0;
            }
        }
        keyedFrom_ = picture_.cacheKey();
    }
    paintOnGrid(painter, *this, keyed_, onScreen_);
}

void TImage::mousePressEvent(QMouseEvent* event)
{
    event->accept();
    if (event->button() == Qt::LeftButton)
        clickArmed_ = true;
    const Qt::MouseButton button = event->button();
    const QPoint pos = event->position().toPoint();
    emit mouseDown(button, pos);
}

void TImage::mouseDoubleClickEvent(QMouseEvent* event)
{
    event->accept();
    // The second press of a double click lights the button again but clicks nothing.
    clickArmed_ = false;
    const Qt::MouseButton button = event->button();
    const QPoint pos = event->position().toPoint();
    emit mouseDown(button, pos);
}

void TImage::mouseMoveEvent(QMouseEvent* event)
{
    event->accept();
    const QPoint global = event->globalPosition().toPoint();
    emit mouseMove(global);
}

void TImage::mouseReleaseEvent(QMouseEvent* event)
{
    event->accept();
    const Qt::MouseButton button = event->button();
    const QPoint pos = event->position().toPoint();
    const bool isClick = button == Qt::LeftButton && clickArmed_ && rect().contains(pos);
    if (button == Qt::LeftButton)
        clickArmed_ = false;
    // The click runs before the mouse-up, so an open button stays lit while its dialog is up.
    if (isClick)
        emit click();
    emit mouseUp(button, pos);
}

} // namespace controls
