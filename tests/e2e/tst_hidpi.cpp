// SPDX-License-Identifier: MIT
// The real program under Xvfb and openbox at device pixel ratios 1, 2 and 3 (QT_SCALE_FACTOR):
// the window must be that many times the design's size, every skin and glyph pixel a solid
// block of that many screen pixels, the text drawn at the screen's own resolution rather
// than enlarged, and the red corners must still let the root window (white here) through.
// The screenshots are kept as hidpi-<ratio>x.png in this test's build folder.
#include "Desktop.h"
#include "SkinWindow.h"
#include "skin/Skin.h"

#include <QDir>
#include <QPainter>
#include <QRegularExpression>
#include <QTest>

namespace {

const QRgb kRoot = qRgb(255, 255, 255); // the screen behind the window

// The top length label ("0:00" in the normal colour) over its patch of skin, drawn here
// with the program's font on an image of `ratio` screen pixels per design pixel.
const QRect kLengthLabel(432, 72, 40, 14);

QImage LengthLabel(int ratio)
{
    QImage image
        = skin::background()
              .copy(kLengthLabel)
              .scaled(kLengthLabel.size() * ratio, Qt::IgnoreAspectRatio, Qt::FastTransformation)
              .convertToFormat(QImage::Format_RGB32);
    image.setDevicePixelRatio(ratio);
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

} // namespace

class TestHiDpi : public QObject {
    Q_OBJECT
private slots:
    void windowScalesByWholePixels_data()
    {
        QTest::addColumn<int>("ratio");
        QTest::newRow("1x") << 1;
        QTest::newRow("2x") << 2;
        QTest::newRow("3x") << 3;
    }

    void windowScalesByWholePixels()
    {
        QFETCH(int, ratio);
        e2e::Desktop desktop({1600, 700}, true);
        QVERIFY2(desktop.error().isEmpty(), qPrintable(desktop.error()));
        QProcessEnvironment scaled;
        scaled.insert("QT_SCALE_FACTOR", QString::number(ratio));
        auto program = desktop.start(QStringLiteral(TANDREL_BINARY), {}, scaled);
        const QString window = desktop.waitForWindow("tandrel");
        QVERIFY2(!window.isEmpty(), "the window never showed");
        QTest::qWait(1000); // let openbox place it and Qt paint it

        // The window itself is the design's size times the ratio, in screen pixels.
        const QString geometry = desktop.run("xdotool", {"getwindowgeometry", window}).out;
        const auto size = QRegularExpression("Geometry: (\\d+)x(\\d+)").match(geometry);
        const auto at = QRegularExpression("Position: (-?\\d+),(-?\\d+)").match(geometry);
        QVERIFY2(size.hasMatch() && at.hasMatch(), qPrintable(geometry));
        QCOMPARE(QSize(size.captured(1).toInt(), size.captured(2).toInt()),
            QSize(skin::kBackgroundWidth, skin::kBackgroundHeight) * ratio);
        const QPoint origin(at.captured(1).toInt(), at.captured(2).toInt());

        const QString path = QDir(SCREENSHOT_DIR).filePath(QString("hidpi-%1x.png").arg(ratio));
        QImage shot = desktop.screenshot(path);
        QVERIFY2(!shot.isNull(), "no screenshot");
        shot = shot.convertToFormat(QImage::Format_RGB32)
                   .copy(QRect(
                       origin, QSize(skin::kBackgroundWidth, skin::kBackgroundHeight) * ratio));

        // Each design pixel is a ratio × ratio block of its own colour, outside the labels;
        // where the skin is pure red that block shows the root window.
        const QImage expected = e2e::ExpectedWindow(kRoot);
        int wrong = 0;
        int keyBlocks = 0;
        QString first;
        for (int y = 0; y < shot.height(); ++y) {
            for (int x = 0; x < shot.width(); ++x) {
                const QPoint design(x / ratio, y / ratio);
                if (e2e::InLabel(design))
                    continue;
                const QRgb want = expected.pixel(design);
                if (want == kRoot && x % ratio == 0 && y % ratio == 0)
                    ++keyBlocks;
                if (shot.pixel(x, y) == want)
                    continue;
                if (wrong++ == 0)
                    first = QString("(%1, %2): %3, expected %4")
                                .arg(x)
                                .arg(y)
                                .arg(QColor(shot.pixel(x, y)).name(), QColor(want).name());
            }
        }
        QVERIFY2(
            wrong == 0, qPrintable(QString("%1 pixels differ, first at %2").arg(wrong).arg(first)));
        // The comparison did cover see-through corners.
        QVERIFY(keyBlocks > 0);

        if (ratio == 1)
            return;
        // The text is drawn at the screen's resolution: a length label looks like the font
        // drawn at this ratio, not like the 1x text made bigger (sharply or smoothly).
        const QImage label
            = shot.copy(QRect(kLengthLabel.topLeft() * ratio, kLengthLabel.size() * ratio));
        const QImage native = LengthLabel(ratio);
        const QImage small = LengthLabel(1);
        const QImage blocky
            = small.scaled(native.size(), Qt::IgnoreAspectRatio, Qt::FastTransformation);
        const QImage smooth
            = small.scaled(native.size(), Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
        const qint64 toNative = Distance(label, native);
        const qint64 toBlocky = Distance(label, blocky);
        const qint64 toSmooth = Distance(label, smooth);
        const QString distances = QString("distance to the font at %1x: %2, to 1x text enlarged "
                                          "by blocks: %3, smoothly: %4")
                                      .arg(ratio)
                                      .arg(toNative)
                                      .arg(toBlocky)
                                      .arg(toSmooth);
        qInfo().noquote() << distances;
        // The label has text at all: it differs from the bare skin beneath it.
        const QImage bare = skin::background().copy(kLengthLabel).scaled(native.size());
        QVERIFY2(Distance(label, bare.convertToFormat(QImage::Format_RGB32)) > 0, "no text");
        QVERIFY2(toNative * 2 < toBlocky && toNative * 2 < toSmooth, qPrintable(distances));
    }
};

QTEST_MAIN(TestHiDpi)
#include "tst_hidpi.moc"
