// SPDX-License-Identifier: MIT
// The real program on a Wayland compositor: weston, shown as a window of an Xvfb screen so
// that xdotool can move its pointer, with the program on Qt's wayland platform. The window
// must show the skin with its corners see-through, let a press on a corner through to the
// desktop, and move by its background through the compositor. Wayland leaves the placing of
// a new window to the compositor, so the test finds the window on the screen by its skin.
// weston runs with a configuration of the test's own: a plain desktop, no panel and no
// launcher, no animations, so that a press that falls through the window meets nothing that
// answers it, and the screen outside the window shows only the desktop's colour.
// On the same compositor a real file manager drags files onto the window, and the about
// panel's link starts the browser.
// The screenshots are kept as wayland-<percent>-*.png in this test's build folder.
#include "Branding.h"
#include "Desktop.h"
#include "Signal.h"
#include "SkinWindow.h"
#include "skin/Skin.h"

#include <QDir>
#include <QFileInfo>
#include <QPainter>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <algorithm>
#include <memory>
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
// `scale` screen pixels per design pixel on the skin's grid (SkinWindow.h).
std::optional<QPoint> FindWindow(const QImage& shot, const QImage& background, double scale)
{
    static const QList<QPoint> samples = SkinSamples(background);
    const int width = e2e::ScreenEdge(background.width(), scale);
    const int height = e2e::ScreenEdge(background.height(), scale);
    for (int top = 0; top + height <= shot.height(); ++top) {
        for (int left = 0; left + width <= shot.width(); ++left) {
            const bool all = std::all_of(samples.begin(), samples.end(), [&](QPoint p) {
                return shot.pixel(left + e2e::ScreenEdge(p.x(), scale),
                           top + e2e::ScreenEdge(p.y(), scale))
                    == background.pixel(p);
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

// Xvfb and on it weston, whose output is `output` in its own units at `ratio` screen pixels
// each. env() reaches Xvfb (for xdotool and the screenshots), clientEnv() weston.
class Weston {
public:
    Weston(QSize screen, QSize output, int ratio) { error_ = start(screen, output, ratio); }
    // Empty when both run; else what failed.
    const QString& error() const { return error_; }
    const QProcessEnvironment& env() const { return env_; }
    QString path(const QString& name) const { return QDir(runtime_.path()).filePath(name); }
    // The environment of a Wayland client of this weston: a HOME of its own, no X display to
    // fall back on and no session bus of the user's.
    QProcessEnvironment clientEnv() const
    {
        QProcessEnvironment env = env_;
        for (const char* name : {"DISPLAY", "DBUS_SESSION_BUS_ADDRESS", "XDG_CONFIG_HOME",
                 "XDG_DATA_HOME", "XDG_CACHE_HOME", "QT_SCALE_FACTOR", "BROWSER",
                 "QT_LOGGING_RULES", "SESSION_MANAGER"})
            env.remove(name);
        env.insert("HOME", path("home"));
        env.insert("WAYLAND_DISPLAY", "tandrel");
        env.insert("QT_QPA_PLATFORM", "wayland");
        env.insert("GDK_BACKEND", "wayland");
        env.insert("NO_AT_BRIDGE", "1");
        return env;
    }

private:
    QString start(QSize screen, QSize output, int ratio)
    {
        if (!runtime_.isValid()) // 0700, as a Wayland socket's folder must be
            return "no temporary folder";
        QDir(runtime_.path()).mkpath("home");
        env_ = QProcessEnvironment::systemEnvironment();
        env_.insert("XDG_RUNTIME_DIR", runtime_.path());
        xvfb_ = std::make_unique<e2e::Process>("Xvfb",
            QStringList {"-displayfd", "1", "-screen", "0",
                QString("%1x%2x24").arg(screen.width()).arg(screen.height()), "-br", "-nolisten",
                "tcp"},
            env_);
        if (!xvfb_->process().waitForReadyRead(15000))
            return "Xvfb did not start";
        env_.insert("DISPLAY", ":" + QString::fromUtf8(xvfb_->process().readLine()).trimmed());
        const QString config = WriteWestonConfig(runtime_.path());
        if (config.isEmpty())
            return "no weston.ini";
        weston_ = std::make_unique<e2e::Process>("weston",
            QStringList {"--backend=x11-backend.so", "--use-pixman", "--config=" + config,
                "--socket=tandrel", QString("--width=%1").arg(output.width()),
                QString("--height=%1").arg(output.height()), QString("--scale=%1").arg(ratio)},
            env_);
        if (!weston_->process().waitForStarted(5000))
            return "weston did not start";
        for (int i = 0; i < 300 && !QFile::exists(path("tandrel")); ++i)
            QTest::qWait(50);
        if (!QFile::exists(path("tandrel")))
            return "weston made no socket";
        // weston's X11 window takes no pointer motion until the pointer has entered it
        // (measured: at 2x the output covers the X screen's centre, where the pointer
        // starts, and weston kept its pointer in the output's corner whatever xdotool did).
        // The pointer starts outside the output, so that its first move in is an entry.
        if (!MoveTo({screen.width() - 1, screen.height() - 1}, env_))
            return "the pointer did not move";
        return {};
    }

    QTemporaryDir runtime_;
    QProcessEnvironment env_;
    QString error_;
    std::unique_ptr<e2e::Process> xvfb_;
    std::unique_ptr<e2e::Process> weston_;
};

bool Click(QPoint at, const QProcessEnvironment& env)
{
    if (!MoveTo(at, env))
        return false;
    Run("xdotool", {"mousedown", "1"}, env);
    QTest::qWait(100);
    Run("xdotool", {"mouseup", "1"}, env);
    QTest::qWait(200);
    return true;
}

// The name labels, from the window's top-left corner.
const QRect kTopName(24, 64, 325, 16), kBottomName(24, 128, 325, 16);

// A name label showing `text`, drawn here as the program draws it: the program's font in
// the accent colour over the skin beneath the label.
QImage NameLabel(const QRect& label, const QString& text)
{
    QImage image = skin::background().copy(label).convertToFormat(QImage::Format_RGB32);
    QPainter painter(&image);
    const QFont font = skin::tahoma(13, true);
    painter.setFont(font);
    painter.setPen(skin::kAccentColour);
    painter.drawText(QPoint(0, skin::cellMetricsOf(font).ascent), text);
    return image;
}

qint64 Distance(const QImage& a, const QImage& b)
{
    qint64 sum = 0;
    for (int y = 0; y < a.height(); ++y) {
        for (int x = 0; x < a.width(); ++x) {
            const QRgb p = a.pixel(x, y), q = b.pixel(x, y);
            sum += qAbs(qRed(p) - qRed(q)) + qAbs(qGreen(p) - qGreen(q))
                + qAbs(qBlue(p) - qBlue(q));
        }
    }
    return sum;
}

// Which of `names` the label shows on the window at `at`: the one whose drawing is nearest
// to the screen's pixels.
QString NameShown(const QImage& shot, QPoint at, const QRect& label, const QStringList& names)
{
    const QImage seen = shot.copy(label.translated(at));
    QString nearest;
    qint64 best = -1;
    for (const QString& name : names) {
        const qint64 d = Distance(seen, NameLabel(label, name));
        if (best < 0 || d < best) {
            best = d;
            nearest = name;
        }
    }
    return nearest;
}

bool NearDesktop(QRgb p)
{
    return qAbs(qRed(p) - kDesktop.red()) + qAbs(qGreen(p) - kDesktop.green())
        + qAbs(qBlue(p) - kDesktop.blue())
        < 48;
}

// Where the screen shows something other than the desktop, away from the parked pointer; a
// window's faint shadow does not count.
QRect Shown(const QImage& shot, QSize output, QPoint park)
{
    const QRect pointerRect(park - QPoint(80, 80), QSize(160, 160));
    QRect box;
    for (int y = 0; y < output.height(); ++y) {
        for (int x = 0; x < output.width(); ++x) {
            if (!pointerRect.contains(x, y) && !NearDesktop(shot.pixel(x, y)))
                box |= QRect(x, y, 1, 1);
        }
    }
    return box;
}

// A point on the first item that a select-all marked in `area`: its topmost changed pixel
// and the leftmost of those near it, a little inside.
std::optional<QPoint> FirstMarked(const QImage& before, const QImage& after, const QRect& area)
{
    int top = -1;
    for (int y = area.top(); y <= area.bottom() && top < 0; ++y) {
        for (int x = area.left(); x <= area.right(); ++x) {
            if (before.pixel(x, y) != after.pixel(x, y)) {
                top = y;
                break;
            }
        }
    }
    if (top < 0)
        return std::nullopt;
    int left = area.right();
    for (int y = top; y < top + 40 && y <= area.bottom(); ++y) {
        for (int x = area.left(); x < left; ++x) {
            if (before.pixel(x, y) != after.pixel(x, y)) {
                left = x;
                break;
            }
        }
    }
    return QPoint(left + 10, top + 8);
}

// The file manager that runs on Wayland itself: PCManFM where it is built on GTK 3 (Debian
// 13). Debian 12's PCManFM is GTK 2, an X11 client, and weston carries no drag from an X11
// client of its Xwayland to a Wayland window (seen on weston 10.0.1: the drop did nothing; its
// xwayland/dnd.c never maps its drop target and only logs an XdndDrop); there Thunar (GTK 3)
// drags instead.
QString WaylandFileManager()
{
    const QString pcmanfm = QStandardPaths::findExecutable("pcmanfm");
    if (!pcmanfm.isEmpty()
        && e2e::Run("ldd", {pcmanfm}, QProcessEnvironment::systemEnvironment())
            .out.contains("libgtk-3"))
        return pcmanfm;
    return QStandardPaths::findExecutable("thunar");
}

// A session bus of the test's own, for Nautilus (GNOME's file manager, GTK 4), which runs
// without one only with critical warnings of its own (Nautilus 43 and 48: "assertion
// 'dbus_object_path' failed"). It starts no service: the standard session bus would start
// gvfsd, dconf-service, the accessibility bus and Tracker's indexer on Nautilus's first
// calls, and they outlive the bus (seen on Debian 12). Nautilus is told not to need them.
class SessionBus {
public:
    // Its socket is `socket`, its configuration beside it.
    SessionBus(const QString& socket, const QProcessEnvironment& env)
    {
        const QString config = socket + ".conf";
        QFile file(config);
        if (!file.open(QIODevice::WriteOnly))
            return;
        // The policy of the standard session bus.
        file.write(QStringLiteral("<busconfig><type>session</type>"
                                  "<listen>unix:path=%1</listen><policy context=\"default\">"
                                  "<allow send_destination=\"*\" eavesdrop=\"true\"/>"
                                  "<allow eavesdrop=\"true\"/><allow own=\"*\"/>"
                                  "</policy></busconfig>\n")
                .arg(socket)
                .toUtf8());
        file.close();
        daemon_ = std::make_unique<e2e::Process>("dbus-daemon",
            QStringList {"--config-file=" + config, "--nofork", "--print-address=1"}, env);
        daemon_->process().setReadChannel(QProcess::StandardOutput);
        if (daemon_->process().waitForReadyRead(10000))
            address_ = QString::fromUtf8(daemon_->process().readLine()).trimmed();
    }
    // Empty if the bus did not start.
    const QString& address() const { return address_; }

private:
    std::unique_ptr<e2e::Process> daemon_;
    QString address_;
};

// The environment of Nautilus on `bus`: settings kept in memory instead of dconf-service's
// database, files reached directly instead of through gvfsd, and no accessibility bus.
QProcessEnvironment NautilusEnv(QProcessEnvironment env, const SessionBus& bus)
{
    env.insert("DBUS_SESSION_BUS_ADDRESS", bus.address());
    env.insert("GSETTINGS_BACKEND", "memory");
    env.insert("GIO_USE_VFS", "local");
    env.insert("GIO_USE_VOLUME_MONITOR", "unix");
    env.insert("GTK_A11Y", "none");
    return env;
}

// Lines of the program's log that contain `what`.
int LogLines(const QString& log, const QString& what)
{
    QFile file(log);
    if (!file.open(QIODevice::ReadOnly))
        return 0;
    return QString::fromUtf8(file.readAll()).split('\n').filter(what).size();
}

} // namespace

class TestWayland : public QObject {
    Q_OBJECT
private slots:
    // weston's output scale, and Qt's own scale on top of it: weston 10 and 14 give only
    // whole output scales (neither has the fractional-scale protocol), so 125 % on Wayland
    // is Qt's (QT_SCALE_FACTOR), as a user sets it where the compositor cannot.
    void showsMovesAndSeesThroughCorners_data()
    {
        QTest::addColumn<int>("ratio");
        QTest::addColumn<double>("qtScale");
        QTest::newRow("1x") << 1 << 1.0;
        QTest::newRow("2x") << 2 << 1.0;
        QTest::newRow("1x, Qt at 125 %") << 1 << 1.25;
    }

    void showsMovesAndSeesThroughCorners()
    {
        QFETCH(int, ratio);
        QFETCH(double, qtScale);
        const double scale = ratio * qtScale;
        const auto onScreen = [scale](QPoint design) {
            return QPoint(e2e::ScreenEdge(design.x(), scale), e2e::ScreenEdge(design.y(), scale));
        };
        // weston's output is 700 × 400 in its own units (more with Qt's scale, so that the
        // window keeps room to move), ratio times that on the X screen.
        const QSize units(qRound(700 * qtScale), qRound(400 * qtScale));
        const QSize output = units * ratio;
        Weston weston({1600, 900}, units, ratio);
        QVERIFY2(weston.error().isEmpty(), qPrintable(weston.error()));
        const QProcessEnvironment& env = weston.env();
        const QPoint park = QPoint(units.width() - 1, units.height() - 1) * ratio;
        QProcessEnvironment clientEnv = weston.clientEnv();
        if (qtScale != 1)
            clientEnv.insert("QT_SCALE_FACTOR", QString::number(qtScale));
        e2e::Process program(QStringLiteral(TANDREL_BINARY), {}, clientEnv);
        QVERIFY2(program.process().waitForStarted(5000), "tandrel did not start");

        const QImage background = skin::background();
        const QString folder = QDir(SCREENSHOT_DIR).path();
        const auto shotPath = [&](const char* name) {
            return QDir(folder).filePath(
                QString("wayland-%1-%2.png").arg(qRound(scale * 100)).arg(name));
        };
        std::optional<QPoint> at;
        QImage shot;
        QTRY_VERIFY2_WITH_TIMEOUT((shot = Screenshot(shotPath("shown"), park, env),
                                      at = FindWindow(shot, background, scale)),
            "the window never showed with its skin", 10000);

        // The corners show what lies beneath: neither the colour key nor the window's fill.
        int corners = 0;
        const QSize window(e2e::ScreenEdge(background.width(), scale),
            e2e::ScreenEdge(background.height(), scale));
        for (int y = 0; y < window.height(); ++y) {
            for (int x = 0; x < window.width(); ++x) {
                if (background.pixelColor(e2e::DesignPixel(x, scale), e2e::DesignPixel(y, scale))
                    != skin::kColourKey)
                    continue;
                ++corners;
                const QColor seen(shot.pixel(*at + QPoint(x, y)));
                QVERIFY2(seen != skin::kColourKey && seen != skin::kWindowColour,
                    qPrintable(
                        QString("corner pixel (%1, %2) shows %3").arg(x).arg(y).arg(seen.name())));
            }
        }
        QVERIFY(corners > 0);
        QCOMPARE(Strangers(shot, *at, window, output, park), 0);

        // A press on a see-through corner reaches the desktop, not the window: the window
        // stays where it was, and nothing else has appeared.
        // The moves go towards the output's middle, wherever weston placed the window, so that
        // the window stays whole on the output.
        const QPoint offset(at->x() + window.width() + 60 <= output.width() ? 60 : -60,
            at->y() + window.height() + 40 <= output.height() ? 40 : -40);
        const QPoint corner = *at;
        QVERIFY2(Drag(corner, corner + offset, env), "the pointer did not arrive");
        shot = Screenshot(shotPath("corner-drag"), park, env);
        QCOMPARE(FindWindow(shot, background, scale).value_or(kNowhere), *at);
        QCOMPARE(Strangers(shot, *at, window, output, park), 0);

        // A press on the background moves the window with the pointer, through the compositor.
        const QPoint titleBar = *at + onScreen({100, 10});
        QVERIFY2(Drag(titleBar, titleBar + offset, env), "the pointer did not arrive");
        QTRY_COMPARE_WITH_TIMEOUT((shot = Screenshot(shotPath("moved"), park, env),
                                      FindWindow(shot, background, scale).value_or(kNowhere)),
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
                                      FindWindow(shot, background, scale).value_or(kNowhere)),
            moved + second, 5000);
        QTest::qWait(300);
        shot = Screenshot(shotPath("after-right-button"), park, env);
        QCOMPARE(FindWindow(shot, background, scale).value_or(kNowhere), moved + second);
        QCOMPARE(program.process().state(), QProcess::Running);
    }

    // A real file manager on the same compositor drags files onto the window's background:
    // two files open, the first the file manager lists (by name) in the top slot; three
    // bring up the message and open nothing; a drag that proposes a move (Shift held once it
    // has begun) opens both and leaves both in the folder. Nautilus, GNOME's (GTK 4), drags
    // two files too.
    void fileManagerDrops_data()
    {
        QTest::addColumn<QString>("tag");
        QTest::addColumn<QString>("manager");
        QTest::addColumn<int>("files");
        QTest::addColumn<bool>("shift");
        const QString manager = WaylandFileManager();
        QTest::newRow("two files") << "two" << manager << 2 << false;
        QTest::newRow("three files") << "three" << manager << 3 << false;
        QTest::newRow("two files, a move proposed") << "move" << manager << 2 << true;
        QTest::newRow("two files from Nautilus")
            << "nautilus" << QStandardPaths::findExecutable("nautilus") << 2 << false;
    }

    void fileManagerDrops()
    {
        QFETCH(QString, tag);
        QFETCH(QString, manager);
        QFETCH(int, files);
        QFETCH(bool, shift);
        QVERIFY2(!manager.isEmpty(), "no such file manager: see scripts/install-deps");
        // Room for the file manager and the window side by side wherever weston puts the
        // file manager (weston places a new window at random on its output).
        const QSize output(1920, 1000);
        Weston weston(output + QSize(80, 80), output, 1);
        QVERIFY2(weston.error().isEmpty(), qPrintable(weston.error()));
        const QProcessEnvironment& env = weston.env();
        const QPoint park(output.width() - 1, output.height() - 1);
        const auto shotPath = [&](const QString& name) {
            return QDir(SCREENSHOT_DIR).filePath(QString("wayland-100-%1-%2.png").arg(tag, name));
        };

        const QString folder = weston.path("home/Music");
        QVERIFY(QDir().mkpath(folder));
        const QStringList names
            = QStringList {"first take.wav", "second take.wav", "third take.wav"}.mid(0, files);
        QStringList paths;
        for (int i = 0; i < files; ++i) {
            paths << QDir(folder).filePath(names[i]);
            QVERIFY(e2e::WriteWav(paths.last(), e2e::MusicLike(1, i + 1, 48000), 48000));
        }

        // The file manager first, where weston puts it, until it has drawn itself fully.
        // Nautilus run as root sleeps 7 s after its warning that it should not be, on purpose
        // (src/nautilus-main.c, since Nautilus 46; seen in its system calls on Debian 13).
        QProcessEnvironment managerEnv = weston.clientEnv();
        const bool nautilus = QFileInfo(manager).fileName() == "nautilus";
        std::optional<SessionBus> bus;
        if (nautilus) {
            // Not the runtime folder's "bus", where GLib would find it on its own and take the
            // program under test there too.
            bus.emplace(weston.path("nautilus-bus"), managerEnv);
            QVERIFY2(!bus->address().isEmpty(), "the session bus did not start");
            managerEnv = NautilusEnv(managerEnv, *bus);
        }
        e2e::Process fm(manager, {folder}, managerEnv);
        QImage shot, last;
        QRect area;
        for (int i = 0; i < 100; ++i) {
            shot = Screenshot(shotPath("file-manager"), park, env);
            area = Shown(shot, output, park);
            if (!area.isEmpty() && shot == last)
                break;
            last = shot;
            QTest::qWait(200);
        }
        QVERIFY2(!area.isEmpty() && shot == last, "the file manager did not show");
        // Nautilus 43 starts with the keyboard outside its view, where a select-all marks
        // nothing (seen on Debian 12): a click in the middle of the view, empty there, gives
        // the view the keyboard.
        if (nautilus) {
            QVERIFY(Click(area.center(), env));
            shot = Screenshot(shotPath("file-manager"), park, env);
        }
        // It has the keyboard: a select-all marks both files.
        Run("xdotool", {"key", "ctrl+a"}, env);
        std::optional<QPoint> marked;
        QTRY_VERIFY2_WITH_TIMEOUT(
            (marked = FirstMarked(shot, Screenshot(shotPath("selected"), park, env), area)),
            "select-all marked nothing", 5000);

        QProcessEnvironment programEnv = weston.clientEnv();
        programEnv.insert(
            "QT_LOGGING_RULES", "tandrel.media.engine.debug=true;tandrel.shell.debug=true");
        const QString log = weston.path("tandrel.log");
        e2e::Process program(QStringLiteral(TANDREL_BINARY), {}, programEnv, {}, log);
        QVERIFY2(program.process().waitForStarted(5000), "tandrel did not start");
        const QImage background = skin::background();
        std::optional<QPoint> at;
        QTRY_VERIFY2_WITH_TIMEOUT(
            (shot = Screenshot(shotPath("shown"), park, env), at = FindWindow(shot, background, 1)),
            "the window never showed with its skin", 10000);

        // The window goes to a corner clear of the file manager, by its background.
        const QSize window = background.size();
        QPoint clear = kNowhere;
        for (const QPoint corner :
            {QPoint(10, 10), QPoint(output.width() - window.width() - 10, 10),
                QPoint(10, output.height() - window.height() - 10),
                QPoint(output.width() - window.width() - 10,
                    output.height() - window.height() - 10)}) {
            if (!QRect(corner, window).adjusted(-10, -10, 10, 10).intersects(area)) {
                clear = corner;
                break;
            }
        }
        QVERIFY2(clear != kNowhere, "no room beside the file manager");
        const QPoint titleBar(100, 10);
        QVERIFY2(Drag(*at + titleBar, clear + titleBar, env), "the pointer did not arrive");
        QTRY_COMPARE_WITH_TIMEOUT((shot = Screenshot(shotPath("placed"), park, env),
                                      FindWindow(shot, background, 1).value_or(kNowhere)),
            clear, 5000);

        // The drag, in steps that each let the two programs trade their messages.
        const QPoint from = *marked, to = clear + QPoint(200, 185);
        QVERIFY(MoveTo(from, env));
        Run("xdotool", {"mousedown", "1"}, env);
        QTest::qWait(200);
        for (int i = 1; i <= 4; ++i) {
            QVERIFY(MoveTo(from + (to - from) * i / 4, env));
            // Shift goes down once the drag has begun, as a user's does: held at the press
            // it would change the selection instead.
            if (shift && i == 1)
                Run("xdotool", {"keydown", "shift"}, env);
        }
        QVERIFY(MoveTo(to + QPoint(1, 1), env) && MoveTo(to, env));
        QTest::qWait(300);
        Run("xdotool", {"mouseup", "1"}, env);
        QTest::qWait(100);
        if (shift)
            Run("xdotool", {"keyup", "shift"}, env);

        const QStringList shown = QStringList {"--"} + names;
        if (files == 2) {
            QTRY_COMPARE_WITH_TIMEOUT((shot = Screenshot(shotPath("dropped"), park, env),
                                          NameShown(shot, clear, kTopName, shown)),
                names[0], 10000);
            QCOMPARE(NameShown(shot, clear, kBottomName, shown), names[1]);
            QCOMPARE(LogLines(log, "message box"), 0);
        } else {
            QTRY_COMPARE_WITH_TIMEOUT(
                LogLines(log, "message box: \"Please drop 2 files\""), 1, 10000);
            QTest::qWait(500);
            shot = Screenshot(shotPath("message"), park, env);
            QCOMPARE(LogLines(log, "opened"), 0);
            QCOMPARE(NameShown(shot, clear, kTopName, shown), QString("--"));
            QCOMPARE(NameShown(shot, clear, kBottomName, shown), QString("--"));
            // The box has the keyboard; Return closes it, and the program goes on.
            Run("xdotool", {"key", "Return"}, env);
            QTest::qWait(500);
            QVERIFY(FindWindow(Screenshot(shotPath("message-closed"), park, env), background, 1));
        }
        for (const QString& path : paths)
            QVERIFY2(QFile::exists(path), qPrintable(path + " is gone"));
        QCOMPARE(program.process().state(), QProcess::Running);
    }

    // The about panel's link starts the browser the desktop names, from a Wayland session.
    void aboutLinkOpensTheBrowser()
    {
        const QSize output(700, 400);
        Weston weston(QSize(800, 500), output, 1);
        QVERIFY2(weston.error().isEmpty(), qPrintable(weston.error()));
        const QProcessEnvironment& env = weston.env();
        const QPoint park(output.width() - 1, output.height() - 1);
        const QString browserLog = weston.path("browser.log");
        const QString browser = weston.path("browser");
        QFile script(browser);
        QVERIFY(script.open(QIODevice::WriteOnly));
        script.write("#!/bin/sh\necho \"$1\" >> '" + browserLog.toUtf8() + "'\n");
        script.close();
        script.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        QProcessEnvironment programEnv = weston.clientEnv();
        programEnv.insert("BROWSER", browser);
        e2e::Process program(QStringLiteral(TANDREL_BINARY), {}, programEnv);
        QVERIFY2(program.process().waitForStarted(5000), "tandrel did not start");
        const QImage background = skin::background();
        const QString shotPath = QDir(SCREENSHOT_DIR).filePath("wayland-100-about.png");
        std::optional<QPoint> at;
        QTRY_VERIFY2_WITH_TIMEOUT((at = FindWindow(Screenshot(shotPath, park, env), background, 1)),
            "the window never showed with its skin", 10000);
        QVERIFY(Click(*at + QPoint(8, 11), env)); // the question mark
        QTest::qWait(300);
        QVERIFY(Click(*at + QPoint(222, 166), env)); // the link
        QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(browserLog), 10000);
        QTest::qWait(200);
        QFile opened(browserLog);
        QVERIFY(opened.open(QIODevice::ReadOnly));
        QCOMPARE(
            opened.readAll().trimmed(), "https://" + QByteArray(branding::kWebsiteDomain) + "/en/");
    }
};

QTEST_MAIN(TestWayland)
#include "tst_wayland.moc"
