// SPDX-License-Identifier: MIT
// The window's tick in isolation, for an allocation profiler: the real window (TForm1) on the
// real GStreamer engine, two files dropped, both slots playing, and the window's own timer
// firing Timer1Timer a given number of times at a given period, with the event loop (and so
// the repaints the tick asks for) running between ticks. Run it under heaptrack for two tick
// counts and compare: what the tick allocates shows as allocations per tick under
// Timer1Timer that do not depend on the count, and nothing the tick allocates stays.
// bench/tick-allocations does that.
//
//   tandrel_tick_bench [--ticks 1000] [--interval 10] [--state playing|paused]
//                      [--dir /tmp/tandrel-bench] [--sink "fakesink sync=true"]
//
// --state paused pauses both slots before the ticks, as a window left paused keeps ticking.
// The window is on Qt's offscreen platform unless QT_QPA_PLATFORM says otherwise; the sink
// is a gst-launch description (empty: the system's default output).
#include "BenchSupport.h"
#include "Unit1.h"
#include "app/TApplication.h"
#include "controls/TLabel.h"
#include "media/GstEngine.h"
#include "shell/ShellServices.h"

#include <QDir>
#include <QElapsedTimer>
#include <QEvent>
#include <QFile>
#include <QTextStream>
#include <QTimer>
#include <cstdio>
#include <malloc.h>

namespace {

QTextStream out(stdout);

// Messages go to the terminal instead of a box nobody could answer.
class ConsoleShell : public shell::ShellServices {
public:
    void showMessage(QWidget*, const QString& title, const QString& text) override
    {
        std::fprintf(stderr, "tick bench: message: %s %s\n", qPrintable(title), qPrintable(text));
        failed = true;
    }
    std::optional<QString> moveToTrash(const QString&) override
    {
        return QStringLiteral("not in a benchmark");
    }
    bool openUrl(const QUrl&) override { return false; }
    bool failed = false;
};

// Bytes the C heap holds for the program, over all its arenas.
qint64 HeapInUse()
{
    const struct mallinfo2 info = mallinfo2();
    return qint64(info.uordblks + info.hblkhd);
}

// Counts the paint events a widget gets.
class PaintCounter : public QObject {
public:
    int paints = 0;

protected:
    bool eventFilter(QObject*, QEvent* event) override
    {
        if (event->type() == QEvent::Paint)
            ++paints;
        return false;
    }
};

// Runs the event loop for `ms`.
void Spin(int ms)
{
    QElapsedTimer clock;
    clock.start();
    while (!clock.hasExpired(ms))
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
}

} // namespace

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    app::TApplication application(argc, argv);
    const QStringList args = application.arguments();
    const auto option = [&](const char* name, const QString& fallback) {
        return benchOption(args, name, fallback);
    };
    const int ticks = option("--ticks", "1000").toInt();
    const int interval = option("--interval", "10").toInt();
    const QDir dir(option("--dir", "/tmp/tandrel-bench"));
    const QString sink = option("--sink", "fakesink sync=true");
    const QString state = option("--state", "playing");
    const QString top = dir.absoluteFilePath("long.flac");
    const QString bottom = dir.absoluteFilePath("long-cbr.mp3");
    if (ticks < 1 || interval < 1 || (state != "playing" && state != "paused")
        || !QFile::exists(top) || !QFile::exists(bottom)) {
        std::fprintf(stderr,
            "usage: tandrel_tick_bench [--ticks N] [--interval MS] [--state playing|paused]\n"
            "                          [--dir DIR] [--sink DESC]\n"
            "DIR must hold long.flac and long-cbr.mp3 (tandrel_playing_bench makes them)\n");
        return 2;
    }

    ConsoleShell shell;
    TForm1 form([&] { return std::make_unique<media::GstEngine>(sink); }, shell);
    form.show();
    Spin(200);
    form.AcceptFiles({top, bottom});
    // Only the counted ticks below run Timer1Timer.
    form.Timer1->stop();
    form.Image2Click();
    form.Image5Click();
    // Both slots get through their way to PLAYING before the first counted tick.
    Spin(1000);
    const bool bothPlaying = form.MP1->Mode() == media::TMPModes::mpPlaying
        && form.MP2->Mode() == media::TMPModes::mpPlaying;
    if (shell.failed || !bothPlaying) {
        std::fprintf(stderr, "tick bench: the two files are not both playing\n");
        return 1;
    }
    if (state == "paused") {
        form.Image3Click();
        form.Image6Click();
        Spin(200);
        if (form.MP1->Mode() != media::TMPModes::mpPaused
            || form.MP2->Mode() != media::TMPModes::mpPaused) {
            std::fprintf(stderr, "tick bench: the two files are not both paused\n");
            return 1;
        }
    }

    // The window's own timer, at the benchmark's period; a second connection counts.
    form.Timer1->setInterval(interval);
    int fired = 0;
    int texts = 0;
    QString lastText = form.Label7->text();
    const QString firstText = lastText;
    qint64 heapAtHalf = 0;
    QObject::connect(form.Timer1, &QTimer::timeout, &form, [&] {
        ++fired;
        if (form.Label7->text() != lastText) {
            lastText = form.Label7->text();
            ++texts;
        }
        if (fired == ticks / 2)
            heapAtHalf = HeapInUse();
        if (fired == ticks) {
            form.Timer1->stop();
            QCoreApplication::exit(0);
        }
    });
    PaintCounter labelPaints, barPaints;
    form.Label7->installEventFilter(&labelPaints);
    form.PG1->installEventFilter(&barPaints);
    const qint64 heapBefore = HeapInUse();
    QElapsedTimer clock;
    clock.start();
    form.Timer1->start();
    QCoreApplication::exec();
    const qint64 elapsed = clock.elapsed();
    const qint64 heapAfter = HeapInUse();

    out << "ticks " << fired << " every " << interval << " ms, " << state << " (" << elapsed
        << " ms), time label " << firstText << " -> " << lastText << ", " << texts
        << " new texts, bar at " << form.PG1->Position() << " ms; paints: time label "
        << labelPaints.paints << ", bar " << barPaints.paints << "\n";
    out << "heap in use: before the ticks " << heapBefore << " B, after half " << heapAtHalf
        << " B, after all " << heapAfter << " B\n";
    return 0;
}
