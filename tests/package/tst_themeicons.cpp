// SPDX-License-Identifier: MIT
// The icon theme's renderings are the window's icon drawn again at 64, 128 and 256 pixels,
// and the SVG is the same design: a larger rendering must be as sharp as the small one
// (not a blurred upscale), its T must be the small T grown by whole pixels, and the SVG,
// rendered by librsvg as a GNOME desktop would, must look like the PNG of the same size.
#include "skin/Skin.h"

#include <QDir>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>
#include <cmath>

namespace {

QString SkinFile(const QString& name)
{
    return QDir(QStringLiteral(SKIN_IMAGES)).filePath(name);
}

QImage Rendering(int size)
{
    return QImage(SkinFile(QStringLiteral("icon-%1.png").arg(size)))
        .convertToFormat(QImage::Format_ARGB32);
}

// The pixels of the edge: neither fully see-through nor fully opaque.
int EdgePixels(const QImage& image)
{
    int n = 0;
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            const int a = qAlpha(image.pixel(x, y));
            n += a > 0 && a < 255;
        }
    }
    return n;
}

// The mean difference per channel (alpha included) of two images of one size, 0 to 255.
// Colour is weighed by alpha, as a pixel shows on a background.
double MeanDifference(const QImage& a, const QImage& b)
{
    const QImage pa = a.convertToFormat(QImage::Format_ARGB32_Premultiplied);
    const QImage pb = b.convertToFormat(QImage::Format_ARGB32_Premultiplied);
    double sum = 0;
    for (int y = 0; y < pa.height(); ++y) {
        for (int x = 0; x < pa.width(); ++x) {
            const QRgb p = pa.pixel(x, y), q = pb.pixel(x, y);
            sum += std::abs(qRed(p) - qRed(q)) + std::abs(qGreen(p) - qGreen(q))
                + std::abs(qBlue(p) - qBlue(q)) + std::abs(qAlpha(p) - qAlpha(q));
        }
    }
    return sum / (4.0 * pa.width() * pa.height());
}

// The small icon's pixels that belong to the T: fully opaque and violet.
bool IsLetter(QRgb c)
{
    return qAlpha(c) == 255 && qBlue(c) > 200 && qRed(c) > 150 && qGreen(c) < qRed(c);
}

} // namespace

class TestThemeIcons : public QObject {
    Q_OBJECT
private slots:
    void renderings_data()
    {
        QTest::addColumn<int>("size");
        QTest::newRow("64") << 64;
        QTest::newRow("128") << 128;
        QTest::newRow("256") << 256;
    }

    // A square with alpha at its size, with transparent corners and an opaque centre.
    void renderings()
    {
        QFETCH(int, size);
        const QImage icon = Rendering(size);
        QCOMPARE(icon.size(), QSize(size, size));
        QVERIFY(QImage(SkinFile(QStringLiteral("icon-%1.png").arg(size))).hasAlphaChannel());
        QCOMPARE(qAlpha(icon.pixel(0, 0)), 0);
        QCOMPARE(qAlpha(icon.pixel(size - 1, size - 1)), 0);
        QCOMPARE(qAlpha(icon.pixel(size / 2, size / 2)), 255);
    }

    void sharpEdge_data() { renderings_data(); }

    // The disc's soft edge stays about one pixel wide at every size: its pixel count grows
    // with the circumference (the scale), where a blurred upscale's grows with its square.
    void sharpEdge()
    {
        QFETCH(int, size);
        const int scale = size / 32;
        const int small = EdgePixels(skin::icon());
        const int large = EdgePixels(Rendering(size));
        QVERIFY2(large <= small * scale * 3 / 2,
            qPrintable(
                QStringLiteral("%1 edge pixels at %2, %3 at 32").arg(large).arg(size).arg(small)));
        QVERIFY2(large >= small * scale / 2,
            qPrintable(
                QStringLiteral("%1 edge pixels at %2, %3 at 32").arg(large).arg(size).arg(small)));
    }

    void letterGrowsByWholePixels_data() { renderings_data(); }

    // Every pixel of the small T is a scale × scale block of the same colour in the larger
    // rendering, and nothing else there is the T.
    void letterGrowsByWholePixels()
    {
        QFETCH(int, size);
        const int scale = size / 32;
        const QImage small = skin::icon();
        const QImage large = Rendering(size);
        int letterPixels = 0;
        for (int y = 0; y < size; ++y) {
            for (int x = 0; x < size; ++x) {
                const QRgb want = small.pixel(x / scale, y / scale);
                if (!IsLetter(want)) {
                    QVERIFY2(!IsLetter(large.pixel(x, y)),
                        qPrintable(QStringLiteral("(%1, %2) is violet").arg(x).arg(y)));
                    continue;
                }
                ++letterPixels;
                QVERIFY2(large.pixel(x, y) == want,
                    qPrintable(QStringLiteral("(%1, %2): %3, expected %4")
                            .arg(x)
                            .arg(y)
                            .arg(large.pixel(x, y), 8, 16)
                            .arg(want, 8, 16)));
            }
        }
        QVERIFY(letterPixels >= 100 * scale * scale);
    }

    void sameDesignAsTheSmallIcon_data() { renderings_data(); }

    // Averaged down to 32 pixels, a larger rendering is the window's icon again.
    void sameDesignAsTheSmallIcon()
    {
        QFETCH(int, size);
        const QImage down
            = Rendering(size).scaled(32, 32, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
        const double difference = MeanDifference(down, skin::icon());
        QVERIFY2(difference < 2.0, qPrintable(QString::number(difference)));
    }

    void svgLooksLikeThePng_data()
    {
        QTest::addColumn<int>("size");
        QTest::newRow("32") << 32;
        QTest::newRow("64") << 64;
        QTest::newRow("256") << 256;
    }

    // librsvg draws the SVG at each size as the PNG of that size, up to anti-aliasing.
    void svgLooksLikeThePng()
    {
        QFETCH(int, size);
        QTemporaryDir dir;
        const QString out = dir.filePath(QStringLiteral("svg.png"));
        QProcess rsvg;
        rsvg.start(QStringLiteral("rsvg-convert"),
            {QStringLiteral("-w"), QString::number(size), QStringLiteral("-h"),
                QString::number(size), QStringLiteral("-o"), out,
                SkinFile(QStringLiteral("icon.svg"))});
        QVERIFY2(rsvg.waitForFinished(20000), "rsvg-convert did not finish");
        QVERIFY2(rsvg.exitCode() == 0, rsvg.readAllStandardError().constData());
        const QImage svg = QImage(out).convertToFormat(QImage::Format_ARGB32);
        const QImage png = size == 32 ? skin::icon() : Rendering(size);
        QCOMPARE(svg.size(), png.size());
        const double difference = MeanDifference(svg, png);
        QVERIFY2(difference < 1.5, qPrintable(QString::number(difference)));
        // Inside the T, the rim, the face and the gloss, the colours agree within a step or
        // two; the points are in steps of the 32-pixel grid.
        const int scale = size / 32;
        for (const QPointF at : {QPointF(16, 9.5), QPointF(16, 20.5), QPointF(16, 30.5),
                 QPointF(6, 20), QPointF(16.5, 5.5)}) {
            const QPoint p(int(at.x() * scale), int(at.y() * scale));
            const QRgb a = svg.pixel(p), b = png.pixel(p);
            QVERIFY2(std::abs(qRed(a) - qRed(b)) <= 6 && std::abs(qGreen(a) - qGreen(b)) <= 6
                    && std::abs(qBlue(a) - qBlue(b)) <= 6 && qAlpha(a) == qAlpha(b),
                qPrintable(QStringLiteral("at (%1, %2): svg %3, png %4")
                        .arg(p.x())
                        .arg(p.y())
                        .arg(a, 8, 16)
                        .arg(b, 8, 16)));
        }
    }
};

QTEST_MAIN(TestThemeIcons)
#include "tst_themeicons.moc"
