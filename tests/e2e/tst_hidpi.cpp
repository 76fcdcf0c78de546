// SPDX-License-Identifier: MIT
// The real program under Xvfb and openbox at the scales screens have, 100 % to 300 %
// (QT_SCALE_FACTOR): the window must be the design's size times the scale, every skin and
// glyph pixel a solid block of ⌊scale⌋ or ⌈scale⌉ screen pixels on one grid, the bar's covers
// on that same grid (nothing of the trough showing before a file plays, all of it at the
// end, one clean step in between), the text drawn at the screen's own resolution rather than
// enlarged, and the red corners must still let the root window (white here) through.
// The screenshots are kept as hidpi-<percent>-<state>.png in this test's build folder.
#include "Desktop.h"
#include "Signal.h"
#include "SkinWindow.h"
#include "skin/Skin.h"

#include <QDir>
#include <QPainter>
#include <QRegularExpression>
#include <QTest>
#include <cmath>

namespace {

const QRgb kRoot = qRgb(255, 255, 255); // the screen behind the window

// The top length label ("0:00" in the normal colour) and the bar's box with its outline.
const QRect kLengthLabel(432, 72, 40, 14);
const QRect kBarBox(20, 92, 404, 28);
const QPoint kTopPlay(370, 75), kBarMiddle(222, 105);
// The top play button, which stays lit in the accent colour once clicked.
const QRect kTopPlayGlyph(356, 65, skin::kGlyphWidth, skin::kGlyphHeight);

using e2e::DesignPixel;
using e2e::ScreenEdge;

// A design image on `size` screen pixels, each showing the design pixel under its centre.
QImage OnTheGrid(const QImage& design, double scale, QSize size)
{
    QImage image(size, QImage::Format_RGB32);
    for (int y = 0; y < size.height(); ++y) {
        for (int x = 0; x < size.width(); ++x)
            image.setPixel(x, y, design.pixel(DesignPixel(x, scale), DesignPixel(y, scale)));
    }
    return image;
}

// The top length label over its patch of skin, drawn here with the program's font at
// `scale` screen pixels per design pixel, on `size` screen pixels.
QImage LengthLabel(double scale, QSize size)
{
    QImage image = OnTheGrid(skin::background().copy(kLengthLabel), scale, size);
    image.setDevicePixelRatio(scale);
    QPainter painter(&image);
    const QFont font = skin::tahoma(12);
    painter.setFont(font);
    painter.setPen(skin::kNormalColour);
    painter.drawText(QPoint(0, skin::cellMetricsOf(font).ascent), QStringLiteral("0:00"));
    painter.end();
    image.setDevicePixelRatio(1);
    return image;
}

// Sum of the channel differences of two images of the same size.
qint64 Distance(const QImage& a, const QImage& b)
{
    qint64 sum = 0;
    for (int y = 0; y < a.height(); ++y) {
        for (int x = 0; x < a.width(); ++x) {
            const QRgb p = a.pixel(x, y);
            const QRgb q = b.pixel(x, y);
            sum += qAbs(qRed(p) - qRed(q)) + qAbs(qGreen(p) - qGreen(q))
                + qAbs(qBlue(p) - qBlue(q));
        }
    }
    return sum;
}

// The screen pixels of the window inside the design rectangle `area` (outside the labels)
// that do not show the design pixel under their centre; the first of them described in
// `first`, and those where the trough's violet shows instead of black counted in `violet`.
int Mismatches(const QImage& window, const QImage& expected, double scale, const QRect& area,
    QString* first, int* violet)
{
    const QRect screen(QPoint(ScreenEdge(area.left(), scale), ScreenEdge(area.top(), scale)),
        QPoint(ScreenEdge(area.right() + 1, scale) - 1, ScreenEdge(area.bottom() + 1, scale) - 1));
    int wrong = 0;
    *violet = 0;
    for (int y = std::max(screen.top(), 0); y <= std::min(screen.bottom(), window.height() - 1);
        ++y) {
        for (int x = std::max(screen.left(), 0); x <= std::min(screen.right(), window.width() - 1);
            ++x) {
            const QPoint design(DesignPixel(x, scale), DesignPixel(y, scale));
            if (e2e::InLabel(design))
                continue;
            const QRgb want = expected.pixel(design);
            const QRgb seen = window.pixel(x, y);
            if (seen == want)
                continue;
            const QColor colour(seen);
            if (want == qRgb(0, 0, 0) && colour.blue() > colour.green() + 40)
                ++*violet;
            if (wrong++ == 0)
                *first = QString("(%1, %2) of design pixel (%3, %4): %5, expected %6")
                             .arg(x)
                             .arg(y)
                             .arg(design.x())
                             .arg(design.y())
                             .arg(colour.name(), QColor(want).name());
        }
    }
    return wrong;
}

// The bar's covers once a position has moved them: the front one from `left` to the bar's
// right end, the one behind it a pixel short of that; none at all at the end.
std::pair<QRect, QRect> CoversFrom(int left)
{
    const int end = e2e::kFrontCoverHome.right() + 1;
    if (left >= end)
        return {};
    return {QRect(left, e2e::kFrontCoverHome.top(), end - left, e2e::kFrontCoverHome.height()),
        QRect(left, e2e::kBackCoverHome.top(), end - 1 - left, e2e::kBackCoverHome.height())};
}

} // namespace

class TestHiDpi : public QObject {
    Q_OBJECT
private slots:
    void windowFollowsTheSkinsGrid_data()
    {
        QTest::addColumn<double>("scale");
        for (const double scale : {1.0, 1.25, 1.5, 1.75, 2.0, 3.0})
            QTest::newRow(qPrintable(QString("%1 %").arg(scale * 100))) << scale;
    }

    void windowFollowsTheSkinsGrid()
    {
        QFETCH(double, scale);
        e2e::Desktop desktop({1600, 700}, true);
        QVERIFY2(desktop.error().isEmpty(), qPrintable(desktop.error()));
        QDir(desktop.home()).mkpath("Music");
        const QStringList files
            = {desktop.home() + "/Music/first.wav", desktop.home() + "/Music/second.wav"};
        for (int i = 0; i < files.size(); ++i)
            QVERIFY(e2e::WriteWav(
                files[i], e2e::MusicLike(1, i + 1, e2e::Desktop::kRate), e2e::Desktop::kRate));
        QProcessEnvironment scaled;
        scaled.insert("QT_SCALE_FACTOR", QString::number(scale));
        auto program = desktop.start(QStringLiteral(TANDREL_BINARY), {}, scaled);
        const QString window = desktop.waitForWindow("tandrel");
        QVERIFY2(!window.isEmpty(), "the window never showed");
        QTest::qWait(1000); // let openbox place it and Qt paint it

        // The window itself is the design's size times the scale, rounded to whole pixels
        // as Qt rounds a scaled length.
        const QString geometry = desktop.run("xdotool", {"getwindowgeometry", window}).out;
        const auto size = QRegularExpression("Geometry: (\\d+)x(\\d+)").match(geometry);
        const auto at = QRegularExpression("Position: (-?\\d+),(-?\\d+)").match(geometry);
        QVERIFY2(size.hasMatch() && at.hasMatch(), qPrintable(geometry));
        const QSize designSize(skin::kBackgroundWidth, skin::kBackgroundHeight);
        const QSize screenSize(
            qRound(designSize.width() * scale), qRound(designSize.height() * scale));
        QCOMPARE(QSize(size.captured(1).toInt(), size.captured(2).toInt()), screenSize);
        const QPoint origin(at.captured(1).toInt(), at.captured(2).toInt());
        const auto onScreen = [&](QPoint design) {
            return origin + QPoint(ScreenEdge(design.x(), scale), ScreenEdge(design.y(), scale));
        };
        const auto shoot = [&](const char* state) {
            const QString path
                = QDir(SCREENSHOT_DIR)
                      .filePath(QString("hidpi-%1-%2.png").arg(qRound(scale * 100)).arg(state));
            return desktop.screenshot(path).copy(QRect(origin, screenSize));
        };
        const auto check = [&](const QImage& shot, const QImage& expected, const QRect& area,
                               const char* state) {
            QString first;
            int violet = 0;
            const int wrong = Mismatches(shot, expected, scale, area, &first, &violet);
            return wrong == 0 ? QString()
                              : QString("%1: %2 pixels differ (%3 of them the trough's violet), "
                                        "first at %4")
                                    .arg(state)
                                    .arg(wrong)
                                    .arg(violet)
                                    .arg(first);
        };

        // Before anything plays: the whole window, the covers hiding all of the trough.
        const QImage shot = shoot("start");
        QVERIFY2(!shot.isNull(), "no screenshot");
        const QImage expected = e2e::ExpectedWindow(kRoot);
        const QString start = check(shot, expected, QRect(QPoint(), designSize), "at the start");
        QVERIFY2(start.isEmpty(), qPrintable(start));
        int keyBlocks = 0; // the comparison did cover see-through corners
        for (int y = 0; y < designSize.height(); ++y) {
            for (int x = 0; x < designSize.width(); ++x)
                keyBlocks += expected.pixel(x, y) == kRoot;
        }
        QVERIFY(keyBlocks > 0);

        // The text is drawn at the screen's resolution: a length label looks like the font
        // drawn at this scale, not like the 100 % text made bigger (sharply or smoothly).
        if (scale > 1) {
            const QSize labelSize(
                int(kLengthLabel.width() * scale), int(kLengthLabel.height() * scale));
            const QImage label
                = shot.copy(QRect(onScreen(kLengthLabel.topLeft()) - origin, labelSize));
            const QImage native = LengthLabel(scale, labelSize);
            const QImage small = LengthLabel(1, kLengthLabel.size());
            const QImage blocky = OnTheGrid(small, scale, labelSize);
            const QImage smooth
                = small.scaled(labelSize, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
            const qint64 toNative = Distance(label, native);
            const qint64 toBlocky = Distance(label, blocky);
            const qint64 toSmooth = Distance(label, smooth);
            const QString distances = QString("distance to the font at %1: %2, to 100 % text "
                                              "enlarged by blocks: %3, smoothly: %4")
                                          .arg(scale)
                                          .arg(toNative)
                                          .arg(toBlocky)
                                          .arg(toSmooth);
            qInfo().noquote() << distances;
            // The label has text at all: it differs from the bare skin beneath it.
            const QImage bare = OnTheGrid(skin::background().copy(kLengthLabel), scale, labelSize);
            QVERIFY2(Distance(label, bare) > 0, "no text");
            QVERIFY2(toNative * 2 < toBlocky && toNative * 2 < toSmooth, qPrintable(distances));
        }

        // Both files open; the top one plays to its end: the whole trough shows.
        QString failed = desktop.dropFiles(DRAG_SOURCE, files, onScreen(QPoint(200, 185)));
        QVERIFY2(failed.isEmpty(), qPrintable(failed));
        QTest::qWait(500);
        QVERIFY(desktop.click(onScreen(kTopPlay)));
        // The second's play and the bar's next tick, later on a busy machine.
        const auto [noFront, noBack] = CoversFrom(e2e::kFrontCoverHome.right() + 1);
        QImage atTheEnd = e2e::ExpectedWindow(kRoot, noFront, noBack);
        const QImage play
            = skin::glyphImage(skin::Glyph::Play).convertToFormat(QImage::Format_RGB32);
        for (int y = 0; y < play.height(); ++y) {
            for (int x = 0; x < play.width(); ++x) {
                if (play.pixelColor(x, y) == skin::kNormalColour)
                    atTheEnd.setPixelColor(
                        kTopPlayGlyph.topLeft() + QPoint(x, y), skin::kAccentColour);
            }
        }
        QImage end;
        QString atEnd;
        QTest::qWait(2000);
        QTRY_VERIFY2_WITH_TIMEOUT(
            (end = shoot("end"),
                atEnd = check(end, atTheEnd, kBarBox, "at the end")
                    + check(end, atTheEnd, kTopPlayGlyph, "the lit play button"))
                .isEmpty(),
            qPrintable(atEnd), 8000);

        // A click in the middle of the bar: one clean step from the trough to the covers,
        // wherever on the design's pixels the position put it.
        QVERIFY(desktop.click(onScreen(kBarMiddle)));
        QTest::qWait(500);
        const QImage middle = shoot("middle");
        QString best;
        for (int left = kBarMiddle.x() - 4; left <= kBarMiddle.x() + 4; ++left) {
            const auto [front, back] = CoversFrom(left);
            const QString wrong
                = check(middle, e2e::ExpectedWindow(kRoot, front, back), kBarBox, "in the middle");
            if (wrong.isEmpty()) {
                best.clear();
                break;
            }
            if (best.isEmpty() || left == kBarMiddle.x())
                best = wrong;
        }
        QVERIFY2(best.isEmpty(), qPrintable(best));
        QCOMPARE(program->process().state(), QProcess::Running);
    }
};

QTEST_MAIN(TestHiDpi)
#include "tst_hidpi.moc"
