// SPDX-License-Identifier: MIT
// The real program under Xvfb and openbox at device pixel ratios 1, 2 and 3 (QT_SCALE_FACTOR):
// the window must be that many times the design's size, every skin and glyph pixel a solid
// block of that many screen pixels, the text drawn at the screen's own resolution rather
// than enlarged, and the red corners must still let the root window (white here) through.
// The screenshots are kept as hidpi-<ratio>x.png in this test's build folder.
#include "skin/Skin.h"

#include <QDir>
#include <QPainter>
#include <QProcess>
#include <QRegularExpression>
#include <QTest>

namespace {

// Starts a program and ends it, by its own PID, when the test ends, also on failure.
struct Child {
    QProcess process;
    Child(const QString& program, const QStringList& args, const QProcessEnvironment& env)
    {
        process.setProcessEnvironment(env);
        process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        process.start(program, args);
    }
    ~Child()
    {
        if (process.state() == QProcess::NotRunning)
            return;
        process.terminate();
        if (!process.waitForFinished(3000))
            process.kill();
        process.waitForFinished(3000);
    }
};

QString Output(const QString& program, const QStringList& args, const QProcessEnvironment& env)
{
    QProcess p;
    p.setProcessEnvironment(env);
    p.start(program, args);
    if (!p.waitForFinished(20000)) {
        p.kill();
        p.waitForFinished();
        return {};
    }
    return QString::fromUtf8(p.readAllStandardOutput()).trimmed();
}

const QRgb kRoot = qRgb(255, 255, 255); // Xvfb -wr

// The window at the design's size: the skin, the bar's two covers at their start, the ten
// glyphs with their white ground see-through, and the root window where the skin is pure red.
QImage ExpectedWindow()
{
    QImage expected = skin::Background().convertToFormat(QImage::Format_RGB32);
    QPainter painter(&expected);
    painter.fillRect(QRect(24, 95, 395, 21), Qt::black);
    painter.fillRect(QRect(23, 96, 398, 19), Qt::black);
    const std::pair<QPoint, skin::Glyph> glyphs[]
        = {{{356, 35}, skin::Glyph::X}, {{356, 65}, skin::Glyph::Play},
            {{392, 65}, skin::Glyph::Pause}, {{356, 155}, skin::Glyph::X},
            {{356, 125}, skin::Glyph::Play}, {{392, 125}, skin::Glyph::Pause},
            {{464, 1}, skin::Glyph::Dot}, {{-3, 1}, skin::Glyph::QuestionMark},
            {{392, 35}, skin::Glyph::Folder}, {{392, 155}, skin::Glyph::Folder}};
    for (const auto& [at, glyph] : glyphs) {
        QImage keyed = skin::GlyphImage(glyph).convertToFormat(QImage::Format_ARGB32);
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
                expected.setPixel(x, y, kRoot);
        }
    }
    return expected;
}

// The labels' text is checked on its own, not against the skin.
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

// The top length label ("0:00" in the normal colour) over its patch of skin, drawn here
// with the program's font on an image of `ratio` screen pixels per design pixel.
const QRect kLengthLabel(432, 72, 40, 14);

QImage LengthLabel(int ratio)
{
    QImage image
        = skin::Background()
              .copy(kLengthLabel)
              .scaled(kLengthLabel.size() * ratio, Qt::IgnoreAspectRatio, Qt::FastTransformation)
              .convertToFormat(QImage::Format_RGB32);
    image.setDevicePixelRatio(ratio);
    QPainter painter(&image);
    const QFont font = skin::Tahoma(12);
    painter.setFont(font);
    painter.setPen(skin::kNormalColour);
    painter.drawText(QPoint(0, skin::CellMetricsOf(font).ascent), QStringLiteral("0:00"));
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
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        Child xvfb("Xvfb",
            {"-displayfd", "1", "-screen", "0", "1600x700x24", "-wr", "-nolisten", "tcp"}, env);
        QVERIFY2(xvfb.process.waitForReadyRead(15000), "Xvfb did not start");
        env.insert("DISPLAY", ":" + QString::fromUtf8(xvfb.process.readLine()).trimmed());
        env.insert("QT_QPA_PLATFORM", "xcb");
        env.insert("QT_SCALE_FACTOR", QString::number(ratio));
        Child wm("openbox", {}, env);
        QVERIFY2(wm.process.waitForStarted(5000), "openbox did not start");
        Child program(QStringLiteral(TANDREL_BINARY), {}, env);
        QVERIFY2(program.process.waitForStarted(5000), "tandrel did not start");
        const QString window
            = Output("xdotool", {"search", "--sync", "--onlyvisible", "--class", "tandrel"}, env)
                  .section('\n', 0, 0);
        QVERIFY2(!window.isEmpty(), "the window never showed");
        QTest::qWait(1000); // let openbox place it and Qt paint it

        // The window itself is the design's size times the ratio, in screen pixels.
        const QString geometry = Output("xdotool", {"getwindowgeometry", window}, env);
        const auto size = QRegularExpression("Geometry: (\\d+)x(\\d+)").match(geometry);
        const auto at = QRegularExpression("Position: (-?\\d+),(-?\\d+)").match(geometry);
        QVERIFY2(size.hasMatch() && at.hasMatch(), qPrintable(geometry));
        QCOMPARE(QSize(size.captured(1).toInt(), size.captured(2).toInt()),
            QSize(skin::kBackgroundWidth, skin::kBackgroundHeight) * ratio);
        const QPoint origin(at.captured(1).toInt(), at.captured(2).toInt());

        const QString path = QDir(SCREENSHOT_DIR).filePath(QString("hidpi-%1x.png").arg(ratio));
        QFile::remove(path);
        Output("import", {"-window", "root", path}, env);
        QImage shot(path);
        QVERIFY2(!shot.isNull(), "no screenshot");
        shot = shot.convertToFormat(QImage::Format_RGB32)
                   .copy(QRect(
                       origin, QSize(skin::kBackgroundWidth, skin::kBackgroundHeight) * ratio));

        // Each design pixel is a ratio × ratio block of its own colour, outside the labels;
        // where the skin is pure red that block shows the root window.
        const QImage expected = ExpectedWindow();
        int wrong = 0;
        int keyBlocks = 0;
        QString first;
        for (int y = 0; y < shot.height(); ++y) {
            for (int x = 0; x < shot.width(); ++x) {
                const QPoint design(x / ratio, y / ratio);
                if (InLabel(design))
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
        const QImage bare = skin::Background().copy(kLengthLabel).scaled(native.size());
        QVERIFY2(Distance(label, bare.convertToFormat(QImage::Format_RGB32)) > 0, "no text");
        QVERIFY2(toNative * 2 < toBlocky && toNative * 2 < toSmooth, qPrintable(distances));
    }
};

QTEST_MAIN(TestHiDpi)
#include "tst_hidpi.moc"
