// SPDX-License-Identifier: MIT
#pragma once

#include "controls/ScreenGrid.h"

#include <QImage>
#include <QWidget>

namespace controls {

// An image control: shows its picture at its top-left corner, each pixel a block on the
// window's screen grid (ScreenGrid.h), with white pixels
// transparent when asked, and takes the mouse over its whole rectangle (also where the
// picture is transparent, or when it has no picture at all).
//
// Events follow the desktop convention: a press of any button is a mouse-down; releasing
// the left button over the control is a click, reported before the mouse-up; any other
// release is a mouse-up alone. The second press of a double click is a mouse-down again
// but its release is no click.
class TImage : public QWidget {
    Q_OBJECT
public:
    TImage(QWidget* parent, const QRect& geometry);

    // The picture is the control's own copy; changing it through picture() and calling
    // update() repaints the control.
    void setPicture(const QImage& picture, bool whiteIsTransparent);
    QImage& picture() { return picture_; }

    // Shown as a tooltip while the mouse rests on the control; empty shows nothing.
    void setHint(const QString& hint) { hint_ = hint; }
    const QString& hint() const { return hint_; }

signals:
    void mouseDown(Qt::MouseButton button, QPoint pos);
    void mouseMove(QPoint globalPos);
    void mouseUp(Qt::MouseButton button, QPoint pos);
    void click();

protected:
    bool event(QEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

private:
    QImage picture_;
    bool whiteIsTransparent_ = false;
    // The picture keyed (white made transparent) and on the screen's grid, as last painted.
    QImage keyed_;
    qint64 keyedFrom_ = 0;
    GridCache onScreen_;
    QString hint_;
    bool clickArmed_ = false;
};

// Shows `hint` as the tooltip of `widget` for a tooltip event: below the cursor, hidden
// after 2.5 s or when the mouse leaves. Returns whether the event was handled.
bool showHint(QWidget* widget, QEvent* event, const QString& hint);

} // namespace controls
