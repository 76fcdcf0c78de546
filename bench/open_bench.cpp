// SPDX-License-Identifier: MIT
// How long a synchronous open takes (TMediaPlayer Open + Length on the GStreamer engine)
// next to GStreamer's own discoverer on the same ten-minute files, which is the least any
// program built on GStreamer can spend learning a file's length.
//
//   tandrel_open_bench [--dir DIR] [--reps N] [--sink "fakesink sync=true"]
//   tandrel_open_bench --open-once FILE     (one open in a fresh process, for the
//                                            process-to-process comparison)
//   tandrel_open_bench --reopen FILE N      (N opens in a row on one player, each with its
//                                            preroll: a reader that hangs shows here)
#include "media/GstEngine.h"
#include "media/GstHandles.h"
#include "media/ParsedLength.h"
#include "media/TMediaPlayer.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTextStream>
#include <algorithm>
#include <gst/pbutils/pbutils.h>
#include <stdexcept>
#include <vector>

namespace {

QTextStream out(stdout);

struct Format {
    const char* name;
    const char* file;
    // gst-launch-1.0 encoder between the WAV source and the file; empty: `tool` makes it,
    // or sox converts by the file's suffix.
    const char* encoder;
    // The parser whose walk gives the length, for streams without a duration of their own.
    const char* parser = nullptr;
    const char* tool = nullptr;
    QStringList arguments = {}; // "{in}" and "{out}" stand for the source and the file
};

const Format kFormats[] = {
    {"wav", "long.wav", nullptr},
    {"flac", "long.flac", nullptr},
    {"mp3-vbr-xing", "long-vbr.mp3", "lamemp3enc target=quality quality=4 ! xingmux"},
    {"mp3-no-header", "long-cbr.mp3", nullptr, "mpegaudioparse"},
    {"opus", "long.opus", "audioresample ! opusenc ! oggmux"},
    {"m4a", "long.m4a", "avenc_aac ! mp4mux"},
    {"aiff-24", "long24.aiff", nullptr, nullptr, "sox", {"{in}", "-b", "24", "{out}"}},
    {"aiff-32", "long32.aiff", nullptr, nullptr, "sox", {"{in}", "-b", "32", "{out}"}},
    {"wave64", "long.w64", nullptr, nullptr, "sox", {"{in}", "-b", "24", "{out}"}},
    {"wavpack", "long.wv", nullptr, nullptr, "wavpack", {"-q", "{in}", "-o", "{out}"}},
    {"aac-adts", "long.aac", nullptr, "aacparse", "ffmpeg", {"-i", "{in}", "-c:a", "aac", "{out}"}},
    {"ac3", "long.ac3", nullptr, "ac3parse", "ffmpeg",
        {"-i", "{in}", "-ar", "48000", "-c:a", "ac3", "{out}"}},
    {"eac3", "long.eac3", nullptr, "ac3parse", "ffmpeg",
        {"-i", "{in}", "-ar", "48000", "-c:a", "eac3", "{out}"}},
    {"dts", "long.dts", nullptr, "dcaparse", "ffmpeg",
        {"-i", "{in}", "-ar", "48000", "-strict", "-2", "-c:a", "dca", "{out}"}},
    {"mp2", "long.mp2", nullptr, "mpegaudioparse", "ffmpeg",
        {"-i", "{in}", "-ar", "48000", "-c:a", "mp2", "{out}"}},
};

// Minutes of sound in every file.
constexpr double kMinutes = 10;

void run(const QString& program, const QStringList& arguments)
{
    QProcess tool;
    tool.start(program, arguments);
    if (!tool.waitForFinished(600000) || tool.exitCode() != 0)
        throw std::runtime_error(
            (program + " failed: " + tool.readAllStandardError()).toStdString());
}

// Ten minutes of a two-tone signal, made once and kept in `dir` for later runs.
void makeFiles(const QDir& dir)
{
    const QString wav = dir.filePath("long.wav");
    if (!QFile::exists(wav))
        run("sox",
            {"-r", "44100", "-c", "2", "-n", "-b", "16", wav, "synth", "600", "sine", "440", "sine",
                "660", "vol", "0.5"});
    for (const Format& f : kFormats) {
        const QString path = dir.filePath(f.file);
        if (QFile::exists(path))
            continue;
        out << "making " << f.file << "...\n";
        out.flush();
        // Made under another name first, so that an encoder that fails leaves no file.
        const QString partial = path + ".part." + QFileInfo(path).suffix();
        if (f.tool) {
            QStringList arguments;
            if (QString(f.tool) == "ffmpeg")
                arguments << "-loglevel"
                          << "error"
                          << "-y";
            for (QString argument : f.arguments)
                arguments << argument.replace("{in}", wav).replace("{out}", partial);
            run(f.tool, arguments);
        } else if (!f.encoder) {
            run("sox", {wav, partial});
        } else {
            QStringList arguments {
                "-q", "filesrc", "location=" + wav, "!", "wavparse", "!", "audioconvert", "!"};
            arguments += QString(f.encoder).split(' ');
            arguments += {"!", "filesink", "location=" + partial};
            run("gst-launch-1.0", arguments);
        }
        QFile::rename(partial, path);
    }
}

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    const size_t n = values.size();
    return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

// Milliseconds `work` took.
template <typename Work> double timed(Work&& work)
{
    QElapsedTimer clock;
    clock.start();
    work();
    return double(clock.nsecsElapsed()) / 1e6;
}

int openWithEngine(const QString& path, const QString& sink)
{
    media::TMediaPlayer player(std::make_unique<media::GstEngine>(sink));
    player.FileName = path;
    player.Open();
    return player.Length();
}

// GStreamer's discoverer, in this process: the code gst-discoverer-1.0 runs, without the
// cost of starting a process.
int discover(const QString& path)
{
    GError* raw = nullptr;
    std::unique_ptr<GstDiscoverer, media::gst::ObjectUnref> discoverer(
        gst_discoverer_new(10 * GST_SECOND, &raw));
    media::gst::ErrorPtr error(raw);
    media::gst::GCharPtr uri(gst_filename_to_uri(QFile::encodeName(path).constData(), nullptr));
    std::unique_ptr<GstDiscovererInfo, media::gst::ObjectUnref> info(
        gst_discoverer_discover_uri(discoverer.get(), uri.get(), &raw));
    error.reset(raw);
    if (!info || error)
        throw std::runtime_error("discoverer failed on " + path.toStdString());
    return media::gst::nsToMs(gst_discoverer_info_get_duration(info.get()));
}

struct Row {
    QString name;
    int engineLength = 0;
    int discovererLength = 0;
    std::vector<double> engine, kept, discoverer, engineProcess, discovererProcess, parsePass;
};

// A player kept from one open to the next, as each of the program's slots is: the pipeline
// is made once, and Open closes the file before.
int openWithKeptPlayer(const QString& path, const QString& sink)
{
    static media::TMediaPlayer player(std::make_unique<media::GstEngine>(sink));
    player.FileName = path;
    player.Open();
    return player.Length();
}

void measure(Row& row, const QString& path, const QString& sink, const char* parser)
{
    row.engine.push_back(timed([&] { row.engineLength = openWithEngine(path, sink); }));
    row.kept.push_back(timed([&] { openWithKeptPlayer(path, sink); }));
    row.discoverer.push_back(timed([&] { row.discovererLength = discover(path); }));
    const QString self = QCoreApplication::applicationFilePath();
    row.engineProcess.push_back(timed([&] { run(self, {"--open-once", path, "--sink", sink}); }));
    row.discovererProcess.push_back(timed([&] { run("gst-discoverer-1.0", {path}); }));
    if (parser)
        row.parsePass.push_back(timed([&] {
            media::lengthByParsing(QFile::encodeName(path), parser, std::chrono::seconds(60));
        }));
}

QString cell(double value, int width, int precision = 1)
{
    return QString("%1").arg(value, width, 'f', precision);
}

void report(const std::vector<Row>& rows, int reps)
{
    out << "\nmedian of " << reps << " runs, milliseconds\n"
        << "  new: a new player's Open+Length   kept: Open+Length on a player kept open\n"
        << "  disc: GstDiscoverer in this process   (ratios are to disc)\n"
        << "  proc: whole process, this program's --open-once vs gst-discoverer-1.0\n"
        << "  parse: the parse pass alone, for kinds without a duration of their own;\n"
        << "         /min: the same per minute of sound\n";
    out << QString("%1%2%3%4%5%6%7%8%9%10%11%12\n")
               .arg("format", -14)
               .arg("length", 8)
               .arg("new", 7)
               .arg("kept", 7)
               .arg("disc", 7)
               .arg("new/d", 7)
               .arg("kept/d", 7)
               .arg("proc", 7)
               .arg("d.proc", 7)
               .arg("ratio", 7)
               .arg("parse", 7)
               .arg("/min", 7);
    for (const Row& r : rows) {
        const double d = median(r.discoverer);
        const double ep = median(r.engineProcess), dp = median(r.discovererProcess);
        out << QString("%1%2").arg(r.name, -14).arg(r.engineLength, 8) << cell(median(r.engine), 7)
            << cell(median(r.kept), 7) << cell(d, 7) << cell(median(r.engine) / d, 7, 2)
            << cell(median(r.kept) / d, 7, 2) << cell(ep, 7) << cell(dp, 7) << cell(ep / dp, 7, 2)
            << (r.parsePass.empty() ? QString("%1").arg("-", 7) : cell(median(r.parsePass), 7))
            << (r.parsePass.empty() ? QString("%1").arg("-", 7)
                                    : cell(median(r.parsePass) / kMinutes, 7))
            << '\n';
        if (r.engineLength != r.discovererLength)
            out << "    (the discoverer's length: " << r.discovererLength << " ms)\n";
    }
}

int benchmark(const QStringList& args)
{
    const int dirAt = args.indexOf("--dir");
    const QDir dir(dirAt >= 0 ? args.value(dirAt + 1) : QDir::temp().filePath("tandrel-bench"));
    const int repsAt = args.indexOf("--reps");
    const int reps = repsAt >= 0 ? args.value(repsAt + 1).toInt() : 7;
    const int sinkAt = args.indexOf("--sink");
    const QString sink = sinkAt >= 0 ? args.value(sinkAt + 1) : QString("fakesink sync=true");
    QDir().mkpath(dir.path());
    makeFiles(dir);

    std::vector<Row> rows;
    for (const Format& f : kFormats) {
        rows.emplace_back();
        rows.back().name = f.name;
    }
    // A first round untimed: plugins load and the files come into the page cache.
    for (size_t i = 0; i < rows.size(); ++i) {
        Row warm;
        measure(warm, dir.filePath(kFormats[i].file), sink, nullptr);
    }
    // Rounds interleave the formats so that drift in the machine's load spreads evenly.
    for (int rep = 0; rep < reps; ++rep) {
        for (size_t i = 0; i < rows.size(); ++i)
            measure(rows[i], dir.filePath(kFormats[i].file), sink, kFormats[i].parser);
    }
    report(rows, reps);
    return 0;
}

// Opens `path` `times` times in a row on one player, as a user dropping file after file
// would; each open prerolls. Counts the opens that failed and the slowest.
int reopen(const QString& path, int times, const QString& sink)
{
    media::TMediaPlayer player(std::make_unique<media::GstEngine>(sink));
    player.FileName = path;
    int failed = 0;
    double slowest = 0;
    std::vector<double> all;
    for (int i = 0; i < times; ++i) {
        const double ms = timed([&] {
            try {
                player.Open();
            } catch (const std::exception& e) {
                ++failed;
                out << "open " << i << ": " << e.what() << '\n';
            }
        });
        slowest = std::max(slowest, ms);
        all.push_back(ms);
    }
    out << path << ": " << times << " opens, " << failed << " failed, median "
        << cell(median(all), 0) << " ms, slowest " << cell(slowest, 0) << " ms\n";
    return failed == 0 ? 0 : 1;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    gst_init(nullptr, nullptr);
    const QStringList args = app.arguments();
    try {
        const int reopenAt = args.indexOf("--reopen");
        if (reopenAt >= 0) {
            const int sinkAt = args.indexOf("--sink");
            return reopen(args.value(reopenAt + 1), args.value(reopenAt + 2).toInt(),
                sinkAt >= 0 ? args.value(sinkAt + 1) : QString("fakesink sync=true"));
        }
        const int onceAt = args.indexOf("--open-once");
        if (onceAt >= 0) {
            const int sinkAt = args.indexOf("--sink");
            openWithEngine(
                args.value(onceAt + 1), sinkAt >= 0 ? args.value(sinkAt + 1) : QString());
            return 0;
        }
        return benchmark(args);
    } catch (const std::exception& e) {
        QTextStream(stderr) << e.what() << '\n';
        return 1;
    }
}
