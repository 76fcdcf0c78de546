// SPDX-License-Identifier: MIT
#include "skin/Skin.h"

#include <QFontDatabase>
#include <QFontMetrics>
#include <QGuiApplication>
#include <QList>
#include <QRawFont>
#include <QRect>
#include <QString>
#include <QWidget>
#include <QtEndian>
#include <cmath>

namespace skin {

namespace {

// The family the carried font registers under; loaded once, on first use.
QString tahomaFamily()
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

// An image the skin generator drew at build time, carried in the program's resources.
QImage skinImage(const char* fileName, QImage::Format format)
{
    const QImage image(QStringLiteral(":/skin/") + QLatin1String(fileName));
    Q_ASSERT_X(!image.isNull(), "skin", fileName);
    return image.convertToFormat(format);
}

// Compares colour only: a background with an alpha channel is keyed the same.
bool isColourKey(QRgb pixel)
{
    return (pixel & RGB_MASK) == (kColourKey & RGB_MASK);
}

// The runs of a row's pixels that are not the colour key, as one-pixel-high rectangles
// on row 0 so that rows can be compared.
QList<QRect> shownRuns(const QImage& image, int y)
{
    QList<QRect> runs;
    int start = -1;
    for (int x = 0; x <= image.width(); ++x) {
        const bool shown = x < image.width() && !isColourKey(image.pixel(x, y));
        if (shown && start < 0)
            start = x;
        if (!shown && start >= 0) {
            runs.append(QRect(start, 0, x - start, 1));
            start = -1;
        }
    }
    return runs;
}

} // namespace

QFont tahoma(int pixelSize, bool bold)
{
    QFont font(tahomaFamily());
    font.setPixelSize(pixelSize);
    font.setBold(bold);
    return font;
}

CellMetrics cellMetricsOf(const QFont& font)
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

QImage glyphImage(Glyph glyph)
{
    // Every call decodes the picture anew, so each button gets a bitmap of its own.
    return skinImage(glyphFileName(glyph), QImage::Format_RGB888);
}

QImage background()
{
    return skinImage("background.png", QImage::Format_RGB32);
}

QImage icon()
{
    return skinImage("icon.png", QImage::Format_ARGB32);
}

QRegion outlineMask(const QImage& background)
{
    // One rectangle per run of shown pixels in a row; rows with the same runs as the row
    // above extend its rectangles downwards, so a plain window gives a handful of bands.
    QRegion mask;
    QList<QRect> band;
    int bandTop = 0;
    const auto flush = [&](int bandBottom) {
        for (const QRect& run : band)
            mask += QRect(run.left(), bandTop, run.width(), bandBottom - bandTop);
    };
    for (int y = 0; y < background.height(); ++y) {
        const QList<QRect> runs = shownRuns(background, y);
        if (y > 0 && runs == band)
            continue;
        flush(y);
        band = runs;
        bandTop = y;
    }
    flush(background.height());
    return mask;
}

QImage colourKeyTransparent(const QImage& image)
{
    QImage keyed = image.convertToFormat(QImage::Format_ARGB32);
    for (int y = 0; y < keyed.height(); ++y) {
        auto* line = reinterpret_cast<QRgb*>(keyed.scanLine(y));
        for (int x = 0; x < keyed.width(); ++x) {
            if (isColourKey(line[x]))
                line[x] &= RGB_MASK;
        }
    }
    return keyed;
}

QImage shapeWindow(QWidget& window, const QImage& background)
{
    window.setMask(outlineMask(background));
    if (!QGuiApplication::platformName().startsWith(QLatin1String("wayland")))
        return background;
    window.setAttribute(Qt::WA_TranslucentBackground);
    window.setAutoFillBackground(false);
    return colourKeyTransparent(background);
}

} // namespace skin
