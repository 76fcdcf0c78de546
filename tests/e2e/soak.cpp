// SPDX-License-Identifier: MIT
// A long session of the real program on a private desktop: two files dropped, then play,
// bar clicks, pause and the other slot, over and over through real mouse events. Reports the
// program's resident memory after warming up and at the end, and fails if it grew by more
// than 5 MB, or if the program died or stopped answering.
//   tandrel_soak [--minutes N]    (default 30)
#include "Desktop.h"
#include "Signal.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QThread>
#include <cstdio>
#include <random>

namespace {

// Resident set size in KiB, from the kernel's own account of the process.
long RssKiB(qint64 pid)
{
    QFile status(QStringLiteral("/proc/%1/status").arg(pid));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray& line : status.readAll().split('\n')) {
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').value(0).toLong();
    }
    return -1;
}

void Wait(int ms)
{
    QThread::msleep(ms);
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    const int at = args.indexOf("--minutes");
    const double minutes = at > 0 ? args.value(at + 1).toDouble() : 30;
    constexpr long kAllowedGrowthKiB = 5 * 1024;

    e2e::Desktop desktop;
    if (!desktop.error().isEmpty()) {
        std::fprintf(stderr, "soak: %s\n", qPrintable(desktop.error()));
        return 2;
    }
    QDir(desktop.home()).mkpath("Music");
    const QString top = desktop.home() + "/Music/top.wav";
    const QString bottom = desktop.home() + "/Music/bottom.wav";
    if (!e2e::WriteWav(top, e2e::MusicLike(60, 1, e2e::Desktop::kRate), e2e::Desktop::kRate)
        || !e2e::WriteWav(
            bottom, e2e::MusicLike(45, 2, e2e::Desktop::kRate), e2e::Desktop::kRate)) {
        std::fprintf(stderr, "soak: could not write the test files\n");
        return 2;
    }
    auto program = desktop.start(TANDREL_BINARY, {});
    const QString window = desktop.waitForWindow("tandrel");
    if (window.isEmpty()) {
        std::fprintf(stderr, "soak: the window never showed\n");
        return 2;
    }
    Wait(500);
    const QString dropped = desktop.dropFiles(DRAG_SOURCE, {top, bottom}, {200, 185});
    if (!dropped.isEmpty()) {
        std::fprintf(stderr, "soak: %s\n", qPrintable(dropped));
        return 2;
    }
    const qint64 pid = program->process().processId();
    std::mt19937 random(7);
    std::uniform_int_distribution<int> column(23, 23 + 397);
    const auto cycle = [&] {
        desktop.click({370, 75}); // top play
        Wait(600);
        desktop.click({column(random), 105});
        Wait(400);
        desktop.click({406, 75}); // top pause
        desktop.click({370, 135}); // bottom play
        Wait(600);
        desktop.click({column(random), 105});
        Wait(400);
        desktop.click({406, 135}); // bottom pause
    };

    for (int i = 0; i < 3; ++i)
        cycle();
    const long start = RssKiB(pid);
    QElapsedTimer clock;
    clock.start();
    int cycles = 0;
    while (clock.elapsed() < qint64(minutes * 60000) && program->running()) {
        cycle();
        ++cycles;
    }
    const long end = RssKiB(pid);
    const bool alive = program->running() && !desktop.windows("tandrel").isEmpty();
    std::printf("soak: %.1f min, %d cycles, RSS after warming up %ld KiB, at the end %ld KiB, "
                "growth %ld KiB (allowed %ld)\n",
        double(clock.elapsed()) / 60000, cycles, start, end, end - start, kAllowedGrowthKiB);
    if (!alive) {
        std::printf("soak: FAILED, the program is gone\n");
        return 1;
    }
    if (start < 0 || end < 0 || end - start > kAllowedGrowthKiB) {
        std::printf("soak: FAILED, memory grew\n");
        return 1;
    }
    std::printf("soak: passed\n");
    return 0;
}
