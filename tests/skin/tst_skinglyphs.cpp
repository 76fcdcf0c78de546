// SPDX-License-Identifier: MIT
// The glyph bitmaps as the program loads them: their pixels, what a fill from the two seed
// pixels reaches, where they sit on the window's tiles; and the program's icon.
#include "SkinCheck.h"
#include "skin/Skin.h"

#include <QSet>
#include <QTest>

using namespace skincheck;
using skin::Glyph;

Q_DECLARE_METATYPE(skin::Glyph)

namespace {

const QList<Glyph> kAllGlyphs {
    Glyph::X, Glyph::Play, Glyph::Pause, Glyph::Dot, Glyph::QuestionMark, Glyph::Folder};

bool IsGlyphPixel(const QImage& image, QPoint p)
{
    return image.pixel(p) != kWhite;
}

// The glyph's pixels row by row, "y: x0-x1 x2", one entry per row that has any.
QStringList RowRuns(const QImage& image)
{
    QStringList rows;
    for (int y = 0; y < image.height(); ++y) {
        QStringList runs;
        for (int x = 0; x < image.width(); ++x) {
            if (!IsGlyphPixel(image, {x, y}) || (x > 0 && IsGlyphPixel(image, {x - 1, y})))
                continue;
            int end = x;
            while (end + 1 < image.width() && IsGlyphPixel(image, {end + 1, y}))
                ++end;
            runs.append(end == x ? QString::number(x) : QStringLiteral("%1-%2").arg(x).arg(end));
        }
        if (!runs.isEmpty())
            rows.append(QStringLiteral("%1: ").arg(y) + runs.join(' '));
    }
    return rows;
}

// The pixels a fill from seed reaches, spreading through shared sides and stopped by
// white; nothing when the seed itself is white.
QSet<QPoint> FillFrom(const QImage& image, QPoint seed)
{
    QSet<QPoint> region;
    QList<QPoint> todo {seed};
    while (!todo.isEmpty()) {
        const QPoint p = todo.takeLast();
        if (!image.rect().contains(p) || region.contains(p) || !IsGlyphPixel(image, p))
            continue;
        region.insert(p);
        todo += {p + QPoint(1, 0), p - QPoint(1, 0), p + QPoint(0, 1), p - QPoint(0, 1)};
    }
    return region;
}

int CountGlyphPixels(const QImage& image)
{
    int count = 0;
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x)
            count += IsGlyphPixel(image, {x, y});
    }
    return count;
}

} // namespace

class TestSkinGlyphs : public QObject {
    Q_OBJECT

private slots:
    // Every glyph is a writable 29 × 21 bitmap of 24 bits a pixel, and each call hands out
    // its own copy: lighting one button must not light another.
    void freshWritableCopies()
    {
        for (const Glyph glyph : kAllGlyphs) {
            QImage first = skin::glyphImage(glyph);
            QCOMPARE(first.size(), QSize(29, 21));
            QCOMPARE(first.format(), QImage::Format_RGB888);
            const QRgb before = first.pixel(12, 9);
            first.setPixel(12, 9, qRgb(1, 2, 3));
            QCOMPARE(first.pixel(12, 9), qRgb(1, 2, 3));
            QCOMPARE(skin::glyphImage(glyph).pixel(12, 9), before);
        }
    }

    // Each glyph's pixels, row by row, in the normal colour on white, and their number.
    void glyphPixels_data()
    {
        QTest::addColumn<Glyph>("glyph");
        QTest::addColumn<QStringList>("rows");
        QTest::addColumn<int>("count");
        QTest::newRow("X") << Glyph::X
                           << QStringList {"4: 10 18", "5: 9-11 17-19", "6: 8-12 16-20",
                                  "7: 9-13 15-19", "8: 10-18", "9: 11-17", "10: 12-16", "11: 11-17",
                                  "12: 10-18", "13: 9-13 15-19", "14: 8-12 16-20", "15: 9-11 17-19",
                                  "16: 10 18"}
                           << 93;
        QTest::newRow("play") << Glyph::Play
                              << QStringList {"4: 9", "5: 9-11", "6: 9-13", "7: 9-15", "8: 9-17",
                                     "9: 9-19", "10: 9-21", "11: 9-19", "12: 9-17", "13: 9-15",
                                     "14: 9-13", "15: 9-11", "16: 9"}
                              << 85;
        QStringList pause;
        for (int y = 5; y <= 15; ++y)
            pause.append(QStringLiteral("%1: 9-12 16-19").arg(y));
        QTest::newRow("pause") << Glyph::Pause << pause << 88;
        QTest::newRow("dot") << Glyph::Dot
                             << QStringList {"7: 12-17", "8: 11-18", "9: 10-19", "10: 10-19",
                                    "11: 10-19", "12: 10-19", "13: 10-19", "14: 11-18", "15: 12-17"}
                             << 78;
        QTest::newRow("question mark")
            << Glyph::QuestionMark
            << QStringList {"6: 12-16", "7: 11-17", "8: 10-18", "9: 10-12 16-18", "10: 16-18",
                   "11: 15-17", "12: 14-16", "13: 13-15", "14: 13-15", "15: 13-15", "17: 13-15",
                   "18: 13-15"}
            << 51;
        QTest::newRow("folder") << Glyph::Folder
                                << QStringList {"5: 5-10", "6: 4-11", "7: 4-20", "8: 4-21",
                                       "9: 4-9", "10: 4-8 10-25", "11: 4-7 9-24", "12: 4-6 8-23",
                                       "13: 4-5 7-22", "14: 4 6-21", "15: 5-20", "16: 4-19"}
                                << 182;
    }
    void glyphPixels()
    {
        QFETCH(Glyph, glyph);
        QFETCH(QStringList, rows);
        QFETCH(int, count);
        const QImage image = skin::glyphImage(glyph);
        QCOMPARE(RowRuns(image), rows);
        QCOMPARE(CountGlyphPixels(image), count);
        QString stray;
        for (int y = 0; y < image.height() && stray.isEmpty(); ++y) {
            for (int x = 0; x < image.width() && stray.isEmpty(); ++x) {
                const QRgb c = image.pixel(x, y);
                if (c != kWhite && QColor(c) != skin::kNormalColour)
                    stray = Describe(image, x, y);
            }
        }
        QCOMPARE(stray, QString());
        // The bottom-left pixel is white: white is each glyph's transparent colour.
        QCOMPARE(image.pixel(0, 20), kWhite);
    }

    // What a fill bounded by white reaches from each seed, (12, 9) and (18, 13), and what
    // neither reaches; a fill never gets to the bottom-left pixel.
    void seedReach_data()
    {
        QTest::addColumn<Glyph>("glyph");
        QTest::addColumn<int>("fromFirst");
        QTest::addColumn<int>("fromSecond");
        QTest::addColumn<bool>("oneRegion");
        QTest::addColumn<int>("unreached");
        QTest::newRow("X, one region") << Glyph::X << 93 << 93 << true << 0;
        QTest::newRow("play, second seed on white") << Glyph::Play << 85 << 0 << false << 0;
        QTest::newRow("pause, a bar each") << Glyph::Pause << 44 << 44 << false << 0;
        QTest::newRow("dot, one region") << Glyph::Dot << 78 << 78 << true << 0;
        QTest::newRow("question mark, hook only") << Glyph::QuestionMark << 45 << 0 << false << 6;
        QTest::newRow("folder, front flap only") << Glyph::Folder << 0 << 112 << false << 70;
    }
    void seedReach()
    {
        QFETCH(Glyph, glyph);
        QFETCH(int, fromFirst);
        QFETCH(int, fromSecond);
        QFETCH(bool, oneRegion);
        QFETCH(int, unreached);
        const QImage image = skin::glyphImage(glyph);
        const QSet<QPoint> first = FillFrom(image, {12, 9});
        const QSet<QPoint> second = FillFrom(image, {18, 13});
        QCOMPARE(first.size(), fromFirst);
        QCOMPARE(second.size(), fromSecond);
        QCOMPARE(!first.isEmpty() && first == second, oneRegion);
        QCOMPARE(CountGlyphPixels(image) - (first + second).size(), unreached);
        QCOMPARE((first + second).contains(QPoint(0, 20)), false);
    }

    // No glyph holds pure red, which would punch a hole in the window.
    void noPureRed()
    {
        for (const Glyph glyph : kAllGlyphs) {
            const QImage image = skin::glyphImage(glyph);
            for (int y = 0; y < image.height(); ++y) {
                for (int x = 0; x < image.width(); ++x)
                    QVERIFY2(!isRed(image.pixel(x, y)), qPrintable(Describe(image, x, y)));
            }
        }
    }

    // Where each button's glyph pixels fall in the window; a panel button's pixels all land
    // on the fill of its tile, never on its outline, shine or highlight.
    void placement_data()
    {
        QTest::addColumn<Glyph>("glyph");
        QTest::addColumn<QPoint>("picture");
        QTest::addColumn<QPoint>("tile");
        QTest::addColumn<QRect>("pixels");
        const QPoint none(-1, -1);
        const auto span
            = [](int x0, int x1, int y0, int y1) { return QRect(QPoint(x0, y0), QPoint(x1, y1)); };
        QTest::newRow("Image1 X") << Glyph::X << QPoint(356, 35) << QPoint(355, 34)
                                  << span(364, 376, 39, 51);
        QTest::newRow("Image9 folder")
            << Glyph::Folder << QPoint(392, 35) << QPoint(391, 34) << span(396, 417, 40, 51);
        QTest::newRow("Image2 play")
            << Glyph::Play << QPoint(356, 65) << QPoint(355, 64) << span(365, 377, 69, 81);
        QTest::newRow("Image3 pause")
            << Glyph::Pause << QPoint(392, 65) << QPoint(391, 64) << span(401, 411, 70, 80);
        QTest::newRow("Image5 play")
            << Glyph::Play << QPoint(356, 125) << QPoint(355, 124) << span(365, 377, 129, 141);
        QTest::newRow("Image6 pause")
            << Glyph::Pause << QPoint(392, 125) << QPoint(391, 124) << span(401, 411, 130, 140);
        QTest::newRow("Image4 X") << Glyph::X << QPoint(356, 155) << QPoint(355, 154)
                                  << span(364, 376, 159, 171);
        QTest::newRow("Image10 folder")
            << Glyph::Folder << QPoint(392, 155) << QPoint(391, 154) << span(396, 417, 160, 171);
        QTest::newRow("Image8 question mark, clipped left")
            << Glyph::QuestionMark << QPoint(-3, 1) << none << span(7, 15, 7, 19);
        QTest::newRow("Image7 dot, clipped right")
            << Glyph::Dot << QPoint(464, 1) << none << span(474, 483, 8, 16);
    }
    void placement()
    {
        QFETCH(Glyph, glyph);
        QFETCH(QPoint, picture);
        QFETCH(QPoint, tile);
        QFETCH(QRect, pixels);
        const QImage image = skin::glyphImage(glyph);
        const QImage bg = skin::background();
        QRect bounds;
        QString fault;
        for (int y = 0; y < image.height(); ++y) {
            for (int x = 0; x < image.width(); ++x) {
                if (!IsGlyphPixel(image, {x, y}))
                    continue;
                const QPoint p = picture + QPoint(x, y);
                bounds |= QRect(p, QSize(1, 1));
                if (tile.x() < 0 || !fault.isEmpty())
                    continue;
                const int r = p.y() - tile.y();
                if (r < 1 || r > 21 || bg.pixel(p) != Grey(kTileRowGreys[r - 1]))
                    fault = Describe(bg, p.x(), p.y());
            }
        }
        QCOMPARE(bounds, pixels);
        QCOMPARE(fault, QString());
    }

    // The icon: 32 × 32 with alpha, a transparent ground round an opaque disc.
    void iconShape()
    {
        const QImage icon = skin::icon();
        QCOMPARE(icon.size(), QSize(32, 32));
        QCOMPARE(icon.format(), QImage::Format_ARGB32);
        for (const QPoint corner : {QPoint(0, 0), QPoint(31, 0), QPoint(0, 31), QPoint(31, 31)})
            QCOMPARE(qAlpha(icon.pixel(corner)), 0);
        for (const QPoint inside : {QPoint(16, 16), QPoint(5, 16), QPoint(26, 16), QPoint(16, 27)})
            QCOMPARE(qAlpha(icon.pixel(inside)), 255);
    }

    // The disc is dark with a lighter grey rim: left, right and below (away from the gloss
    // on top) the rim is lighter than the near-black face just inside it.
    void iconRimLighterThanFace_data()
    {
        QTest::addColumn<QPoint>("rim");
        QTest::addColumn<QPoint>("face");
        QTest::newRow("left") << QPoint(1, 16) << QPoint(5, 16);
        QTest::newRow("right") << QPoint(30, 16) << QPoint(26, 16);
        QTest::newRow("bottom") << QPoint(16, 30) << QPoint(16, 27);
    }
    void iconRimLighterThanFace()
    {
        QFETCH(QPoint, rim);
        QFETCH(QPoint, face);
        const QImage icon = skin::icon();
        QVERIFY2(qGray(icon.pixel(rim)) > qGray(icon.pixel(face)) + 20,
            qPrintable(
                Describe(icon, rim.x(), rim.y()) + ", " + Describe(icon, face.x(), face.y())));
        QVERIFY2(isGrey(icon.pixel(rim)), qPrintable(Describe(icon, rim.x(), rim.y())));
        QVERIFY2(qGray(icon.pixel(face)) < 64, qPrintable(Describe(icon, face.x(), face.y())));
    }

    // The disc bears a violet T close to the normal colour: a crossbar on top of a stem,
    // both centred; and the icon holds no pure red.
    void iconLetter()
    {
        const QImage icon = skin::icon();
        const QColor normal = skin::kNormalColour;
        QRect letter;
        for (int y = 0; y < 32; ++y) {
            for (int x = 0; x < 32; ++x) {
                const QColor c = icon.pixelColor(x, y);
                QVERIFY2(!isRed(icon.pixel(x, y)), qPrintable(Describe(icon, x, y)));
                const bool violet = c.alpha() == 255 && std::abs(c.red() - normal.red()) <= 30
                    && std::abs(c.green() - normal.green()) <= 40
                    && std::abs(c.blue() - normal.blue()) <= 10;
                if (violet)
                    letter |= QRect(x, y, 1, 1);
            }
        }
        QVERIFY(letter.width() >= 10 && letter.height() >= 12);
        QVERIFY(std::abs(letter.left() + letter.right() - 31) <= 1);
        // The top row of the T is wider than its foot.
        const auto rowWidth = [&](int y) {
            int n = 0;
            for (int x = letter.left(); x <= letter.right(); ++x)
                n += icon.pixelColor(x, y).blue() > 200;
            return n;
        };
        QCOMPARE(rowWidth(letter.top()), letter.width());
        QVERIFY(rowWidth(letter.bottom()) < letter.width() / 2);
    }
};

QTEST_MAIN(TestSkinGlyphs)
#include "tst_skinglyphs.moc"
