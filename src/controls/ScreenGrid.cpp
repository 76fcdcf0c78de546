// SPDX-License-Identifier: MIT
#include "controls/ScreenGrid.h"

#include <QPainter>
#include <QWidget>
#include <cmath>

namespace controls {

int screenEdge(int design, qreal scale)
{
    return int(std::floor(design * scale + 0.5));
}

int designPixel(int screen, qreal scale)
{
    // The last design pixel whose edge lies at or before the screen pixel.
    return int(std::ceil((screen + 0.5) / scale)) - 1;
}

QRect onScreen(const QWidget& widget, const QRect& design)
{
    const qreal scale = widget.devicePixelRatioF();
    const QRect inWindow = design.translated(widget.mapTo(widget.window(), QPoint()));
    const int left = screenEdge(inWindow.left(), scale);
    const int top = screenEdge(inWindow.top(), scale);
    return QRect(left, top, screenEdge(inWindow.left() + inWindow.width(), scale) - left,
        screenEdge(inWindow.top() + inWindow.height(), scale) - top);
}

namespace {

// Makes the painter draw in the paint device's own pixels, placed so that (0, 0) is the
// window's top-left corner: on the backing store that is its pixel (0, 0), on a grab the
// widget's own corner stands at the grab's. Whatever Qt rounds in a widget's fractional
// origin, the window's corner lies on a whole pixel.
void paintInWindowPixels(QPainter& painter, const QWidget& widget)
{
    painter.resetTransform();
    const QTransform toDevice = painter.deviceTransform();
    const QPointF corner = toDevice.map(QPointF(-widget.mapTo(widget.window(), QPoint())));
    painter.setWorldTransform(
        QTransform::fromTranslate(std::round(corner.x()), std::round(corner.y()))
        * toDevice.inverted());
}

} // namespace

void paintOnGrid(QPainter& painter, const QWidget& widget, const QImage& picture, GridCache& scaled)
{
    const qreal scale = widget.devicePixelRatioF();
    if (scale == 1) {
        painter.drawImage(0, 0, picture);
        return;
    }
    const QPoint at = widget.mapTo(widget.window(), QPoint());
    const QRect screen = onScreen(widget, picture.rect());
    if (scaled.key != picture.cacheKey() || scaled.scale != scale || scaled.at != at) {
        const QImage source = picture.convertToFormat(QImage::Format_ARGB32_Premultiplied);
        QImage image(screen.size(), QImage::Format_ARGB32_Premultiplied);
        for (int y = 0; y < image.height(); ++y) {
            const auto* from = reinterpret_cast<const QRgb*>(
                source.constScanLine(designPixel(screen.top() + y, scale) - at.y()));
            auto* to = reinterpret_cast<QRgb*>(image.scanLine(y));
            for (int x = 0; x < image.width(); ++x)
                to[x] = from[designPixel(screen.left() + x, scale) - at.x()];
        }
        scaled = {picture.cacheKey(), scale, at, image};
    }
    painter.save();
    paintInWindowPixels(painter, widget);
    painter.drawImage(screen.topLeft(), scaled.image);
    painter.restore();
}

void fillOnGrid(QPainter& painter, const QWidget& widget, const QRect& rect, const QColor& colour)
{
    if (widget.devicePixelRatioF() == 1) {
        painter.fillRect(rect, colour);
        return;
    }
    painter.save();
    paintInWindowPixels(painter, widget);
    painter.fillRect(onScreen(widget, rect), colour);
    painter.restore();
}

} // namespace controls
