// SPDX-License-Identifier: MIT
// The real program on a Wayland compositor: weston, shown as a window of an Xvfb screen so
// that xdotool can move its pointer, with the program on Qt's wayland platform. The window
// must show the skin with its corners see-through, let a press on a corner through to the
// desktop, and move by its background through the compositor. Wayland leaves the placing of
// a new window to the compositor, so the test finds the window on the screen by its skin.
// The screenshots are kept as wayland-<scale>x-*.png in this test's build folder.
#include "Desktop.h"
#include "skin/Skin.h"

#include <QDir>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>
#include <algorithm>
#include <optional>

namespace {

bool Run(const QString& program, const QStringList& args, const QProcessEnvironment& env)
{
    return e2e::Run(program, args, env).exitCode == 0;
}

// The pointer gestures need short pauses between their steps, or xdotool loses them.
void Drag(QPoint from, QPoint to, const QProcessEnvironment& env)
{
    const auto xdotool = [&](const QStringList& args) {
        Run("xdotool", args, env);
        QTest::qWait(100);
    };
    xdotool({"mousemove", QString::number(from.x()), QString::number(from.y())});
    xdotool({"mousedown", "1"});
    const QPoint half = from + (to - from) / 2;
    xdotool({"mousemove", QString::number(half.x()), QString::number(half.y())});
    xdotool({"mousemove", QString::number(to.x()), QString::number(to.y())});
    xdotool({"mouseup", "1"});
    QTest::qWait(300);
}

// The skin's pixels that nothing else covers: the title bar between the two glyphs and the
// frame below the last row of controls, without the see-through corners.
QList<QPoint> SkinSamples(const QImage& background)
{
    QList<QPoint> samples;
    for (int y = 0; y < background.height(); ++y) {
        for (int x = 0; x < background.width(); ++x) {
            const bool titleBar = y < 22 && x >= 30 && x < 460;
            const bool bottomFrame = y >= 180;
            if ((titleBar || bottomFrame) && background.pixelColor(x, y) != skin::kColourKey)
                samples.append({x, y});
        }
    }
    return samples;
}

// Where the window's top-left corner is on the screen, if the skin is there, drawn at
// `ratio` screen pixels per design pixel.
std::optional<QPoint> FindWindow(const QImage& shot, const QImage& background, int ratio)
{
    static const QList<QPoint> samples = SkinSamples(background);
    const int width = background.width() * ratio;
    const int height = background.height() * ratio;
    for (int top = 0; top + height <= shot.height(); ++top) {
        for (int left = 0; left + width <= shot.width(); ++left) {
            const bool all = std::all_of(samples.begin(), samples.end(), [&](QPoint p) {
                return shot.pixel(left + p.x() * ratio, top + p.y() * ratio) == background.pixel(p);
            });
            if (all)
                return QPoint(left, top);
        }
    }
    return std::nullopt;
}

const QPoint kNowhere(-1, -1);

// weston draws the pointer into its output; it is parked in the output's bottom-right
// corner, where it hides no part of a placed window but a see-through corner, while the
// screen is taken.
QImage Screenshot(const QString& path, QPoint park, const QProcessEnvironment& env)
{
    Run("xdotool", {"mousemove", QString::number(park.x()), QString::number(park.y())}, env);
    QTest::qWait(100);
    QFile::remove(path);
    Run("import", {"-window", "root", path}, env);
    return QImage(path).convertToFormat(QImage::Format_RGB32);
}

} // namespace

class TestWayland : public QObject {
    Q_OBJECT
private slots:
    void showsMovesAndSeesThroughCorners_data()
    {
        QTest::addColumn<int>("ratio");
        QTest::newRow("1x") << 1;
        QTest::newRow("2x") << 2;
    }

    void showsMovesAndSeesThroughCorners()
    {
        QFETCH(int, ratio);
        QTemporaryDir runtime; // 0700, as a Wayland socket's folder must be
        QVERIFY(runtime.isValid());
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("XDG_RUNTIME_DIR", runtime.path());
        e2e::Process xvfb("Xvfb",
            {"-displayfd", "1", "-screen", "0", "1600x900x24", "-br", "-nolisten", "tcp"}, env);
        QVERIFY2(xvfb.process().waitForReadyRead(15000), "Xvfb did not start");
        env.insert("DISPLAY", ":" + QString::fromUtf8(xvfb.process().readLine()).trimmed());

        // weston's output is 700 × 400 in its own units, ratio times that on the X screen.
        e2e::Process weston("weston",
            {"--backend=x11-backend.so", "--use-pixman", "--no-config", "--socket=tandrel",
                "--width=700", "--height=400", QString("--scale=%1").arg(ratio)},
            env);
        QVERIFY2(weston.process().waitForStarted(5000), "weston did not start");
        const QString socket = QDir(runtime.path()).filePath("tandrel");
        QTRY_VERIFY2_WITH_TIMEOUT(QFile::exists(socket), "weston made no socket", 15000);

        const QPoint park = QPoint(699, 399) * ratio;
        env.insert("WAYLAND_DISPLAY", "tandrel");
        env.insert("QT_QPA_PLATFORM", "wayland");
        env.remove("QT_SCALE_FACTOR");
        e2e::Process program(QStringLiteral(TANDREL_BINARY), {}, env);
        QVERIFY2(program.process().waitForStarted(5000), "tandrel did not start");

        const QImage background = skin::Background();
        const QString folder = QDir(SCREENSHOT_DIR).path();
        const auto shotPath = [&](const char* name) {
            return QDir(folder).filePath(QString("wayland-%1x-%2.png").arg(ratio).arg(name));
        };
        std::optional<QPoint> at;
        QImage shot;
        QTRY_VERIFY2_WITH_TIMEOUT((shot = Screenshot(shotPath("shown"), park, env),
                                      at = FindWindow(shot, background, ratio)),
            "the window never showed with its skin", 10000);

        // The corners show what lies beneath: neither the colour key nor the window's fill.
        int corners = 0;
        for (int y = 0; y < background.height() * ratio; ++y) {
            for (int x = 0; x < background.width() * ratio; ++x) {
                if (background.pixelColor(x / ratio, y / ratio) != skin::kColourKey)
                    continue;
                ++corners;
                const QColor seen(shot.pixel(*at + QPoint(x, y)));
                QVERIFY2(seen != skin::kColourKey && seen != skin::kWindowColour,
                    qPrintable(
                        QString("corner pixel (%1, %2) shows %3").arg(x).arg(y).arg(seen.name())));
            }
        }
        QVERIFY(corners > 0);

        // A press on a see-through corner reaches the desktop, not the window: it stays.
        const QPoint offset(60, 40);
        const QPoint corner = *at;
        Drag(corner, corner + offset, env);
        shot = Screenshot(shotPath("corner-drag"), park, env);
        QCOMPARE(FindWindow(shot, background, ratio).value_or(kNowhere), *at);

        // A press on the background moves the window with the pointer, through the compositor.
        const QPoint titleBar = *at + QPoint(100, 10) * ratio;
        Drag(titleBar, titleBar + offset, env);
        QTRY_COMPARE_WITH_TIMEOUT((shot = Screenshot(shotPath("moved"), park, env),
                                      FindWindow(shot, background, ratio).value_or(kNowhere)),
            *at + offset, 5000);

        QCOMPARE(program.process().state(), QProcess::Running);
    }
};

QTEST_GUILESS_MAIN(TestWayland)
#include "tst_wayland.moc"
