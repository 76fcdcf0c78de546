// SPDX-License-Identifier: MIT
#include "skin/Skin.h"

#include <QFontDatabase>
#include <QFontMetrics>
#include <QRawFont>
#include <QString>
#include <QtEndian>
#include <cmath>
#include <cstdlib>
#include <initializer_list>

namespace skin {

namespace {

// The family the carried font registers under; loaded once, on first use.
QString TahomaFamily()
{
    static const QString family = [] {
        QString name;
        for (const char* file : {":/fonts/tahoma.ttf", ":/fonts/tahomabd.ttf"}) {
            const int id = QFontDatabase::addApplicationFont(QString::fromLatin1(file));
            const QStringList families = QFontDatabase::applicationFontFamilies(id);
            if (name.isEmpty() && !families.isEmpty())
                name = families.first();
        }
        return name.isEmpty() ? QStringLiteral("Tahoma") : name;
    }();
    return family;
}

// One horizontal run of glyph pixels: row y, columns x0 to x1 inclusive.
struct Run {
    int y, x0, x1;
};

void Paint(QImage& image, std::initializer_list<Run> runs)
{
    const QRgb colour = kNormalColour.rgb();
    for (const Run& run : runs) {
        for (int x = run.x0; x <= run.x1; ++x)
            image.setPixel(x, run.y, colour);
    }
}

void PaintX(QImage& image)
{
    // Rows 4 to 10 draw the upper half; rows 11 to 16 mirror rows 9 down to 4.
    const Run upper[] = {{4, 10, 10}, {4, 18, 18}, {5, 9, 11}, {5, 17, 19}, {6, 8, 12}, {6, 16, 20},
        {7, 9, 13}, {7, 15, 19}, {8, 10, 18}, {9, 11, 17}, {10, 12, 16}};
    for (const Run& run : upper) {
        Paint(image, {run});
        if (run.y < 10)
            Paint(image, {{20 - run.y, run.x0, run.x1}});
    }
}

void PaintPlay(QImage& image)
{
    // A triangle pointing right: every row starts at 9 and is longest on row 10.
    for (int y = 4; y <= 16; ++y)
        Paint(image, {{y, 9, 21 - 2 * std::abs(y - 10)}});
}

void PaintPause(QImage& image)
{
    for (int y = 5; y <= 15; ++y)
        Paint(image, {{y, 9, 12}, {y, 16, 19}});
}

void PaintDot(QImage& image)
{
    Paint(image, {{7, 12, 17}, {8, 11, 18}, {14, 11, 18}, {15, 12, 17}});
    for (int y = 9; y <= 13; ++y)
        Paint(image, {{y, 10, 19}});
}

void PaintQuestionMark(QImage& image)
{
    // The hook, then the dot, kept apart by the empty row 16.
    Paint(image,
        {{6, 12, 16}, {7, 11, 17}, {8, 10, 18}, {9, 10, 12}, {9, 16, 18}, {10, 16, 18},
            {11, 15, 17}, {12, 14, 16}, {13, 13, 15}, {14, 13, 15}, {15, 13, 15}, {17, 13, 15},
            {18, 13, 15}});
}

void PaintFolder(QImage& image)
{
    // The back with its tab, then the slanted front flap; they meet only at pixel corners.
    Paint(image,
        {{5, 5, 10}, {6, 4, 11}, {7, 4, 20}, {8, 4, 21}, {9, 4, 9}, {10, 4, 8}, {11, 4, 7},
            {12, 4, 6}, {13, 4, 5}, {14, 4, 4}});
    Paint(image,
        {{10, 10, 25}, {11, 9, 24}, {12, 8, 23}, {13, 7, 22}, {14, 6, 21}, {15, 5, 20},
            {16, 4, 19}});
}

} // namespace

QFont Tahoma(int pixelSize, bool bold)
{
    QFont font(TahomaFamily());
    font.setPixelSize(pixelSize);
    font.setBold(bold);
    return font;
}

CellMetrics CellMetricsOf(const QFont& font)
{
    const QRawFont raw = QRawFont::fromFont(font);
    const QByteArray os2 = raw.fontTable("OS/2");
    // usWinAscent and usWinDescent sit at bytes 74 and 76 of the table.
    if (!raw.isValid() || os2.size() < 78 || raw.unitsPerEm() <= 0) {
        const QFontMetrics metrics(font);
        return {metrics.ascent(), metrics.descent()};
    }
    const auto* table = reinterpret_cast<const uchar*>(os2.constData());
    const double scale = raw.pixelSize() / raw.unitsPerEm();
    return {int(std::lround(qFromBigEndian<quint16>(table + 74) * scale)),
        int(std::lround(qFromBigEndian<quint16>(table + 76) * scale))};
}

QImage GlyphImage(Glyph glyph)
{
    QImage image(kGlyphWidth, kGlyphHeight, QImage::Format_RGB888);
    image.fill(Qt::white);
    switch (glyph) {
    case Glyph::X:
        PaintX(image);
        break;
    case Glyph::Play:
        PaintPlay(image);
        break;
    case Glyph::Pause:
        PaintPause(image);
        break;
    case Glyph::Dot:
        PaintDot(image);
        break;
    case Glyph::QuestionMark:
        PaintQuestionMark(image);
        break;
    case Glyph::Folder:
        PaintFolder(image);
        break;
    }
    return image;
}

} // namespace skin
