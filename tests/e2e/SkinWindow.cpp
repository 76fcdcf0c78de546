// SPDX-License-Identifier: MIT
#include "SkinWindow.h"

#include "skin/Skin.h"

#include <QPainter>
#include <QRect>

namespace e2e {

QImage ExpectedWindow(QRgb root, QRect frontCover, QRect backCover)
{
    QImage expected = skin::background().convertToFormat(QImage::Format_RGB32);
    QPainter painter(&expected);
    painter.fillRect(backCover, Qt::black);
    painter.fillRect(frontCover, Qt::black);
    const std::pair<QPoint, skin::Glyph> glyphs[]
        = {{{356, 35}, skin::Glyph::X}, {{356, 65}, skin::Glyph::Play},
            {{392, 65}, skin::Glyph::Pause}, {{356, 155}, skin::Glyph::X},
            {{356, 125}, skin::Glyph::Play}, {{392, 125}, skin::Glyph::Pause},
            {{464, 1}, skin::Glyph::Dot}, {{-3, 1}, skin::Glyph::QuestionMark},
            {{392, 35}, skin::Glyph::Folder}, {{392, 155}, skin::Glyph::Folder}};
    for (const auto& [at, glyph] : glyphs) {
        QImage keyed = skin::glyphImage(glyph).convertToFormat(QImage::Format_ARGB32);
        for (int y = 0; y < keyed.height(); ++y) {
            for (int x = 0; x < keyed.width(); ++x) {
                if (keyed.pixelColor(x, y) == Qt::white)
                    keyed.setPixel(x, y, 0);
            }
        }
        painter.drawImage(at, keyed);
    }
    painter.end();
    for (int y = 0; y < expected.height(); ++y) {
        for (int x = 0; x < expected.width(); ++x) {
            if (expected.pixelColor(x, y) == skin::kColourKey)
                expected.setPixel(x, y, root);
        }
    }
    return expected;
}

bool InLabel(QPoint p)
{
    const QRect labels[] = {{24, 128, 325, 16}, {24, 152, 325, 14}, {24, 40, 325, 14},
        {24, 64, 325, 16}, {432, 96, 40, 14}, {432, 128, 40, 14}, {432, 72, 40, 14}};
    for (const QRect& r : labels) {
        if (r.contains(p))
            return true;
    }
    return false;
}

} // namespace e2e
