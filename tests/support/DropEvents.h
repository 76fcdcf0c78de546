// SPDX-License-Identifier: MIT
#pragma once

#include <QApplication>
#include <QDropEvent>
#include <QMimeData>
#include <QUrl>
#include <QWidget>

namespace testsupport {

struct DropAnswer {
    bool delivered = false;
    bool enterAccepted = false;
    bool dropAccepted = false;
};

// What the window system delivers for a drop of `urls` on `target`: the drag enters, moves
// and drops, all at one point. Whatever the target does later in queued calls has not run.
inline DropAnswer SendDrop(QWidget* target, const QList<QUrl>& urls)
{
    QMimeData data;
    data.setUrls(urls);
    QDragEnterEvent enter(QPoint(200, 100), Qt::CopyAction, &data, Qt::LeftButton, {});
    QApplication::sendEvent(target, &enter);
    QDragMoveEvent move(QPoint(200, 100), Qt::CopyAction, &data, Qt::LeftButton, {});
    QApplication::sendEvent(target, &move);
    QDropEvent event(QPointF(200, 100), Qt::CopyAction, &data, Qt::LeftButton, {});
    const bool delivered = QApplication::sendEvent(target, &event);
    return {delivered, enter.isAccepted(), event.isAccepted()};
}

} // namespace testsupport
