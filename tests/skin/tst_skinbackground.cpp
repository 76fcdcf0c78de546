// SPDX-License-Identifier: MIT
// The background picture as the program loads it: its see-through corners, its colours,
// the title strip and title, the frames, the inner panel, the bevelled boxes and the bar.
#include "SkinCheck.h"
#include "skin/Skin.h"

#include <QSet>
#include <QTest>
#include <functional>

using namespace skincheck;

namespace {

constexpr int kRight = 489;
constexpr int kBottom = 201;
constexpr QRgb kPanel = Grey(11);

// The outline of a bevelled box on box row r of a box w wide: the columns it takes.
QList<int> OutlineColumns(int r, int w)
{
    if (r == 0 || r == 22) {
        QList<int> columns;
        for (int c = 3; c <= w - 4; ++c)
            columns.append(c);
        return columns;
    }
    const int inset = (r == 1 || r == 21) ? 2 : (r == 2 || r == 20) ? 1 : 0;
    return {inset, w - 1 - inset};
}

// What a bevelled box should hold at box column c, row r.
QRgb BoxPixel(int c, int r, int w, const std::function<QRgb(int)>& fill, QRgb shine, QRgb highlight)
{
    const QSet<QPoint> shines {{0, 20}, {1, 21}, {2, 22}, {w - 1, 20}, {w - 2, 21}, {w - 3, 22}};
    if (shines.contains({c, r}))
        return shine;
    if (r == 23)
        return c >= 3 && c <= w - 4 ? highlight : kPanel;
    const QList<int> outline = OutlineColumns(r, w);
    if (outline.contains(c))
        return Grey(0);
    const bool inside = r >= 1 && r <= 21 && c > outline.first() && c < outline.last();
    return inside ? fill(r) : kPanel;
}

// The first pixel of a box that differs from what the box should hold.
QString FirstBoxFault(const QImage& image, QPoint corner, int w,
    const std::function<QRgb(int)>& fill, QRgb shine, QRgb highlight)
{
    for (int r = 0; r < kBoxRows; ++r) {
        for (int c = 0; c < w; ++c) {
            const QPoint p = corner + QPoint(c, r);
            const QRgb expected = BoxPixel(c, r, w, fill, shine, highlight);
            if (image.pixel(p) != expected)
                return Describe(image, p.x(), p.y()) + QStringLiteral(", not ") + Name(expected);
        }
    }
    return {};
}

// The title strip's colour of row y on columns 12–477.
int stripGrey(int y)
{
    constexpr std::array band {52, 51, 49, 47, 45, 43, 41, 39, 38};
    return y < int(band.size()) ? band[y] : 22;
}

// The coloured pixels of the title: the violets on the title strip.
QList<QPoint> TitlePixels(const QImage& image)
{
    QList<QPoint> pixels;
    for (int y = 0; y <= 25; ++y) {
        for (int x = 0; x <= kRight; ++x) {
            if (isViolet(image.pixel(x, y)))
                pixels.append({x, y});
        }
    }
    return pixels;
}

} // namespace

class TestSkinBackground : public QObject {
    Q_OBJECT
    const QImage bg_ = skin::background();

private slots:
    // The picture covers exactly the window, in a format with exact colours.
    void coversTheWindow()
    {
        QCOMPARE(bg_.size(), QSize(490, 202));
        QCOMPARE(bg_.format(), QImage::Format_RGB32);
    }

    // Pure red, the see-through colour, lies in the 12-pixel staircase of each corner and
    // nowhere else: 48 pixels.
    void redOnlyInCornerStaircases()
    {
        // Red pixels per row, counted from the window's edge: 5, 3, 2, 1, 1.
        const int staircase[] = {5, 3, 2, 1, 1};
        QSet<QPoint> corners;
        for (int i = 0; i < 5; ++i) {
            for (int c = 0; c < staircase[i]; ++c)
                corners += {{c, i}, {kRight - c, i}, {c, kBottom - i}, {kRight - c, kBottom - i}};
        }
        QCOMPARE(corners.size(), 48);
        QString fault;
        int reds = 0;
        for (int y = 0; y <= kBottom && fault.isEmpty(); ++y) {
            for (int x = 0; x <= kRight && fault.isEmpty(); ++x) {
                reds += isRed(bg_.pixel(x, y));
                if (isRed(bg_.pixel(x, y)) != corners.contains({x, y}))
                    fault = Describe(bg_, x, y);
            }
        }
        QCOMPARE(fault, QString());
        QCOMPARE(reds, 48);
    }

    // Walking in from a corner, the first pixel that is not red is where the window begins.
    void firstShownPixel_data()
    {
        QTest::addColumn<QPoint>("start");
        QTest::addColumn<QPoint>("step");
        QTest::addColumn<QPoint>("firstShown");
        const QPoint right(1, 0), left(-1, 0), down(0, 1), up(0, -1);
        QTest::newRow("row 0 from the left") << QPoint(0, 0) << right << QPoint(5, 0);
        QTest::newRow("row 1 from the left") << QPoint(0, 1) << right << QPoint(3, 1);
        QTest::newRow("row 2 from the left") << QPoint(0, 2) << right << QPoint(2, 2);
        QTest::newRow("row 3 from the left") << QPoint(0, 3) << right << QPoint(1, 3);
        QTest::newRow("column 0 from the top") << QPoint(0, 0) << down << QPoint(0, 5);
        QTest::newRow("row 0 from the right") << QPoint(489, 0) << left << QPoint(484, 0);
        QTest::newRow("row 1 from the right") << QPoint(489, 1) << left << QPoint(486, 1);
        QTest::newRow("row 2 from the right") << QPoint(489, 2) << left << QPoint(487, 2);
        QTest::newRow("row 3 from the right") << QPoint(489, 3) << left << QPoint(488, 3);
        QTest::newRow("column 489 from the top") << QPoint(489, 0) << down << QPoint(489, 5);
        QTest::newRow("row 201 from the left") << QPoint(0, 201) << right << QPoint(5, 201);
        QTest::newRow("row 200 from the left") << QPoint(0, 200) << right << QPoint(3, 200);
        QTest::newRow("row 199 from the left") << QPoint(0, 199) << right << QPoint(2, 199);
        QTest::newRow("row 198 from the left") << QPoint(0, 198) << right << QPoint(1, 198);
        QTest::newRow("column 0 from the bottom") << QPoint(0, 201) << up << QPoint(0, 196);
        QTest::newRow("row 201 from the right") << QPoint(489, 201) << left << QPoint(484, 201);
        QTest::newRow("row 200 from the right") << QPoint(489, 200) << left << QPoint(486, 200);
        QTest::newRow("row 199 from the right") << QPoint(489, 199) << left << QPoint(487, 199);
        QTest::newRow("row 198 from the right") << QPoint(489, 198) << left << QPoint(488, 198);
        QTest::newRow("column 489 from the bottom") << QPoint(489, 201) << up << QPoint(489, 196);
    }
    void firstShownPixel()
    {
        QFETCH(QPoint, start);
        QFETCH(QPoint, step);
        QFETCH(QPoint, firstShown);
        QPoint p = start;
        while (bg_.rect().contains(p) && isRed(bg_.pixel(p)))
            p += step;
        QCOMPARE(p, firstShown);
    }

    // The picture keeps to its palette: up to 55 greys no lighter than grey 64, pure red,
    // and the bar's 13 violets.
    void coloursWithinPalette()
    {
        QSet<int> greys;
        QString stray;
        for (int y = 0; y <= kBottom; ++y) {
            for (int x = 0; x <= kRight; ++x) {
                const QRgb c = bg_.pixel(x, y);
                if (isGrey(c))
                    greys.insert(qRed(c));
                else if (!isRed(c) && !isViolet(c) && stray.isEmpty())
                    stray = Describe(bg_, x, y);
            }
        }
        QCOMPARE(stray, QString());
        QVERIFY2(greys.size() <= 55, qPrintable(QString::number(greys.size()) + " greys"));
        const QList<int> values = greys.values();
        QCOMPARE(*std::max_element(values.begin(), values.end()) <= 64, true);
    }

    // Lines and areas of a single grey: separator, edges, bevel, band, frames, panel fill.
    void flatArea_data()
    {
        QTest::addColumn<QRect>("area");
        QTest::addColumn<int>("grey");
        QTest::newRow("separator row 26") << QRect(0, 26, 490, 1) << 0;
        QTest::newRow("bottom edge row 201") << QRect(7, 201, 476, 1) << 0;
        QTest::newRow("panel fill above the tiles") << QRect(14, 27, 462, 7) << 11;
        QTest::newRow("panel fill between tiles and bar") << QRect(14, 88, 462, 6) << 11;
        QTest::newRow("panel fill under the bar") << QRect(14, 118, 462, 6) << 11;
        QTest::newRow("lit edge, left") << QRect(12, 27, 1, 153) << 60;
        QTest::newRow("shaded edge, left") << QRect(13, 27, 1, 153) << 7;
        QTest::newRow("shaded edge, right") << QRect(476, 27, 1, 153) << 7;
        QTest::newRow("lit edge, right") << QRect(477, 27, 1, 153) << 60;
        QTest::newRow("row 185 left of the break") << QRect(20, 185, 21, 1) << 12;
        QTest::newRow("row 185 break keeps the fill") << QRect(41, 185, 70, 1) << 11;
        QTest::newRow("row 185 right of the break") << QRect(111, 185, 359, 1) << 12;
        QTest::newRow("row 186 groove") << QRect(21, 186, 448, 1) << 9;
        QTest::newRow("row 187") << QRect(21, 187, 448, 1) << 26;
        QTest::newRow("row 188 lip") << QRect(23, 188, 444, 1) << 51;
        QTest::newRow("bottom band rows 189-191") << QRect(12, 189, 466, 3) << 30;
        QTest::newRow("bottom band rows 192-200") << QRect(14, 192, 462, 9) << 30;
        QTest::newRow("band ramp column 12") << QRect(12, 192, 1, 9) << 28;
        QTest::newRow("band ramp column 13") << QRect(13, 192, 1, 9) << 29;
        QTest::newRow("band ramp column 476") << QRect(476, 192, 1, 9) << 29;
        QTest::newRow("band ramp column 477") << QRect(477, 192, 1, 9) << 28;
        QTest::newRow("frame outer column 0") << QRect(0, 27, 1, 170) << 0;
        QTest::newRow("frame inner column 11") << QRect(11, 27, 1, 174) << 29;
        QTest::newRow("frame inner column 478") << QRect(478, 27, 1, 174) << 29;
        QTest::newRow("frame outer column 489") << QRect(489, 27, 1, 170) << 0;
    }
    void flatArea()
    {
        QFETCH(QRect, area);
        QFETCH(int, grey);
        QCOMPARE(FirstOtherThan(bg_, area, Grey(grey)), QString());
    }

    // Each row of the title strip has its own grey on columns 12–477; only the title, in
    // its colours and its black shadow, interrupts it, and only on rows 6–22.
    void titleStripRow_data()
    {
        QTest::addColumn<int>("y");
        for (int y = 0; y <= 25; ++y)
            QTest::addRow("row %d", y) << y;
    }
    void titleStripRow()
    {
        QFETCH(int, y);
        QString fault;
        for (int x = 12; x <= 477 && fault.isEmpty(); ++x) {
            const QRgb c = bg_.pixel(x, y);
            const bool title = y >= 6 && y <= 22 && (isViolet(c) || c == Grey(0));
            if (c != Grey(stripGrey(y)) && !title)
                fault = Describe(bg_, x, y);
        }
        QCOMPARE(fault, QString());
    }

    // The title's coloured pixels are centred on the line between columns 244 and 245 to
    // within half a pixel.
    void titleCentred()
    {
        const QList<QPoint> title = TitlePixels(bg_);
        QVERIFY(!title.isEmpty());
        int left = kRight, right = 0;
        for (const QPoint& p : title) {
            left = std::min(left, p.x());
            right = std::max(right, p.x());
        }
        // Twice the centre, against twice 244.5.
        QVERIFY2(std::abs(left + right - 489) <= 1,
            qPrintable(QStringLiteral("title spans columns %1-%2").arg(left).arg(right)));
    }

    // Ascenders start on row 6 and the baseline is the bottom of row 17; the first part is
    // in the normal colour, the rest in the accent colour.
    void titleRowsAndColours()
    {
        int top = kBottom, bottom = 0, lastNormal = -1, firstAccent = kRight + 1;
        QString stray;
        for (const QPoint& p : TitlePixels(bg_)) {
            top = std::min(top, p.y());
            bottom = std::max(bottom, p.y());
            const QColor c = bg_.pixelColor(p);
            if (c == skin::kNormalColour)
                lastNormal = std::max(lastNormal, p.x());
            else if (c == skin::kAccentColour)
                firstAccent = std::min(firstAccent, p.x());
            else if (stray.isEmpty())
                stray = Describe(bg_, p.x(), p.y());
        }
        QCOMPARE(stray, QString());
        QCOMPARE(top, 6);
        QCOMPARE(bottom, 17);
        QVERIFY(lastNormal >= 0);
        QVERIFY(firstAccent <= kRight);
        QCOMPARE(lastNormal < firstAccent, true);
    }

    // Every coloured title pixel casts a black shadow 1 and 2 pixels right and down,
    // unless the text itself lies there.
    void titleShadow()
    {
        QString fault;
        for (const QPoint& p : TitlePixels(bg_)) {
            for (const QPoint& shade : {p + QPoint(1, 1), p + QPoint(2, 2)}) {
                const QRgb c = bg_.pixel(shade);
                if (c != Grey(0) && !isViolet(c) && fault.isEmpty())
                    fault = Describe(bg_, shade.x(), shade.y());
            }
        }
        QCOMPARE(fault, QString());
    }

    // Apart from the title, the bar, the tiles and the break in row 185, column x and
    // column 489 - x hold the same colours.
    void mirrorSymmetry()
    {
        QList<QRect> exceptions {
            QRect(12, 6, 466, 17), QRect(22, 94, 400, kBoxRows), QRect(41, 185, 70, 1)};
        for (const QPoint& corner : kTileCorners)
            exceptions.append(QRect(corner, QSize(kTileWidth, kBoxRows)));
        const auto excepted = [&](int x, int y) {
            return std::any_of(exceptions.begin(), exceptions.end(),
                [&](const QRect& r) { return r.contains(x, y) || r.contains(kRight - x, y); });
        };
        QString fault;
        for (int y = 0; y <= kBottom && fault.isEmpty(); ++y) {
            for (int x = 0; x <= 244 && fault.isEmpty(); ++x) {
                if (!excepted(x, y) && bg_.pixel(x, y) != bg_.pixel(kRight - x, y))
                    fault = Describe(bg_, x, y) + ", " + Describe(bg_, kRight - x, y);
            }
        }
        QCOMPARE(fault, QString());
    }

    // The ends of the strip and the side frames brighten steadily from the outer edge
    // to the grey next to them.
    void endRamp_data()
    {
        QTest::addColumn<int>("y");
        QTest::addColumn<int>("outerLow");
        QTest::addColumn<int>("outerHigh");
        QTest::addColumn<int>("inner");
        QTest::addColumn<bool>("through18");
        QTest::newRow("strip row 9") << 9 << 12 << 14 << 22 << false;
        QTest::newRow("strip row 25") << 25 << 12 << 14 << 22 << false;
        QTest::newRow("frame row 27") << 27 << 0 << 0 << 29 << true;
        QTest::newRow("frame row 110") << 110 << 0 << 0 << 29 << true;
        QTest::newRow("frame row 196") << 196 << 0 << 0 << 29 << true;
    }
    void endRamp()
    {
        QFETCH(int, y);
        QFETCH(int, outerLow);
        QFETCH(int, outerHigh);
        QFETCH(int, inner);
        QFETCH(bool, through18);
        QList<int> ramp;
        for (int x = 0; x <= 11; ++x) {
            QCOMPARE(bg_.pixel(x, y), bg_.pixel(kRight - x, y));
            QVERIFY2(isGrey(bg_.pixel(x, y)), qPrintable(Describe(bg_, x, y)));
            ramp.append(qRed(bg_.pixel(x, y)));
        }
        QVERIFY2(
            ramp.first() >= outerLow && ramp.first() <= outerHigh, qPrintable(Describe(bg_, 0, y)));
        QCOMPARE(ramp.last(), inner);
        QVERIFY(std::is_sorted(ramp.begin(), ramp.end()));
        if (through18)
            QVERIFY(ramp.contains(18));
    }

    // Each button tile is a bevelled box: black outline, grey fill getting darker row by
    // row, grey 26 shine at the lower chamfers and a grey 51 highlight line beneath.
    void tile_data()
    {
        QTest::addColumn<QPoint>("corner");
        for (const QPoint& corner : kTileCorners)
            QTest::addRow("tile at (%d, %d)", corner.x(), corner.y()) << corner;
    }
    void tile()
    {
        QFETCH(QPoint, corner);
        const auto fill = [](int r) { return Grey(kTileRowGreys[r - 1]); };
        QCOMPARE(FirstBoxFault(bg_, corner, kTileWidth, fill, Grey(26), Grey(51)), QString());
    }

    // The bar is the same kind of box, 400 wide at (22, 94), filled with violets, with
    // grey 51 shine and a grey 64 highlight.
    void barBox()
    {
        const auto fill = [](int r) { return kBarRowColours[r - 1]; };
        QCOMPARE(FirstBoxFault(bg_, {22, 94}, 400, fill, Grey(51), Grey(64)), QString());
    }

    // Row by row, the bar's violet pixels and their one colour per row; 8,346 in all.
    void barRow_data()
    {
        QTest::addColumn<int>("y");
        QTest::addColumn<int>("x0");
        QTest::addColumn<int>("x1");
        for (int y = 95; y <= 115; ++y) {
            const int inset = (y == 95 || y == 115) ? 2 : (y == 96 || y == 114) ? 1 : 0;
            QTest::addRow("row %d", y) << y << 23 + inset << 420 - inset;
        }
    }
    void barRow()
    {
        QFETCH(int, y);
        QFETCH(int, x0);
        QFETCH(int, x1);
        QList<int> violet;
        for (int x = 0; x <= kRight; ++x) {
            if (isViolet(bg_.pixel(x, y)))
                violet.append(x);
        }
        QCOMPARE(violet.size(), x1 - x0 + 1);
        QCOMPARE(violet.first(), x0);
        QCOMPARE(violet.last(), x1);
        QCOMPARE(
            FirstOtherThan(bg_, QRect(x0, y, x1 - x0 + 1, 1), kBarRowColours[y - 95]), QString());
    }
    void barVioletCount()
    {
        int violets = 0;
        for (int y = 26; y <= kBottom; ++y) {
            for (int x = 0; x <= kRight; ++x)
                violets += isViolet(bg_.pixel(x, y));
        }
        QCOMPARE(violets, 8346);
    }

    // The bar's two black covers at their starting size hide every violet pixel and,
    // besides, only 6 pixels of the black outline: the bar starts as an intact empty box.
    void barCoversAtStart()
    {
        const QRect pg1(QPoint(23, 96), QPoint(420, 114));
        const QRect pg2(QPoint(24, 95), QPoint(418, 115));
        int uncoveredViolets = 0, coveredOutline = 0;
        QString coveredOther;
        for (int y = 26; y <= kBottom; ++y) {
            for (int x = 0; x <= kRight; ++x) {
                const QRgb c = bg_.pixel(x, y);
                const bool covered = pg1.contains(x, y) || pg2.contains(x, y);
                if (isViolet(c))
                    uncoveredViolets += !covered;
                else if (covered && c == Grey(0))
                    ++coveredOutline;
                else if (covered && coveredOther.isEmpty())
                    coveredOther = Describe(bg_, x, y);
            }
        }
        QCOMPARE(uncoveredViolets, 0);
        QCOMPARE(coveredOutline, 6);
        QCOMPARE(coveredOther, QString());
    }

    // The window's mask leaves out exactly the red corner pixels.
    void outlineMaskLeavesOutRed()
    {
        const QRegion mask = skin::outlineMask(bg_);
        QCOMPARE(mask.boundingRect(), QRect(0, 0, 490, 202));
        int left = 0;
        QString fault;
        for (int y = 0; y <= kBottom; ++y) {
            for (int x = 0; x <= kRight; ++x) {
                const bool shown = mask.contains(QPoint(x, y));
                left += !shown;
                if (shown == isRed(bg_.pixel(x, y)) && fault.isEmpty())
                    fault = Describe(bg_, x, y);
            }
        }
        QCOMPARE(fault, QString());
        QCOMPARE(left, 48);
    }

    // The mask follows the picture it is given: a red pixel anywhere is left out too.
    void outlineMaskFollowsAnyRed()
    {
        QImage image(8, 3, QImage::Format_RGB32);
        image.fill(Qt::black);
        image.setPixel(4, 1, kRed);
        image.setPixel(7, 2, kRed);
        const QRegion hidden = QRegion(0, 0, 8, 3).subtracted(skin::outlineMask(image));
        QCOMPARE(hidden, QRegion(4, 1, 1, 1) + QRegion(7, 2, 1, 1));
    }
};

QTEST_MAIN(TestSkinBackground)
#include "tst_skinbackground.moc"
