// SPDX-License-Identifier: MIT
// The output's books without a server: where a stop's ramp goes and what it leaves out, where
// a resume goes on, what the end writes again, and what a new stream carries over. Content
// is a steady 1, so every sample written is its gain; a ramp is four frames.
#include "media/OutputTimeline.h"

#include <QTest>
#include <cmath>
#include <vector>

using media::OutputTimeline;
using Run = OutputTimeline::Run;

namespace {

enum class Op { Append, Place, Send, Stop, StopCorked, StopUnsent, Resume, Finish, NewStream };
struct Step {
    Op op;
    std::int64_t a = 0; // frames, reachable frame, room
    std::int64_t b = 0; // read frame, write index
    std::int64_t c = 0; // write index, tail
    std::int64_t d = 0; // tail
};

// The rising ramp over four frames, and falling.
constexpr double r0 = 0.0381, r1 = 0.3087, r2 = 0.6913, r3 = 0.9619;

struct Case {
    const char* name;
    std::vector<Step> steps;
    std::int64_t writeFrame; // where the last step wrote; -1: it wrote nothing
    std::vector<double> samples; // what it wrote
    std::vector<Run> runs;
    std::int64_t sent;
    std::int64_t heardFrame; // where the server is heard, for the position
    std::int64_t positionMs; // -1: none
};

// Twenty frames given, sent from frame 0 as far as the room allows: sixteen, as the last
// ramp's worth waits for what follows or the end.
const std::vector<Step> kSent16 = {{Op::Append, 20}, {Op::Place, 0}, {Op::Send, 100, 0}};

std::vector<Step> then(std::vector<Step> first, const std::vector<Step>& more)
{
    first.insert(first.end(), more.begin(), more.end());
    return first;
}

const Case kCases[] = {
    {"a fresh start ramps up over its first frames", kSent16, 0,
        {r0, r1, r2, r3, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1}, {{0, 0, 16}}, 16, 2, 4},
    {"a stop past the read point ramps down there and silences the rest",
        then(kSent16, {{Op::Stop, 6, 3, 16, 0}}), 6, {r3, r2, r1, r0, 0, 0, 0, 0, 0, 0},
        {{0, 0, 6}, {6, 6, 4}}, 10, 0, 10},
    {"a resume goes on from the first frame the stop's ramp left out",
        then(
            kSent16, {{Op::Stop, 6, 3, 16, 0}, {Op::Resume}, {Op::Place, 12}, {Op::Send, 100, 16}}),
        12, {r0, r1, r2, r3, 1, 1}, {{0, 0, 6}, {6, 6, 4}, {12, 10, 6}}, 16, 13, 11},
    {"a resume is never placed before the stop's ramp has ended",
        then(kSent16, {{Op::Stop, 6, 3, 16, 0}, {Op::Resume}, {Op::Place, 7}, {Op::Send, 100, 16}}),
        10, {r0, r1, r2, r3, 1, 1}, {{0, 0, 6}, {6, 6, 10}}, 16, 11, 11},
    {"a stop while corked writes silence only", then(kSent16, {{Op::StopCorked, 6, 6, 16, 8}}), 6,
        {0, 0, 0, 0, 0, 0, 0, 0, 0, 0}, {{0, 0, 6}}, 6, 0, 6},
    {"a stop past what was written ramps right after it, then a tail of silence",
        then(kSent16, {{Op::Stop, 18, 10, 16, 3}}), 16, {r3, r2, r1, r0, 0, 0, 0},
        {{0, 0, 16}, {16, 16, 4}}, 20, 0, 20},
    {"a stop the server has run past ramps nothing", then(kSent16, {{Op::Stop, 19, 17, 16, 3}}), -1,
        {}, {{0, 0, 16}}, 16, 0, 16},
    {"a stop before anything was sent keeps it all for the play",
        {{Op::Append, 20}, {Op::StopUnsent}}, -1, {}, {}, 0, 0, 4},
    {"the end writes its ramp again over what was sent where the server has not read",
        then(kSent16, {{Op::Stop, 14, 10, 16, 0}, {Op::Resume}, {Op::Finish, 15}}), 16, {r3, r2},
        {{0, 0, 14}, {14, 14, 4}}, 18, 15, 15},
    {"the end writes nothing again once the server took that block",
        then(kSent16, {{Op::Stop, 14, 10, 16, 0}, {Op::Resume}, {Op::Finish, 17}}), -1, {},
        {{0, 0, 14}, {14, 14, 4}}, 18, 30, 18},
    {"the end lets the last frames go, ramping down",
        then(kSent16, {{Op::Finish, 16}, {Op::Send, 100, 16}}), 16, {r3, r2, r1, r0}, {{0, 0, 20}},
        20, 0, 4},
    {"a new stream goes on from the stop, ramping up, at its frame 0",
        then(kSent16,
            {{Op::Stop, 6, 3, 16, 0}, {Op::NewStream}, {Op::Resume}, {Op::Place, 0},
                {Op::Send, 100, 0}}),
        0, {r0, r1, r2, r3, 1, 1}, {{0, 10, 6}}, 16, 0, 10},
};

} // namespace

class TestOutputTimeline : public QObject {
    Q_OBJECT
private slots:
    void books_data()
    {
        QTest::addColumn<int>("index");
        for (int i = 0; i < int(std::size(kCases)); ++i)
            QTest::newRow(kCases[i].name) << i;
    }

    void books()
    {
        QFETCH(int, index);
        const Case& c = kCases[index];
        OutputTimeline timeline;
        timeline.setFormat(1, 1000, 4);
        bool playing = true;
        std::optional<OutputTimeline::Write> last;
        for (const Step& step : c.steps) {
            last.reset();
            switch (step.op) {
            case Op::Append: {
                const std::vector<float> ones(std::size_t(step.a), 1.0f);
                timeline.append(ones.data(), step.a, 0);
                break;
            }
            case Op::Place:
                timeline.place(step.a);
                break;
            case Op::Send:
                last = timeline.takeNext(step.a, step.b);
                break;
            case Op::Stop:
            case Op::StopCorked:
                last = timeline.stop(
                    OutputTimeline::Server {step.a, step.b, step.c, step.op == Op::Stop, step.d});
                playing = false;
                break;
            case Op::StopUnsent:
                last = timeline.stop(std::nullopt);
                playing = false;
                break;
            case Op::Resume:
                timeline.resume();
                playing = true;
                break;
            case Op::Finish:
                last = timeline.finish(step.a);
                break;
            case Op::NewStream:
                timeline.newStream();
                break;
            }
        }
        QCOMPARE(last ? last->frame : -1, c.writeFrame);
        std::vector<double> samples;
        if (last) {
            for (float s : last->samples)
                samples.push_back(std::round(double(s) * 1e4) / 1e4);
        }
        QCOMPARE(samples, c.samples);
        QCOMPARE(timeline.runs(), c.runs);
        QCOMPARE(timeline.sent(), c.sent);
        const auto at = timeline.position(c.heardFrame, playing);
        QCOMPARE(at ? std::int64_t(*at / 1'000'000) : -1, c.positionMs);
    }
};

QTEST_APPLESS_MAIN(TestOutputTimeline)

#include "tst_outputtimeline.moc"
