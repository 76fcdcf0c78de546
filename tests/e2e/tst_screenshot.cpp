// SPDX-License-Identifier: MIT
// The real program under Xvfb and openbox: a screenshot of its window must show the skin
// pixel for pixel, the bar's covers, the glyphs on their tiles, and the root window through
// the red corners. The screenshot is kept as window.png in this test's build folder.
#include "skin/Skin.h"

#include <QDir>
#include <QPainter>
#include <QProcess>
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

// What the window must look like: the skin, the two black covers at their start, the ten
// glyphs with white see-through, and the root window (black) where the skin is pure red.
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
                expected.setPixel(x, y, qRgb(0, 0, 0));
        }
    }
    return expected;
}

// The labels' text depends on font rendering; they are compared elsewhere.
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

} // namespace

class TestScreenshot : public QObject {
    Q_OBJECT
private slots:
    void windowLooksLikeTheDesign()
    {
        // Xvfb picks a free display and tells it through a pipe.
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        Child xvfb("Xvfb",
            {"-displayfd", "1", "-screen", "0", "640x300x24", "-br", "-nolisten", "tcp"}, env);
        QVERIFY2(xvfb.process.waitForReadyRead(15000), "Xvfb did not start");
        const QString display = ":" + QString::fromUtf8(xvfb.process.readLine()).trimmed();
        env.insert("DISPLAY", display);
        env.remove("QT_QPA_PLATFORM");
        env.insert("QT_QPA_PLATFORM", "xcb");
        Child wm("openbox", {}, env);
        QVERIFY2(wm.process.waitForStarted(5000), "openbox did not start");
        Child program(QStringLiteral(TANDREL_BINARY), {}, env);
        QVERIFY2(program.process.waitForStarted(5000), "tandrel did not start");
        const QString window
            = Output("xdotool", {"search", "--sync", "--onlyvisible", "--class", "tandrel"}, env);
        QVERIFY2(!window.isEmpty(), "the window never showed");
        QTest::qWait(1000); // let openbox place it and Qt paint it

        const QString path = QDir(SCREENSHOT_DIR).filePath("window.png");
        QFile::remove(path);
        Output("import", {"-window", "root", path}, env);
        QImage shot(path);
        QVERIFY2(!shot.isNull(), "no screenshot");
        shot = shot.convertToFormat(QImage::Format_RGB32);

        const QImage expected = ExpectedWindow();
        int wrong = 0;
        QString first;
        for (int y = 0; y < expected.height(); ++y) {
            for (int x = 0; x < expected.width(); ++x) {
                if (InLabel({x, y}) || shot.pixel(x, y) == expected.pixel(x, y))
                    continue;
                if (wrong++ == 0)
                    first = QString("(%1, %2): %3, expected %4")
                                .arg(x)
                                .arg(y)
                                .arg(QColor(shot.pixel(x, y)).name(),
                                    QColor(expected.pixel(x, y)).name());
            }
        }
        QVERIFY2(
            wrong == 0, qPrintable(QString("%1 pixels differ, first at %2").arg(wrong).arg(first)));
        // Nothing on the screen is the colour key: the corners let the root window show.
        for (int y = 0; y < shot.height(); ++y) {
            for (int x = 0; x < shot.width(); ++x)
                QVERIFY(QColor(shot.pixel(x, y)) != skin::kColourKey);
        }
    }
};

QTEST_GUILESS_MAIN(TestScreenshot)
#include "tst_screenshot.moc"
