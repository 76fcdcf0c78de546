// SPDX-License-Identifier: MIT
// The real program on a Wayland compositor: weston, shown as a window of an Xvfb screen so
// that xdotool can move its pointer, with the program on Qt's wayland platform. The window
// must show the skin with its corners see-through, let a press on a corner through to the
// desktop, and move by its background through the compositor. Wayland leaves the placing of
// a new window to the compositor, so the test finds the window on the screen by its skin.
// weston runs with a configuration of the test's own: a plain desktop, no panel and no
// launcher, no animations, so that a press that falls through the window meets nothing that
// answers it, and the screen outside the window shows only the desktop's colour.
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

// The desktop weston shows around the window, in its configuration's colour.
const QColor kDesktop(0x20, 0x30, 0x40);

QString WriteWestonConfig(const QString& folder)
{
    const QString path = QDir(folder).filePath("weston.ini");
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return {};
    file.write(QStringLiteral("[core]\nshell=desktop-shell.so\nidle-time=0\n\n"
                              "[shell]\npanel-position=none\nbackground-color=0xff%1\n"
                              "locking=false\nanimation=none\nclose-animation=none\n"
                              "startup-animation=none\nfocus-animation=none\n\n"
                              "[input-method]\npath=\n")
            .arg(kDesktop.name().mid(1))
            .toUtf8());
    return path;
}

// The X pointer's place, as the X server has it.
QPoint PointerAt(const QProcessEnvironment& env)
{
    const QString out = e2e::Run("xdotool", {"getmouselocation", "--shell"}, env).out;
    QPoint at(-1, -1);
    for (const QString& line : out.split('\n')) {
        if (line.startsWith("X="))
            at.setX(line.mid(2).toInt());
        else if (line.startsWith("Y="))
            at.setY(line.mid(2).toInt());
    }
    return at;
}

// Moves the pointer and waits until the X server has it there, then a little longer for
// weston to take the motion, so that a press that follows lands where it was meant to. A
// move to where the pointer already is makes no motion event, and weston would keep the
// pointer where it last saw it (its output's corner, at start): so it comes from a pixel
// beside.
bool MoveTo(QPoint to, const QProcessEnvironment& env)
{
    const QPoint beside = to + QPoint(to.x() > 0 ? -1 : 1, 0);
    for (const QPoint p : {beside, to}) {
        Run("xdotool", {"mousemove", QString::number(p.x()), QString::number(p.y())}, env);
        QTest::qWait(30);
    }
    for (int i = 0; i < 50 && PointerAt(env) != to; ++i)
        QTest::qWait(20);
    QTest::qWait(150);
    return PointerAt(env) == to;
}

// The pointer gestures need short pauses between their steps, or xdotool loses them.
bool Drag(QPoint from, QPoint to, const QProcessEnvironment& env, int button = 1)
{
    if (!MoveTo(from, env))
        return false;
    Run("xdotool", {"mousedown", QString::number(button)}, env);
    QTest::qWait(100);
    const bool moved = MoveTo(from + (to - from) / 2, env) && MoveTo(to, env);
    Run("xdotool", {"mouseup", QString::number(button)}, env);
    QTest::qWait(300);
    return moved;
}

// Screen pixels of weston's output, outside the window at `at` and away from the parked
// pointer, that are not the desktop's colour: something other than the window showed.
int Strangers(const QImage& shot, QPoint at, QSize window, QSize output, QPoint park)
{
    const QRect windowRect(at, window);
    const QRect pointerRect(park - QPoint(80, 80), QSize(160, 160));
    int count = 0;
    for (int y = 0; y < output.height(); ++y) {
        for (int x = 0; x < output.width(); ++x) {
            const QPoint p(x, y);
            if (!windowRect.contains(p) && !pointerRect.contains(p)
                && QColor(shot.pixel(p)) != kDesktop)
                ++count;
        }
    }
    return count;
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
    MoveTo(park, env);
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
        const QString config = WriteWestonConfig(runtime.path());
        QVERIFY(!config.isEmpty());
        e2e::Process weston("weston",
            {"--backend=x11-backend.so", "--use-pixman", "--config=" + config, "--socket=tandrel",
                "--width=700", "--height=400", QString("--scale=%1").arg(ratio)},
            env);
        QVERIFY2(weston.process().waitForStarted(5000), "weston did not start");
        const QString socket = QDir(runtime.path()).filePath("tandrel");
        QTRY_VERIFY2_WITH_TIMEOUT(QFile::exists(socket), "weston made no socket", 15000);

        // weston's X11 window takes no pointer motion until the pointer has entered it
        // (measured: at 2x the output covers the X screen's centre, where the pointer
        // starts, and weston kept its pointer in the output's corner whatever xdotool did).
        // The pointer starts outside the output, so that its first move in is an entry.
        QVERIFY(MoveTo({1599, 899}, env));
        const QPoint park = QPoint(699, 399) * ratio;
        env.insert("WAYLAND_DISPLAY", "tandrel");
        env.insert("QT_QPA_PLATFORM", "wayland");
        env.remove("QT_SCALE_FACTOR");
        e2e::Process program(QStringLiteral(TANDREL_BINARY), {}, env);
        QVERIFY2(program.process().waitForStarted(5000), "tandrel did not start");

        const QImage background = skin::background();
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
        const QSize window = background.size() * ratio;
        const QSize output = QSize(700, 400) * ratio;
        QCOMPARE(Strangers(shot, *at, window, output, park), 0);

        // A press on a see-through corner reaches the desktop, not the window: the window
        // stays where it was, and nothing else has appeared.
        const QPoint offset(60, 40);
        const QPoint corner = *at;
        QVERIFY2(Drag(corner, corner + offset, env), "the pointer did not arrive");
        shot = Screenshot(shotPath("corner-drag"), park, env);
        QCOMPARE(FindWindow(shot, background, ratio).value_or(kNowhere), *at);
        QCOMPARE(Strangers(shot, *at, window, output, park), 0);

        // A press on the background moves the window with the pointer, through the compositor.
        const QPoint titleBar = *at + QPoint(100, 10) * ratio;
        QVERIFY2(Drag(titleBar, titleBar + offset, env), "the pointer did not arrive");
        QTRY_COMPARE_WITH_TIMEOUT((shot = Screenshot(shotPath("moved"), park, env),
                                      FindWindow(shot, background, ratio).value_or(kNowhere)),
            *at + offset, 5000);

        QCOMPARE(Strangers(shot, *at + offset, window, output, park), 0);

        // The right button moves it too, back to where it was shown (so that it stays on the
        // output), and the move ends at its release: the pointer going on to park for the
        // screenshot leaves the window where the release left it.
        const QPoint moved = *at + offset;
        const QPoint second = -offset;
        QVERIFY2(Drag(titleBar + offset, titleBar + offset + second, env, 3),
            "the pointer did not arrive");
        QTRY_COMPARE_WITH_TIMEOUT((shot = Screenshot(shotPath("moved-right-button"), park, env),
                                      FindWindow(shot, background, ratio).value_or(kNowhere)),
            moved + second, 5000);
        QTest::qWait(300);
        shot = Screenshot(shotPath("after-right-button"), park, env);
        QCOMPARE(FindWindow(shot, background, ratio).value_or(kNowhere), moved + second);
        QCOMPARE(program.process().state(), QProcess::Running);
    }
};

QTEST_GUILESS_MAIN(TestWayland)
#include "tst_wayland.moc"
