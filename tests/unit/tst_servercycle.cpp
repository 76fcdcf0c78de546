// SPDX-License-Identifier: MIT
// PipeWire's cycle as its requests tell it: when a write to the server can still reach the
// frame it last reported, and when the requests cannot tell and a stop must go a block
// further.
#include "media/ServerCycle.h"

#include <QTest>

using media::ServerCycle;

namespace {

// Requests `delays[i]` after the blocks taken every `periodUs` from `firstUs`; the first
// request, which a stream's start answers at once, comes before them.
QList<qint64> Requests(qint64 firstUs, double periodUs, const QList<qint64>& delays)
{
    QList<qint64> times {firstUs - 1'234};
    for (qsizetype i = 0; i < delays.size(); ++i)
        times << firstUs + qint64(double(i) * periodUs) + delays[i];
    return times;
}

QList<qint64> Prompt(int count, qint64 delayUs = 150)
{
    return QList<qint64>(count, delayUs);
}

} // namespace

class TestServerCycle : public QObject {
    Q_OBJECT
private slots:
    void estimate_data()
    {
        QTest::addColumn<QList<qint64>>("requests");
        QTest::addColumn<qint64>("minRequestUs");
        QTest::addColumn<qint64>("nowUs");
        QTest::addColumn<bool>("known");
        QTest::addColumn<bool>("everyBlock");
        QTest::addColumn<double>("periodUs"); // the blocks' real period, when known
        QTest::addColumn<double>("lastBlockUs"); // the last block's real time, when known

        constexpr double k1024 = 1024.0 / 48'000 * 1e6; // 21 333 us
        constexpr double k256 = 256.0 / 48'000 * 1e6; // 5 333 us
        const qint64 start = 1'000'000;
        const auto lastBlock
            = [&](double period, int count) { return double(start) + double(count - 1) * period; };
        const auto now = [&](double period, int count) {
            return qint64(lastBlock(period, count) + period / 2);
        };

        QTest::newRow("1024 frames, each block asks")
            << Requests(start, k1024, Prompt(16)) << qint64(5'333) << now(k1024, 16) << true << true
            << k1024 << lastBlock(k1024, 16);
        QTest::newRow("jittered requests keep the beat")
            << Requests(start, k1024,
                   {150, 420, 90, 300, 180, 600, 120, 250, 80, 330, 150, 500, 200, 100, 260, 140})
            << qint64(5'333) << now(k1024, 16) << true << true << k1024 << lastBlock(k1024, 16);
        QTest::newRow("the last request held up 3 ms")
            << Requests(start, k1024, Prompt(15) << 3'000) << qint64(5'333) << now(k1024, 16)
            << true << true << k1024 << lastBlock(k1024, 16);
        QTest::newRow("all requests held up: the estimate is as late")
            << Requests(start, k1024, Prompt(16, 2'000)) << qint64(5'333) << now(k1024, 16) << true
            << true << k1024 << lastBlock(k1024, 16);
        QTest::newRow("just enough requests")
            << Requests(start, k1024, Prompt(int(ServerCycle::kNeeded))) << qint64(5'333)
            << now(k1024, int(ServerCycle::kNeeded)) << true << true << k1024
            << lastBlock(k1024, int(ServerCycle::kNeeded));
        // 256 frames asks after each block as well as after two of 128: no telling.
        QTest::newRow("period below twice the least request")
            << Requests(start, k256, Prompt(16)) << qint64(5'333) << now(k256, 16) << true << false
            << k256 << lastBlock(k256, 16);
        QTest::newRow("too few requests")
            << Requests(start, k1024, Prompt(int(ServerCycle::kNeeded) - 1)) << qint64(5'333)
            << now(k1024, int(ServerCycle::kNeeded) - 1) << false << false << 0.0 << 0.0;
        QTest::newRow("no request for a while")
            << Requests(start, k1024, Prompt(16)) << qint64(5'333)
            << qint64(lastBlock(k1024, 16) + 5 * k1024) << false << false << 0.0 << 0.0;
        QList<qint64> offBeat = Requests(start, k1024, Prompt(16));
        offBeat.insert(10, offBeat[9] + 7'000);
        offBeat.removeLast();
        QTest::newRow("a request off the beat")
            << offBeat << qint64(5'333) << now(k1024, 15) << false << false << 0.0 << 0.0;
        QList<qint64> missing = Requests(start, k1024, Prompt(17));
        missing.removeAt(8);
        QTest::newRow("a block without a request")
            << missing << qint64(5'333) << now(k1024, 17) << false << false << 0.0 << 0.0;
        // Blocks of 235 or 236 frames against a least request of 236: one block asks, or two.
        QList<qint64> uneven {start - 1'234};
        for (int i = 0, block = 0; i < 16; ++i, block += i % 3 == 0 ? 1 : 2)
            uneven << start + qint64(block * k256) + 150;
        QTest::newRow("one block or two to a request")
            << uneven << qint64(5'351) << qint64(uneven.last() + 2'000) << false << false << 0.0
            << 0.0;
    }
    void estimate()
    {
        QFETCH(QList<qint64>, requests);
        QFETCH(qint64, minRequestUs);
        QFETCH(qint64, nowUs);
        QFETCH(bool, known);
        QFETCH(bool, everyBlock);
        QFETCH(double, periodUs);
        QFETCH(double, lastBlockUs);

        ServerCycle cycle;
        cycle.forget();
        for (qint64 at : requests)
            cycle.requested(at);
        const auto estimate = cycle.estimate(nowUs, minRequestUs);
        QCOMPARE(estimate.has_value(), known);
        if (!known)
            return;
        QCOMPARE(estimate->everyBlock, everyBlock);
        QVERIFY2(std::abs(estimate->periodUs - periodUs) < 20,
            qPrintable(QString::number(estimate->periodUs)));
        // Never earlier than the block: a write timed on it would come too late. No later
        // than the most prompt recent request either.
        const double late = estimate->latestUs - lastBlockUs;
        QVERIFY2(late >= -20, qPrintable(QString::number(late)));
        qint64 prompt = std::numeric_limits<qint64>::max();
        for (qsizetype i = requests.size() - qsizetype(ServerCycle::kKept / 2); i < requests.size();
            ++i)
            prompt = std::min(prompt,
                requests[i] - qint64(lastBlockUs - double(requests.size() - 1 - i) * periodUs));
        QVERIFY2(late <= double(prompt) + 20, qPrintable(QString::number(late)));
    }

    // The first request after forget() answers an uncork, not a block.
    void forgetSkipsTheNextRequest()
    {
        ServerCycle cycle;
        for (int i = 0; i < 16; ++i)
            cycle.requested(i * 20'000);
        QVERIFY(cycle.estimate(15 * 20'000, 5'000));
        cycle.forget();
        QVERIFY(!cycle.estimate(15 * 20'000, 5'000));
        cycle.requested(1'000'000 + 7'000); // off the beat: not kept
        for (int i = 0; i < int(ServerCycle::kNeeded); ++i)
            cycle.requested(1'000'000 + i * 20'000);
        const auto estimate = cycle.estimate(1'000'000 + 7 * 20'000, 5'000);
        QVERIFY(estimate);
        QCOMPARE(estimate->latestUs, 1'000'000.0 + 7 * 20'000);
    }

    void blocksIn_data()
    {
        QTest::addColumn<qint64>("fromUs");
        QTest::addColumn<qint64>("toUs");
        QTest::addColumn<qint64>("blocks");
        // Blocks at ..., -39 000, -19 000, 1 000, 21 000, ...
        QTest::newRow("a block at the end counts") << qint64(0) << qint64(1'000) << qint64(1);
        QTest::newRow("a block at the start does not")
            << qint64(1'000) << qint64(20'999) << qint64(0);
        QTest::newRow("between two blocks") << qint64(2'000) << qint64(20'000) << qint64(0);
        QTest::newRow("the next block") << qint64(1'000) << qint64(21'000) << qint64(1);
        QTest::newRow("three blocks back") << qint64(-50'000) << qint64(1'000) << qint64(3);
        QTest::newRow("an empty span") << qint64(5'000) << qint64(5'000) << qint64(0);
        QTest::newRow("a span backwards") << qint64(30'000) << qint64(0) << qint64(0);
    }
    void blocksIn()
    {
        QFETCH(qint64, fromUs);
        QFETCH(qint64, toUs);
        QFETCH(qint64, blocks);
        const ServerCycle::Estimate cycle {20'000, 1'000, true};
        QCOMPARE(ServerCycle::blocksIn(cycle, fromUs, toUs), blocks);
    }
};

QTEST_APPLESS_MAIN(TestServerCycle)
#include "tst_servercycle.moc"
