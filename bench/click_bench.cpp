// SPDX-License-Identifier: MIT
// Click to sound: how long after a click on the real program's window the first sample of
// music reaches the sound server, for the first play after an open, a resume and a bar click
// while playing; and, in the same run on the same null sink, how long gst-play-1.0 takes
// from its start to its first sample of the same file, and how long Debian's mpv, started
// paused with an IPC socket, takes from `set pause no` to its first sample.
//   tandrel_click_bench [--rounds N] [--load N] [--monitor-ms N]
//                                  (default 10 rounds, no load, a 1 ms monitor)
//
// --load N keeps N processes spinning on the CPU for the whole run, as a busy machine does
// (one per core keeps every core busy); they get the same scheduling as everything else.
// --monitor-ms N is the latency parec asks of the monitor. On PipeWire a recording that asks
// for 1 ms makes the whole graph run in blocks of 256 frames; 11 ms lets it run in 512.
//
// The clicks are sent in this process through the XTEST extension; a button acts on the
// release and the bar on the press, each timed once the X server has confirmed it (XSync).
// The null sink's monitor is read through parec on a pipe; every chunk is stamped on
// arrival, and the moment sample n was rendered is taken as the earliest
// `arrival - n / rate` seen over the whole run (the sink renders in real time on the same
// monotonic clock), so a slow read never delays it.
// CLICK_BENCH_TRACE=file prints each click and sound and saves the recording (raw s16le).
#include "BenchSupport.h"
#include "Desktop.h"
#include "Signal.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QStandardPaths>
#include <QThread>
#include <X11/Xlib.h>
#include <X11/extensions/XTest.h>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <mutex>
#include <random>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace {

using Clock = std::chrono::steady_clock;
constexpr int kRate = e2e::Desktop::kRate;
// How long after a click the chunks that time it come in (see LiveRecorder::sampleAt).
constexpr double kOriginWindow = 0.3;
// The file mpv seeks in: this many seconds of exact zeros, then as long of music.
constexpr double kGapSeconds = 30;

double SecondsOf(Clock::time_point t)
{
    return std::chrono::duration<double>(t.time_since_epoch()).count();
}

// Starts `argv` with `env`; its standard output comes back through `out` if asked for.
pid_t Spawn(const QStringList& argv, const QProcessEnvironment& env, int* out = nullptr)
{
    int pipeFds[2] = {-1, -1};
    if (out && ::pipe(pipeFds) != 0)
        return -1;
    std::vector<QByteArray> args, vars;
    for (const QString& a : argv)
        args.push_back(a.toLocal8Bit());
    for (const QString& v : env.toStringList())
        vars.push_back(v.toLocal8Bit());
    std::vector<char*> argp, envp;
    for (auto& a : args)
        argp.push_back(a.data());
    for (auto& v : vars)
        envp.push_back(v.data());
    argp.push_back(nullptr);
    envp.push_back(nullptr);
    const pid_t pid = ::fork();
    if (pid == 0) {
        prctl(PR_SET_PDEATHSIG, SIGTERM);
        if (out) {
            ::dup2(pipeFds[1], 1);
            ::close(pipeFds[0]);
            ::close(pipeFds[1]);
        } else {
            const int null = ::open("/dev/null", O_WRONLY);
            ::dup2(null, 1);
        }
        ::execvpe(argp[0], argp.data(), envp.data());
        ::_exit(127);
    }
    if (out) {
        ::close(pipeFds[1]);
        *out = pipeFds[0];
    }
    return pid;
}

void Stop(pid_t pid)
{
    if (pid <= 0)
        return;
    ::kill(pid, SIGTERM);
    ::waitpid(pid, nullptr, 0);
}

// The null sink's monitor, read as it arrives.
class LiveRecorder {
public:
    LiveRecorder(const QString& monitor, const QProcessEnvironment& env, int latencyMs)
    {
        pid_ = Spawn({"parec", "--device=" + monitor, "--raw", "--format=s16le",
                         QStringLiteral("--rate=%1").arg(kRate), "--channels=1",
                         QStringLiteral("--latency-msec=%1").arg(latencyMs)},
            env, &fd_);
        reader_ = std::thread([this] { read(); });
    }
    ~LiveRecorder()
    {
        Stop(pid_);
        reader_.join();
        ::close(fd_);
    }

    // Where in the recording the sink was at `t`: the sink renders on the same clock, so
    // sample n was rendered at `arrival - n / rate` of its chunk or before, and the chunk that
    // came soonest gives the closest bound. Only the chunks that came in a short window after
    // `t` are asked, so that one odd stretch of the recording cannot move every figure after
    // it: with the bound taken over the whole run, 26 of mpv's 30 sounds in one PipeWire run
    // stood before their stamps, and none in the next run with the window.
    double sampleAt(Clock::time_point t) const
    {
        std::lock_guard lock(mutex_);
        const double at = SecondsOf(t);
        double origin = 1e300;
        auto chunk = std::lower_bound(chunks_.begin(), chunks_.end(), std::pair {at, -1e300});
        for (; chunk != chunks_.end() && chunk->first <= at + kOriginWindow; ++chunk)
            origin = std::min(origin, chunk->second);
        return (at - origin) * kRate;
    }
    double msAfter(Clock::time_point t, std::int64_t sample) const
    {
        return (double(sample) - sampleAt(t)) * 1000.0 / kRate;
    }
    std::int64_t size() const
    {
        std::lock_guard lock(mutex_);
        return std::int64_t(samples_.size());
    }
    void save(const QString& path) const
    {
        std::lock_guard lock(mutex_);
        QFile file(path);
        if (file.open(QIODevice::WriteOnly))
            file.write(reinterpret_cast<const char*>(samples_.data()), qint64(samples_.size() * 2));
    }
    std::int16_t at(std::int64_t i) const
    {
        std::lock_guard lock(mutex_);
        return samples_[std::size_t(i)];
    }
    // Waits until the chunks that time `t` have come (see sampleAt).
    bool timed(Clock::time_point t, int timeoutMs = 5000) const
    {
        const double until = SecondsOf(t) + kOriginWindow;
        for (int waited = 0;; waited += 5) {
            {
                std::lock_guard lock(mutex_);
                if (!chunks_.empty() && chunks_.back().first > until)
                    return true;
            }
            if (waited > timeoutMs)
                return false;
            QThread::msleep(5);
        }
    }
    // Waits until the recording reaches sample `n`.
    bool reach(std::int64_t n, int timeoutMs = 5000) const
    {
        for (int waited = 0; size() < n; waited += 5) {
            if (waited > timeoutMs)
                return false;
            QThread::msleep(5);
        }
        return true;
    }

private:
    void read()
    {
        std::vector<char> buffer(4096);
        std::size_t odd = 0;
        for (;;) {
            const ssize_t got = ::read(fd_, buffer.data() + odd, buffer.size() - odd);
            if (got <= 0)
                return;
            const auto now = SecondsOf(Clock::now());
            const std::size_t bytes = odd + std::size_t(got);
            std::lock_guard lock(mutex_);
            for (std::size_t i = 0; i + 1 < bytes; i += 2)
                samples_.push_back(std::int16_t(std::uint8_t(buffer[i]) | (buffer[i + 1] << 8)));
            odd = bytes % 2;
            if (odd)
                buffer[0] = buffer[bytes - 1];
            chunks_.emplace_back(now, now - double(samples_.size()) / kRate);
        }
    }

    pid_t pid_ = -1;
    int fd_ = -1;
    std::thread reader_;
    mutable std::mutex mutex_;
    std::vector<std::int16_t> samples_;
    // Each chunk's arrival, and when sample 0 was rendered were the chunk's last sample
    // rendered as it came.
    std::vector<std::pair<double, double>> chunks_;
};

struct ClickTimes {
    Clock::time_point press, release;
};

// Clicks through XTEST; returns the moments the X server had the press and the release.
class Mouse {
public:
    explicit Mouse(const QString& display)
        : dpy_(XOpenDisplay(display.toLocal8Bit().constData()))
    {
    }
    ~Mouse()
    {
        if (dpy_)
            XCloseDisplay(dpy_);
    }
    bool ok() const { return dpy_ != nullptr; }
    ClickTimes click(QPoint at)
    {
        XTestFakeMotionEvent(dpy_, -1, at.x(), at.y(), 0);
        XSync(dpy_, False);
        QThread::msleep(40);
        ClickTimes times;
        XTestFakeButtonEvent(dpy_, 1, True, 0);
        XSync(dpy_, False);
        times.press = Clock::now();
        QThread::msleep(60);
        XTestFakeButtonEvent(dpy_, 1, False, 0);
        XSync(dpy_, False);
        times.release = Clock::now();
        return times;
    }

private:
    Display* dpy_;
};

// The first sound at or after `from`: the null sink gives exact zeros when nothing plays.
std::int64_t FirstSound(const LiveRecorder& rec, std::int64_t from, std::int64_t until)
{
    for (std::int64_t i = std::max<std::int64_t>(from, 0); i < until; ++i) {
        if (rec.at(i) != 0)
            return i;
    }
    return -1;
}

// After a bar click while playing: where the sound from the new place begins. The old sound
// ramps down and the new one ramps up, with silence between them or none: the new sound
// begins where the first stretch of at least 8 near-silent samples (below 2e-3, the feet of
// the two ramps where they meet) after `from` ends. Where they meet with no silence, the
// feet of two 3 ms ramps on the loudest chord give 10 such samples; the music's noise floor
// keeps such a stretch from turning up anywhere else.
std::int64_t SoundAfterGap(const LiveRecorder& rec, std::int64_t from, std::int64_t until)
{
    constexpr int kQuiet = 66; // 2e-3 of full scale, in the recording's 16-bit samples
    std::int64_t quiet = 0;
    for (std::int64_t i = std::max<std::int64_t>(from, 0); i < until; ++i) {
        if (std::abs(int(rec.at(i))) < kQuiet) {
            ++quiet;
        } else if (quiet >= 8) {
            return i;
        } else {
            quiet = 0;
        }
    }
    return -1;
}

// Delay()'s answer for a sound that began before the click's stamp (see there).
constexpr double kBeforeStamp = -2;

struct Series {
    explicit Series(const char* title)
        : name(title)
    {
    }
    const char* name;
    std::vector<double> ms;
    int missed = 0;
    int early = 0; // sounded before the click's stamp: counted as 0 ms
    void add(double value)
    {
        if (value == kBeforeStamp) {
            ++early;
            ms.push_back(0.0);
        } else if (value < 0) {
            ++missed;
        } else {
            ms.push_back(value);
        }
    }
    void print() const
    {
        std::vector<double> v = ms;
        std::sort(v.begin(), v.end());
        if (v.empty()) {
            std::printf("%-34s no sound found (%d tries)\n", name, missed);
            return;
        }
        const std::size_t p95 = std::min(v.size() - 1, (v.size() * 95 + 99) / 100 - 1);
        std::printf("%-34s median %6.1f ms  p95 %6.1f  min %6.1f  max %6.1f  (n=%zu, no sound "
                    "%d, before the stamp %d)\n",
            name, v[v.size() / 2], v[p95], v.front(), v.back(), v.size(), missed, early);
    }
};

// The delay from `t` to the first sound after it, or -1 if none came within `windowMs`.
double Delay(LiveRecorder& rec, Clock::time_point t, bool afterGap, int windowMs = 1500)
{
    if (!rec.timed(t))
        return -1;
    const auto from = std::int64_t(rec.sampleAt(t));
    const std::int64_t until = from + std::int64_t(windowMs) * kRate / 1000;
    if (!rec.reach(until))
        return -1;
    std::int64_t sound = afterGap ? SoundAfterGap(rec, from, until) : FirstSound(rec, from, until);
    // A resume can sound within the millisecond the click's time maps to: the sound then
    // stands on the click's own sample. That is a start at once only if the 10 ms before it
    // were silent; sound running on through them means the pause never silenced it.
    if (!afterGap && sound == from && FirstSound(rec, from - kRate / 100, from) >= 0) {
        // Under load this process may be scheduled late between the X server taking the
        // click and reading the clock, so a prompt sound can stand before the click's stamp.
        // It did if the output was silent shortly before: the sound then began within the
        // 50 ms before the stamp, after a silence of at least 2 ms.
        std::int64_t zeros = 0;
        for (std::int64_t i = from; i > from - kRate / 20 && i > 0; --i) {
            zeros = rec.at(i - 1) == 0 ? zeros + 1 : 0;
            if (zeros >= kRate / 500)
                return kBeforeStamp;
        }
        sound = -1;
    }
    if (std::getenv("CLICK_BENCH_TRACE"))
        std::fprintf(stderr, "trace: click at %.6f sample %lld, sound at %lld = %.6f\n",
            SecondsOf(t), (long long)from, (long long)sound,
            SecondsOf(t) + rec.msAfter(t, sound) / 1000);
    // The click's time falls inside its sample: a sound on that very sample is 0 ms late.
    return sound < 0 ? -1 : std::max(0.0, rec.msAfter(t, sound));
}

// N children that spin until this process ends, as other programs keeping the cores busy.
std::vector<pid_t> StartLoad(int n)
{
    std::vector<pid_t> spinners;
    for (int i = 0; i < n; ++i) {
        const pid_t pid = ::fork();
        if (pid == 0) {
            ::prctl(PR_SET_PDEATHSIG, SIGKILL);
            volatile unsigned long spin = 0;
            for (;;)
                spin = spin + 1;
        }
        if (pid > 0)
            spinners.push_back(pid);
    }
    return spinners;
}

// mpv, paused on a file, driven through its JSON IPC socket as a remote control does.
class Mpv {
public:
    Mpv(const QString& file, const QString& socketPath, const QProcessEnvironment& env)
        : socketPath_(socketPath)
    {
        QFile::remove(socketPath);
        QStringList argv {"mpv", "--no-config", "--really-quiet", "--pause", "--no-video",
            "--ao=pulse", "--input-ipc-server=" + socketPath, file};
        if (std::getenv("CLICK_BENCH_TRACE"))
            argv << QStringLiteral("--log-file=%1.%2.log").arg(socketPath).arg(++launches);
        pid_ = Spawn(argv, env);
    }
    ~Mpv()
    {
        if (fd_ >= 0)
            ::close(fd_);
        Stop(pid_);
    }
    // Waits until mpv answers on its socket with the file loaded; false if it never does.
    bool ready(int timeoutMs = 10000)
    {
        for (int waited = 0; waited < timeoutMs; waited += 20) {
            if (fd_ < 0)
                fd_ = connectTo(socketPath_);
            if (fd_ >= 0
                && ask("{\"command\":[\"get_property\",\"duration\"]}\n")
                    .contains("\"error\":\"success\""))
                return true;
            QThread::msleep(20);
        }
        return false;
    }
    // Sends `set pause no` and returns the moment it was written.
    Clock::time_point unpause() { return send("{\"command\":[\"set\",\"pause\",\"no\"]}\n"); }
    // Sends an exact seek to `seconds` and returns the moment it was written.
    Clock::time_point seek(double seconds)
    {
        return send(QStringLiteral("{\"command\":[\"seek\",%1,\"absolute+exact\"]}\n")
                .arg(seconds, 0, 'f', 3)
                .toUtf8());
    }

private:
    Clock::time_point send(const QByteArray& command)
    {
        const auto t = Clock::now();
        if (::write(fd_, command.constData(), std::size_t(command.size())) < 0)
            std::fprintf(stderr, "click bench: mpv's socket refused the command\n");
        return t;
    }
    static int connectTo(const QString& path)
    {
        const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
        sockaddr_un address {};
        address.sun_family = AF_UNIX;
        const QByteArray name = QFile::encodeName(path);
        std::snprintf(address.sun_path, sizeof address.sun_path, "%s", name.constData());
        if (fd >= 0 && ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0)
            return fd;
        if (fd >= 0)
            ::close(fd);
        return -1;
    }
    QByteArray ask(const char* request)
    {
        if (::write(fd_, request, std::strlen(request)) < 0)
            return {};
        QByteArray reply;
        char buffer[1024];
        for (int waited = 0; waited < 1000 && !reply.contains("request_id"); waited += 10) {
            const ssize_t got = ::recv(fd_, buffer, sizeof buffer, MSG_DONTWAIT);
            if (got > 0)
                reply.append(buffer, int(got));
            else
                QThread::msleep(10);
        }
        return reply;
    }

    static inline int launches = 0;
    QString socketPath_;
    pid_t pid_ = -1;
    int fd_ = -1;
};

bool HaveProgram(const char* name)
{
    return !QStandardPaths::findExecutable(QLatin1String(name)).isEmpty();
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    const int rounds = benchOption(args, "--rounds", "10").toInt();
    const int load = benchOption(args, "--load", "0").toInt();
    const int monitorMs = benchOption(args, "--monitor-ms", "1").toInt();
    if (rounds < 1 || load < 0 || monitorMs < 1) {
        std::fprintf(
            stderr, "usage: tandrel_click_bench [--rounds N] [--load N] [--monitor-ms N]\n");
        return 2;
    }

    e2e::Desktop desktop;
    if (!desktop.error().isEmpty()) {
        std::fprintf(stderr, "click bench: %s\n", qPrintable(desktop.error()));
        return 2;
    }
    QDir(desktop.home()).mkpath("Music");
    const QString top = desktop.home() + "/Music/top.wav";
    const QString bottom = desktop.home() + "/Music/bottom.wav";
    const QString gap = desktop.home() + "/Music/gap.wav";
    std::vector<float> gapSamples(std::size_t(kGapSeconds * kRate), 0.0f);
    const std::vector<float> music = e2e::MusicLike(kGapSeconds, 3, kRate);
    gapSamples.insert(gapSamples.end(), music.begin(), music.end());
    if (!e2e::WriteWav(gap, gapSamples, kRate)
        || !e2e::WriteWav(top, e2e::MusicLike(60, 1, kRate), kRate)
        || !e2e::WriteWav(bottom, e2e::MusicLike(60, 2, kRate), kRate)) {
        std::fprintf(stderr, "click bench: could not write the test files\n");
        return 2;
    }
    LiveRecorder rec("tandrel_e2e.monitor", desktop.env(), monitorMs);
    Mouse mouse(desktop.env().value("DISPLAY"));
    if (!mouse.ok() || !rec.reach(kRate / 2)) {
        std::fprintf(stderr, "click bench: no X display or no recording\n");
        return 2;
    }

    Series first("tandrel: first play after an open"), resume("tandrel: resume after a pause"),
        bar("tandrel: bar click while playing"), peer("gst-play-1.0: start to sound"),
        mpvPeer("mpv: set pause no to sound"), mpvSeek("mpv: seek while playing to sound");
    const std::vector<pid_t> spinners = StartLoad(load);

    auto program = desktop.start(TANDREL_BINARY, {});
    if (desktop.waitForWindow("tandrel").isEmpty()) {
        std::fprintf(stderr, "click bench: the window never showed\n");
        return 2;
    }
    QThread::msleep(500);
    const QPoint topPlay(370, 75), topPause(406, 75);
    std::mt19937 random(11);
    std::uniform_int_distribution<int> column(60, 380);
    for (int round = 0; round < rounds; ++round) {
        // Each drop opens both files afresh, so the next play is a first play.
        const QString dropped = desktop.dropFiles(DRAG_SOURCE, {top, bottom}, {200, 185});
        if (!dropped.isEmpty()) {
            std::fprintf(stderr, "click bench: %s\n", qPrintable(dropped));
            return 2;
        }
        QThread::msleep(1000);
        first.add(Delay(rec, mouse.click(topPlay).release, false));
        QThread::msleep(300);
        mouse.click(topPause);
        QThread::msleep(700);
        resume.add(Delay(rec, mouse.click(topPlay).release, false));
        QThread::msleep(300);
        // The bar acts on the press, the buttons on the release.
        bar.add(Delay(rec, mouse.click({column(random), 105}).press, true));
        QThread::msleep(500);
        mouse.click(topPause);
        QThread::msleep(500);
    }
    program.reset();
    QThread::msleep(500);

    for (int round = 0; round < rounds; ++round) {
        const auto started = Clock::now();
        const pid_t pid = Spawn({"gst-play-1.0", "--no-interactive", "-q", top}, desktop.env());
        peer.add(Delay(rec, started, false, 3000));
        Stop(pid);
        QThread::msleep(500);
    }

    if (HaveProgram("mpv")) {
        for (int round = 0; round < rounds; ++round) {
            Mpv mpv(top, QDir::tempPath() + "/tandrel-click-mpv.socket", desktop.env());
            if (!mpv.ready()) {
                mpvPeer.add(-1);
                continue;
            }
            // As long as a slot sits opened before its first play.
            QThread::msleep(1000);
            mpvPeer.add(Delay(rec, mpv.unpause(), false, 3000));
            QThread::msleep(300);
        }
        // A seek while playing, as a bar click: mpv plays the silent half of a file and
        // seeks into the sounding half, so that the new place's first sound is the first
        // sample that is not zero.
        for (int round = 0; round < rounds; ++round) {
            Mpv mpv(gap, QDir::tempPath() + "/tandrel-click-mpv.socket", desktop.env());
            if (!mpv.ready()) {
                mpvSeek.add(-1);
                continue;
            }
            mpv.unpause();
            QThread::msleep(500);
            mpvSeek.add(Delay(rec, mpv.seek(kGapSeconds + 1 + column(random) / 20.0), false, 3000));
            QThread::msleep(300);
        }
    }
    for (const pid_t pid : spinners)
        ::kill(pid, SIGKILL);
    for (const pid_t pid : spinners)
        ::waitpid(pid, nullptr, 0);

    std::printf("click to sound, %d rounds, %d spinning processes, a %d ms monitor:\n", rounds,
        load, monitorMs);
    if (const char* trace = std::getenv("CLICK_BENCH_TRACE"))
        rec.save(QString::fromLocal8Bit(trace));
    first.print();
    resume.print();
    bar.print();
    peer.print();
    if (HaveProgram("mpv")) {
        mpvPeer.print();
        mpvSeek.print();
    } else
        std::printf("mpv: not installed (apt-get install mpv), not measured\n");
    return 0;
}
