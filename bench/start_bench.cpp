// SPDX-License-Identifier: MIT
// How long the real program takes from its exec to the first frame of its window on the
// screen, seen from outside on a private X server: the screen is read straight from the X
// server (MIT-SHM, about every millisecond) until the window's pixels are the skin's.
//
//   tandrel_start_bench [--runs 10] [--program PATH] [--period-us 1000]
//
// One untimed run goes first, so that every timed run finds the program, Qt, GStreamer and
// the skin's font in the page cache. Each run also notes when the window was created, when
// the window manager listed it (_NET_CLIENT_LIST) and when it was mapped (MapNotify).
#include "BenchSupport.h"
#include "Desktop.h"
#include "SkinWindow.h"

#include <QCoreApplication>
#include <QFile>
#include <QTextStream>
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/XShm.h>
#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <ctime>
#include <fcntl.h>
#include <optional>
#include <poll.h>
#include <spawn.h>
#include <sys/ipc.h>
#include <sys/shm.h>
#include <sys/wait.h>
#include <vector>

namespace {

QTextStream out(stdout);

constexpr int kWidth = 490;
constexpr int kHeight = 202;
constexpr double kTimeoutMs = 15000;

double NowMs()
{
    timespec t {};
    clock_gettime(CLOCK_MONOTONIC, &t);
    return double(t.tv_sec) * 1e3 + double(t.tv_nsec) / 1e6;
}

struct Times {
    std::optional<double> created; // CreateNotify of the 490 × 202 top-level window
    std::optional<double> listed; // the window manager put it in _NET_CLIENT_LIST
    std::optional<double> mapped; // MapNotify of that window
    std::optional<double> painted; // its pixels on the screen are the skin's
};

// The screen, read from the X server itself: an X connection that follows the windows
// made on the root and a shared-memory image of the window's area.
class ScreenReader {
public:
    explicit ScreenReader(const QByteArray& display)
        : dpy_(XOpenDisplay(display.constData()))
    {
        if (!dpy_)
            return;
        root_ = DefaultRootWindow(dpy_);
        clientList_ = XInternAtom(dpy_, "_NET_CLIENT_LIST", False);
        XSelectInput(dpy_, root_, SubstructureNotifyMask | PropertyChangeMask);
        if (!XShmQueryExtension(dpy_))
            return;
        const int screen = DefaultScreen(dpy_);
        image_ = XShmCreateImage(dpy_, DefaultVisual(dpy_, screen), DefaultDepth(dpy_, screen),
            ZPixmap, nullptr, &shm_, kWidth, kHeight);
        if (!image_)
            return;
        shm_.shmid
            = shmget(IPC_PRIVATE, std::size_t(image_->bytes_per_line) * kHeight, IPC_CREAT | 0600);
        if (shm_.shmid < 0)
            return;
        shm_.shmaddr = image_->data = static_cast<char*>(shmat(shm_.shmid, nullptr, 0));
        shm_.readOnly = False;
        attached_ = XShmAttach(dpy_, &shm_);
        XSync(dpy_, False);
        // Marked for removal now: it goes when both sides have detached, also on a crash.
        shmctl(shm_.shmid, IPC_RMID, nullptr);
    }

    ~ScreenReader()
    {
        if (attached_)
            XShmDetach(dpy_, &shm_);
        if (image_) {
            image_->data = nullptr;
            XDestroyImage(image_);
        }
        if (shm_.shmaddr && shm_.shmaddr != reinterpret_cast<char*>(-1))
            shmdt(shm_.shmaddr);
        if (dpy_)
            XCloseDisplay(dpy_);
    }

    ScreenReader(const ScreenReader&) = delete;
    ScreenReader& operator=(const ScreenReader&) = delete;

    bool ok() const { return dpy_ && attached_ && image_->bits_per_pixel == 32; }

    // Pixels of the area at `at` that differ from `expected` (label areas are skipped:
    // their text depends on font rendering). -1 if the screen could not be read.
    int differences(QPoint at, const QImage& expected)
    {
        if (!XShmGetImage(dpy_, root_, image_, at.x(), at.y(), AllPlanes))
            return -1;
        int wrong = 0;
        for (int y = 0; y < kHeight; ++y) {
            const auto* row = reinterpret_cast<const quint32*>(
                image_->data + std::size_t(y) * std::size_t(image_->bytes_per_line));
            const auto* want = reinterpret_cast<const QRgb*>(expected.constScanLine(y));
            for (int x = 0; x < kWidth; ++x) {
                if ((row[x] & 0xffffff) != (want[x] & 0xffffff) && !e2e::InLabel({x, y}))
                    ++wrong;
            }
        }
        return wrong;
    }

    // Forgets the events of earlier runs.
    void discardEvents()
    {
        XSync(dpy_, False);
        while (XPending(dpy_)) {
            XEvent event;
            XNextEvent(dpy_, &event);
        }
        window_ = 0;
    }

    // Takes the X events that have come in and notes the times they tell of.
    void takeEvents(Times& times)
    {
        while (XPending(dpy_)) {
            XEvent event;
            XNextEvent(dpy_, &event);
            const double now = NowMs();
            if (event.type == CreateNotify && event.xcreatewindow.parent == root_
                && event.xcreatewindow.width == kWidth && event.xcreatewindow.height == kHeight
                && !window_) {
                window_ = event.xcreatewindow.window;
                times.created = now;
                XSelectInput(dpy_, window_, StructureNotifyMask);
                // Mapped before the selection took effect: seen now, a late upper bound.
                XWindowAttributes attributes;
                if (XGetWindowAttributes(dpy_, window_, &attributes)
                    && attributes.map_state == IsViewable)
                    times.mapped = NowMs();
            } else if (event.type == MapNotify && window_ && event.xmap.window == window_
                && !times.mapped) {
                times.mapped = now;
            } else if (event.type == PropertyNotify && event.xproperty.atom == clientList_
                && window_ && !times.listed && listed()) {
                times.listed = now;
            }
        }
    }

    // Where the window's top-left corner is on the screen.
    std::optional<QPoint> windowPosition()
    {
        int x = 0, y = 0;
        Window child = 0;
        if (!window_ || !XTranslateCoordinates(dpy_, window_, root_, 0, 0, &x, &y, &child))
            return std::nullopt;
        return QPoint(x, y);
    }

    int fd() const { return ConnectionNumber(dpy_); }

private:
    bool listed()
    {
        Atom type = 0;
        int format = 0;
        unsigned long count = 0, after = 0;
        unsigned char* data = nullptr;
        if (XGetWindowProperty(dpy_, root_, clientList_, 0, 1024, False, XA_WINDOW, &type, &format,
                &count, &after, &data)
                != Success
            || !data)
            return false;
        const auto* windows = reinterpret_cast<const unsigned long*>(data);
        const bool found = std::find(windows, windows + count, window_) != windows + count;
        XFree(data);
        return found;
    }

    Display* dpy_ = nullptr;
    Window root_ = 0;
    Window window_ = 0;
    Atom clientList_ = 0;
    XShmSegmentInfo shm_ {};
    XImage* image_ = nullptr;
    bool attached_ = false;
};

// The environment as execve wants it; the strings live as long as the object.
class Environment {
public:
    explicit Environment(const QProcessEnvironment& env)
    {
        for (const QString& entry : env.toStringList())
            strings_.push_back(entry.toLocal8Bit());
        for (QByteArray& s : strings_)
            pointers_.push_back(s.data());
        pointers_.push_back(nullptr);
    }
    char** get() { return pointers_.data(); }

private:
    std::vector<QByteArray> strings_;
    std::vector<char*> pointers_;
};

// The window's area shows only the screen behind it (the program of the run before is gone).
bool WaitForEmptyScreen(ScreenReader& screen, const QImage& empty)
{
    const double until = NowMs() + 5000;
    while (NowMs() < until) {
        if (screen.differences({0, 0}, empty) == 0)
            return true;
        poll(nullptr, 0, 10);
    }
    return false;
}

void Stop(pid_t pid)
{
    kill(pid, SIGTERM);
    for (int i = 0; i < 300; ++i) {
        if (waitpid(pid, nullptr, WNOHANG) == pid)
            return;
        poll(nullptr, 0, 10);
    }
    kill(pid, SIGKILL);
    waitpid(pid, nullptr, 0);
}

// One start of the program: the times from just before its spawn, or an error.
std::optional<Times> StartOnce(ScreenReader& screen, const QImage& expected,
    const QByteArray& program, Environment& env, int periodUs, QString& error)
{
    screen.discardEvents();
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    char* argv[] = {const_cast<char*>(program.constData()), nullptr};
    pid_t pid = 0;
    const double start = NowMs();
    const int spawned = posix_spawn(&pid, program.constData(), &actions, nullptr, argv, env.get());
    posix_spawn_file_actions_destroy(&actions);
    if (spawned != 0) {
        error
            = QStringLiteral("could not start %1: %2")
                  .arg(QString::fromLocal8Bit(program), QString::fromLocal8Bit(strerror(spawned)));
        return std::nullopt;
    }
    Times times;
    std::optional<QPoint> at;
    int lastWrong = -1;
    while (!times.painted) {
        if (NowMs() - start > kTimeoutMs) {
            error = QStringLiteral("no skin on the screen after %1 s (%2 pixels still differ)")
                        .arg(kTimeoutMs / 1000)
                        .arg(lastWrong);
            break;
        }
        if (waitpid(pid, nullptr, WNOHANG) == pid) {
            error = QStringLiteral("the program ended before its window showed");
            return std::nullopt;
        }
        pollfd fd {screen.fd(), POLLIN, 0};
        // Wakes for X events at once; otherwise looks at the screen every period.
        const timespec period {0, long(periodUs) * 1000};
        ppoll(&fd, 1, &period, nullptr);
        screen.takeEvents(times);
        if (!times.mapped)
            continue;
        if (!at)
            at = screen.windowPosition();
        if (at) {
            lastWrong = screen.differences(*at, expected);
            if (lastWrong == 0)
                times.painted = NowMs();
        }
    }
    Stop(pid);
    if (!times.painted)
        return std::nullopt;
    for (std::optional<double>* t :
        {&times.created, &times.listed, &times.mapped, &times.painted}) {
        if (*t)
            **t -= start;
    }
    return times;
}

struct Summary {
    double median = 0, min = 0, max = 0;
    int count = 0;
};

Summary Summarise(std::vector<double> values)
{
    Summary s;
    if (values.empty())
        return s;
    std::sort(values.begin(), values.end());
    const std::size_t n = values.size();
    s.median = n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
    s.min = values.front();
    s.max = values.back();
    s.count = int(n);
    return s;
}

QString Ms(const std::optional<double>& t)
{
    return t ? QString::number(*t, 'f', 1) : QStringLiteral("-");
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    const auto option = [&](const char* name, const QString& fallback) {
        return benchOption(args, name, fallback);
    };
    const int runs = option("--runs", "10").toInt();
    const QByteArray program = QFile::encodeName(option("--program", TANDREL_BINARY));
    const int periodUs = option("--period-us", "1000").toInt();
    if (runs < 1 || periodUs < 100) {
        std::fprintf(stderr,
            "usage: tandrel_start_bench [--runs N] [--program PATH] "
            "[--period-us N (>= 100)]\n");
        return 2;
    }

    e2e::Desktop desktop;
    if (!desktop.error().isEmpty()) {
        std::fprintf(stderr, "start bench: %s\n", qPrintable(desktop.error()));
        return 2;
    }
    ScreenReader screen(desktop.env().value("DISPLAY").toLocal8Bit());
    if (!screen.ok()) {
        std::fprintf(stderr, "start bench: cannot read the X server's screen through MIT-SHM\n");
        return 2;
    }
    Environment env(desktop.env());
    const QImage expected = e2e::ExpectedWindow(qRgb(0, 0, 0));
    const QImage empty = [] {
        QImage black(kWidth, kHeight, QImage::Format_RGB32);
        black.fill(qRgb(0, 0, 0));
        return black;
    }();

    out << "program " << QString::fromLocal8Bit(program) << ", screen polled every " << periodUs
        << " us, load average at the start " << loadAverage() << "\n";
    std::vector<double> created, listed, mapped, painted;
    int failures = 0;
    for (int run = 0; run <= runs; ++run) {
        if (!WaitForEmptyScreen(screen, empty)) {
            std::fprintf(stderr, "start bench: the screen did not clear between runs\n");
            return 1;
        }
        QString error;
        const std::optional<Times> times
            = StartOnce(screen, expected, program, env, periodUs, error);
        const QString name
            = run == 0 ? QStringLiteral("warm-up") : QStringLiteral("run %1").arg(run);
        if (!times) {
            out << name << ": FAILED, " << error << "\n";
            out.flush();
            ++failures;
            continue;
        }
        out << name << ": created " << Ms(times->created) << " ms, listed " << Ms(times->listed)
            << " ms, mapped " << Ms(times->mapped) << " ms, first frame " << Ms(times->painted)
            << " ms\n";
        out.flush();
        if (run == 0)
            continue;
        for (auto [t, into] : {std::pair {times->created, &created}, {times->listed, &listed},
                 {times->mapped, &mapped}, {times->painted, &painted}}) {
            if (t)
                into->push_back(*t);
        }
    }
    out << "load average at the end " << loadAverage() << "\n";
    out << "from exec, ms        median     min     max   runs\n";
    for (auto [name, values] : {std::pair {"window created", &created},
             {"listed by the WM", &listed}, {"mapped", &mapped}, {"first frame", &painted}}) {
        const Summary s = Summarise(*values);
        out << QString("%1 %2 %3 %4 %5\n")
                   .arg(QString::fromLatin1(name), -17)
                   .arg(s.median, 9, 'f', 1)
                   .arg(s.min, 7, 'f', 1)
                   .arg(s.max, 7, 'f', 1)
                   .arg(s.count, 6);
    }
    return failures == 0 ? 0 : 1;
}
