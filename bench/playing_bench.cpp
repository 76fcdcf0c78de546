// SPDX-License-Identifier: MIT
// What the real program costs while it plays: two ten-minute files dropped on its window on a
// private desktop, both slots playing into the PulseAudio null sink and the tick running,
// then its CPU time (utime + stime from /proc) over a window of wall time and its peak
// resident memory (VmHWM). In the same run, gst-play-1.0 plays each of the two files into
// the same sink as GStreamer's own player, measured the same way, and the sound server's
// CPU is reported on its own (it serves all of them and is counted in none).
//
//   tandrel_playing_bench [--seconds 60] [--idle-seconds 20] [--dir /tmp/tandrel-bench]
//                         [--program PATH] [--bottom long-cbr.mp3]
//
// Before anything plays, the program's CPU is taken over --idle-seconds with both files
// open, with the streams it holds on the sound server and the sinks' states then.
//
// The top slot plays long.flac, the bottom one long-cbr.mp3 (or --bottom, a file in --dir).
#include "BenchSupport.h"
#include "Desktop.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>
#include <QTextStream>
#include <QThread>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <unistd.h>

namespace {

QTextStream out(stdout);

void Wait(int ms)
{
    QThread::msleep(ms);
}

// utime + stime in clock ticks from a /proc stat file, and the thread's or process's name.
struct CpuTicks {
    bool ok = false;
    long long ticks = 0;
    QString name;
};

CpuTicks ReadStat(const QString& path)
{
    QFile file(path);
    CpuTicks result;
    if (!file.open(QIODevice::ReadOnly))
        return result;
    const QByteArray line = file.readAll();
    // "pid (comm) state ppid ..."; the name may hold spaces and parentheses.
    const qsizetype open = line.indexOf('('), close = line.lastIndexOf(')');
    if (open < 0 || close < open)
        return result;
    result.name = QString::fromUtf8(line.mid(open + 1, close - open - 1));
    const QList<QByteArray> fields = line.mid(close + 2).split(' ');
    // After the name: state is field 3 of stat(5), utime 14 and stime 15.
    if (fields.size() < 13)
        return result;
    result.ticks = fields[11].toLongLong() + fields[12].toLongLong();
    result.ok = true;
    return result;
}

long long ParentOf(qint64 pid)
{
    QFile file(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!file.open(QIODevice::ReadOnly))
        return -1;
    const QByteArray line = file.readAll();
    return line.mid(line.lastIndexOf(')') + 2).split(' ').value(1).toLongLong();
}

// The kB figures of /proc/PID/status that say how much memory a process holds.
std::map<QString, long> MemoryKiB(qint64 pid)
{
    std::map<QString, long> result;
    QFile status(QStringLiteral("/proc/%1/status").arg(pid));
    if (!status.open(QIODevice::ReadOnly))
        return result;
    for (const QByteArray& line : status.readAll().split('\n')) {
        for (const char* key : {"VmHWM", "VmRSS", "RssAnon", "RssFile", "RssShmem"}) {
            if (line.startsWith(QByteArray(key) + ':'))
                result[key]
                    = line.mid(qsizetype(qstrlen(key)) + 1).trimmed().split(' ')[0].toLong();
        }
    }
    return result;
}

// Resident memory by what it maps (a library's file, or the heap and other anonymous
// memory), in KiB, largest first.
std::vector<std::pair<long, QString>> ResidentByMapping(qint64 pid)
{
    std::map<QString, long> byName;
    QFile smaps(QStringLiteral("/proc/%1/smaps").arg(pid));
    if (!smaps.open(QIODevice::ReadOnly))
        return {};
    QString current;
    for (const QByteArray& line : smaps.readAll().split('\n')) {
        const QList<QByteArray> fields = line.simplified().split(' ');
        if (fields.size() >= 5 && fields[0].contains('-') && !line.endsWith(':')
            && !line.startsWith("Rss:") && fields[1].size() == 4) {
            // "start-end perms offset dev inode [path]"
            current = fields.size() >= 6 ? QString::fromUtf8(fields[5]) : QStringLiteral("[anon]");
            if (current.startsWith("/memfd:"))
                current = QStringLiteral("[memfd]");
        } else if (line.startsWith("Rss:")) {
            byName[current] += fields.value(1).toLong();
        }
    }
    std::vector<std::pair<long, QString>> sorted;
    for (const auto& [name, kib] : byName)
        sorted.emplace_back(kib, name);
    std::sort(sorted.rbegin(), sorted.rend());
    return sorted;
}

// CPU time of every thread of a process, by thread id.
std::map<qint64, CpuTicks> ThreadTicks(qint64 pid)
{
    std::map<qint64, CpuTicks> result;
    const QDir tasks(QStringLiteral("/proc/%1/task").arg(pid));
    for (const QString& tid : tasks.entryList(QDir::Dirs | QDir::NoDotAndDotDot))
        result[tid.toLongLong()] = ReadStat(tasks.filePath(tid) + "/stat");
    return result;
}

// The sound server of the private desktop: a pulseaudio process that this program started.
qint64 OwnSoundServer()
{
    const QDir proc("/proc");
    for (const QString& entry : proc.entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        bool number = false;
        const qint64 pid = entry.toLongLong(&number);
        if (number && ParentOf(pid) == getpid()
            && ReadStat(proc.filePath(entry) + "/stat").name == "pulseaudio")
            return pid;
    }
    return -1;
}

// Streams a process has open in the sound server, and how many of them are sounding
// (not corked).
struct Streams {
    int open = 0;
    int sounding = 0;
};

Streams StreamsOf(const e2e::Desktop& desktop, qint64 pid)
{
    Streams streams;
    const e2e::RunResult r = desktop.run("pactl", {"list", "sink-inputs"});
    const QString needle = QStringLiteral("application.process.id = \"%1\"").arg(pid);
    for (const QString& block : r.out.split(QRegularExpression("\\n\\s*\\n"))) {
        if (!block.contains(needle))
            continue;
        ++streams.open;
        if (block.contains(QLatin1String("Corked: no")))
            ++streams.sounding;
    }
    return streams;
}

void Run(const QString& program, const QStringList& arguments)
{
    QProcess tool;
    tool.start(program, arguments);
    if (!tool.waitForFinished(600000) || tool.exitCode() != 0) {
        std::fprintf(stderr, "playing bench: %s failed: %s\n", qPrintable(program),
            tool.readAllStandardError().constData());
        std::exit(2);
    }
}

// Ten minutes of a two-tone signal as FLAC and MP3, made once and kept in `dir`; the same
// files as tandrel_open_bench's.
void MakeFiles(const QDir& dir)
{
    dir.mkpath(".");
    const QString wav = dir.filePath("long.wav");
    if (!QFile::exists(wav))
        Run("sox",
            {"-r", "44100", "-c", "2", "-n", "-b", "16", wav, "synth", "600", "sine", "440", "sine",
                "660", "vol", "0.5"});
    for (const char* name : {"long.flac", "long-cbr.mp3"}) {
        const QString path = dir.filePath(name);
        if (QFile::exists(path))
            continue;
        const QString partial = path + ".part";
        Run("sox", {wav, "-t", QFileInfo(path).suffix(), partial});
        QFile::rename(partial, path);
    }
}

// The window's time label, cut out of a screenshot.
QImage TimeLabel(const e2e::Desktop& desktop, QPoint window)
{
    return desktop.screenshot().copy(QRect(window + QPoint(432, 96), QSize(25, 14)));
}

// One process's share of a core over `seconds` of wall time, from /proc.
double CpuPercentOver(qint64 pid, double seconds)
{
    const QString stat = QStringLiteral("/proc/%1/stat").arg(pid);
    const CpuTicks before = ReadStat(stat);
    QElapsedTimer clock;
    clock.start();
    Wait(int(seconds * 1000));
    const CpuTicks after = ReadStat(stat);
    const double wall = double(clock.nsecsElapsed()) / 1e9;
    if (!before.ok || !after.ok)
        return -1;
    return 100.0 * double(after.ticks - before.ticks) / double(sysconf(_SC_CLK_TCK)) / wall;
}

// The sound server's sinks and their states (RUNNING, IDLE, SUSPENDED), one a line.
QString SinkStates(const e2e::Desktop& desktop)
{
    QStringList states;
    for (const QString& line : desktop.run("pactl", {"list", "short", "sinks"}).out.split('\n')) {
        const QStringList fields = line.split('\t');
        if (fields.size() >= 5)
            states << fields[1] + " " + fields.last();
    }
    return states.join(", ");
}

struct Measured {
    QString name;
    qint64 pid = -1;
    CpuTicks before;
    CpuTicks after;
    std::map<qint64, CpuTicks> threadsBefore;
};

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    const auto option = [&](const char* name, const QString& fallback) {
        return benchOption(args, name, fallback);
    };
    const double seconds = option("--seconds", "60").toDouble();
    const double idleSeconds = option("--idle-seconds", "20").toDouble();
    const QDir dir(option("--dir", "/tmp/tandrel-bench"));
    const QString program = option("--program", TANDREL_BINARY);
    if (seconds <= 0) {
        std::fprintf(stderr,
            "usage: tandrel_playing_bench [--seconds S] [--idle-seconds S] [--dir DIR] "
            "[--program PATH] [--bottom FILE]\n");
        return 2;
    }
    MakeFiles(dir);
    const QString flac = dir.absoluteFilePath("long.flac");
    // The bottom slot's file; GStreamer's player plays it too.
    const QString mp3 = dir.absoluteFilePath(option("--bottom", "long-cbr.mp3"));

    e2e::Desktop desktop;
    if (!desktop.error().isEmpty()) {
        std::fprintf(stderr, "playing bench: %s\n", qPrintable(desktop.error()));
        return 2;
    }
    const qint64 server = OwnSoundServer();
    auto tandrel = desktop.start(program, {});
    const QString window = desktop.waitForWindow("tandrel");
    if (window.isEmpty()) {
        std::fprintf(stderr, "playing bench: the window never showed\n");
        return 2;
    }
    Wait(500);
    const qint64 pid = tandrel->process().processId();
    const auto idle = MemoryKiB(pid);
    const QPoint at = desktop.windowPosition(window);
    // The drop opens the files into the two slots and starts the tick.
    const QString dropped = desktop.dropFiles(DRAG_SOURCE, {flac, mp3}, at + QPoint(200, 185));
    if (!dropped.isEmpty()) {
        std::fprintf(stderr, "playing bench: %s\n", qPrintable(dropped));
        return 2;
    }
    // Both files open and nothing played yet: what the program costs while it only waits.
    Wait(1000);
    // The program's CPU while it waits, the streams it holds meanwhile and the sinks' states.
    const auto reportWaiting = [&](const QString& what) {
        const Streams held = StreamsOf(desktop, pid);
        const double cpu = CpuPercentOver(pid, idleSeconds);
        out << QString("tandrel %1, %2 s: %3 % of a core, %4 of %5 streams sounding; sinks: %6\n")
                   .arg(what)
                   .arg(idleSeconds, 0, 'f', 0)
                   .arg(cpu, 0, 'f', 3)
                   .arg(held.sounding)
                   .arg(held.open)
                   .arg(SinkStates(desktop));
    };
    reportWaiting(QStringLiteral("idle with both files open"));
    desktop.click(at + QPoint(370, 75)); // top play
    Wait(1000);
    const Streams afterTop = StreamsOf(desktop, pid);
    desktop.click(at + QPoint(370, 135)); // bottom play
    Wait(1000);
    const Streams afterBoth = StreamsOf(desktop, pid);
    out << "tandrel before any file: VmRSS " << (idle.count("VmRSS") ? idle.at("VmRSS") : -1)
        << " KiB\n";
    out << "tandrel after top play: " << afterTop.sounding << " of " << afterTop.open
        << " streams sounding; after bottom play: " << afterBoth.sounding << " of "
        << afterBoth.open << "\n";

    // GStreamer's own player on each of the same files, into the same sink, alongside.
    std::vector<std::unique_ptr<e2e::Process>> players;
    for (const QString& file : {flac, mp3})
        players.push_back(std::make_unique<e2e::Process>(
            "gst-play-1.0", QStringList {"--no-interactive", file}, desktop.env(), "/dev/null"));
    Wait(2000);

    std::vector<Measured> measured {{"tandrel (both slots)", pid, {}, {}, {}},
        {"gst-play-1.0 FLAC", players[0]->process().processId(), {}, {}, {}},
        {"gst-play-1.0 MP3", players[1]->process().processId(), {}, {}, {}},
        {"pulseaudio (server)", server, {}, {}, {}}};
    for (Measured& m : measured) {
        if (m.pid > 0 && m.pid != server) {
            const Streams s = StreamsOf(desktop, m.pid);
            out << m.name << ": " << s.sounding << " of " << s.open << " streams sounding\n";
        }
    }
    const QImage labelBefore = TimeLabel(desktop, at);
    out << "load average before the window " << loadAverage() << "\n";
    out.flush();

    QElapsedTimer clock;
    for (Measured& m : measured) {
        m.before = ReadStat(QStringLiteral("/proc/%1/stat").arg(m.pid));
        m.threadsBefore = ThreadTicks(m.pid);
    }
    clock.start();
    Wait(int(seconds * 1000));
    for (Measured& m : measured)
        m.after = ReadStat(QStringLiteral("/proc/%1/stat").arg(m.pid));
    const double wall = double(clock.nsecsElapsed()) / 1e9;
    const auto threadsAfter = ThreadTicks(pid);
    const auto memory = MemoryKiB(pid);

    out << "load average after the window " << loadAverage() << "\n";
    const QImage labelAfter = TimeLabel(desktop, at);
    const Streams stillTandrel = StreamsOf(desktop, pid);
    out << "tandrel after the window: " << stillTandrel.sounding << " of " << stillTandrel.open
        << " streams sounding; time label "
        << (labelBefore != labelAfter ? "moved on (the tick runs)" : "UNCHANGED") << "\n\n";

    const double hz = double(sysconf(_SC_CLK_TCK));
    out << QString("%1 %2 %3 %4 %5\n")
               .arg("process", -22)
               .arg("CPU %", 7)
               .arg("VmHWM MB", 9)
               .arg("RssAnon", 8)
               .arg("RssFile", 8);
    bool ok = stillTandrel.sounding == 2 && labelBefore != labelAfter;
    for (const Measured& m : measured) {
        if (!m.before.ok || !m.after.ok) {
            out << m.name << ": not measured (process gone)\n";
            ok = false;
            continue;
        }
        const double cpu = 100.0 * double(m.after.ticks - m.before.ticks) / hz / wall;
        const auto mem = MemoryKiB(m.pid);
        const auto mb = [&](const char* key) {
            const auto found = mem.find(key);
            return found == mem.end() ? -1.0 : double(found->second) / 1024.0;
        };
        out << QString("%1 %2 %3 %4 %5\n")
                   .arg(m.name, -22)
                   .arg(cpu, 7, 'f', 2)
                   .arg(mb("VmHWM"), 9, 'f', 1)
                   .arg(mb("RssAnon"), 8, 'f', 1)
                   .arg(mb("RssFile"), 8, 'f', 1);
    }
    out << QString("(%1 s of wall time; MB are MiB; RSS figures at the end of the window)\n")
               .arg(wall, 0, 'f', 1);

    // Where the program's CPU went, by thread.
    out << "\ntandrel by thread:\n";
    std::vector<std::pair<double, QString>> threads;
    for (const auto& [tid, after] : threadsAfter) {
        const auto before = measured[0].threadsBefore.find(tid);
        const long long base = before == measured[0].threadsBefore.end() ? 0 : before->second.ticks;
        threads.emplace_back(100.0 * double(after.ticks - base) / hz / wall,
            QStringLiteral("%1 (%2)").arg(after.name).arg(tid));
    }
    std::sort(threads.rbegin(), threads.rend());
    for (const auto& [cpu, name] : threads)
        out << QString("  %1 %2\n").arg(name, -28).arg(cpu, 6, 'f', 2);

    // Where its memory is, by mapping.
    out << "\ntandrel resident memory by mapping (KiB, largest first):\n";
    const auto mappings = ResidentByMapping(pid);
    long files = 0, anonymous = 0;
    for (const auto& [kib, name] : mappings)
        (name.startsWith('/') ? files : anonymous) += kib;
    for (std::size_t i = 0; i < mappings.size() && i < 16; ++i)
        out << QString("  %1 %2\n").arg(mappings[i].first, 7).arg(mappings[i].second);
    out << QString("  files together %1, anonymous together %2\n").arg(files).arg(anonymous);

    // Both slots paused for a while, with the sound server allowed to suspend an idle sink as
    // a desktop's does: whether what the program keeps for a prompt resume holds it awake.
    players.clear();
    desktop.click(at + QPoint(406, 75)); // top pause
    Wait(300);
    desktop.click(at + QPoint(406, 135)); // bottom pause
    desktop.run("pactl", {"load-module", "module-suspend-on-idle", "timeout=1"});
    Wait(3000);
    out << "\n";
    reportWaiting(QStringLiteral("with both slots paused (sinks suspend after 1 s idle)"));

    // The floor any Qt Widgets program starts from: a plain window of the test suite's own,
    // on the same desktop.
    {
        auto plain = desktop.start(DRAG_SOURCE, {"--probe"});
        if (plain->process().waitForReadyRead(10000)) {
            Wait(2000);
            auto floor = MemoryKiB(plain->process().processId());
            out << QString("\na plain Qt Widgets window (drag_source --probe): VmHWM %1 MB, "
                           "RssAnon %2 MB, RssFile %3 MB\n")
                       .arg(double(floor["VmHWM"]) / 1024, 0, 'f', 1)
                       .arg(double(floor["RssAnon"]) / 1024, 0, 'f', 1)
                       .arg(double(floor["RssFile"]) / 1024, 0, 'f', 1);
        }
    }
    if (memory.empty())
        ok = false;
    return ok ? 0 : 1;
}
