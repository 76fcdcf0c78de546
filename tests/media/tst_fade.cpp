// SPDX-License-Identifier: MIT
// The fade's ramps land on the samples they name: a start from P is silent before P and at
// P, and at full gain from 3 ms after it; a stop returns the first silent sample, and what
// had passed before it is not touched. Real GStreamer elements, a steady level through the
// fade into a sink that collects every sample.
#include "media/Fade.h"

#include <QtTest>
#include <cmath>
#include <functional>
#include <numbers>
#include <vector>

using namespace media;

namespace {

constexpr int kRate = 48000;
constexpr double kLevel = 0.5;
constexpr std::int64_t kRamp = std::int64_t(Fade::kLength) * kRate / GST_SECOND; // 144

GstClockTime sampleTime(std::int64_t sample)
{
    return GstClockTime(gst_util_uint64_scale_int(GstClockTime(sample), GST_SECOND, kRate));
}

// A steady level (the first half of a 1 Hz square wave) through `fade` into a sink that
// keeps every sample, for `ms` milliseconds.
class Run {
public:
    Run(Fade& fade, int ms)
    {
        pipeline_.reset(gst_pipeline_new(nullptr));
        GstElement* source = gst_element_factory_make("audiotestsrc", nullptr);
        g_object_set(source, "wave", 1 /* square */, "freq", 1.0, "volume", kLevel,
            "samplesperbuffer", 480, "num-buffers", ms / 10, nullptr);
        GstElement* caps = gst_element_factory_make("capsfilter", nullptr);
        const std::unique_ptr<GstCaps, decltype(&gst_caps_unref)> format(
            gst_caps_from_string("audio/x-raw,format=F32LE,channels=1,rate=48000"),
            &gst_caps_unref);
        g_object_set(caps, "caps", format.get(), nullptr);
        gst::ElementPtr sink = gst::adoptElement(gst_element_factory_make("fakesink", nullptr));
        g_object_set(sink.get(), "sync", FALSE, "signal-handoffs", TRUE, nullptr);
        g_signal_connect(sink.get(), "handoff", G_CALLBACK(&Run::collect), this);
        gst::ElementPtr output = fade.before(std::move(sink));
        gst_bin_add_many(GST_BIN(pipeline_.get()), source, caps, output.get(), nullptr);
        linked_ = gst_element_link_many(source, caps, output.get(), nullptr);
    }

    bool linked() const { return linked_; }
    GstElement* pipeline() const { return pipeline_.get(); }

    // Plays to the end; false when it failed or took over 10 s.
    bool toTheEnd()
    {
        gst_element_set_state(pipeline_.get(), GST_STATE_PLAYING);
        gst::BusPtr bus(gst_element_get_bus(pipeline_.get()));
        gst::MessagePtr message(gst_bus_timed_pop_filtered(
            bus.get(), 10 * GST_SECOND, GstMessageType(GST_MESSAGE_EOS | GST_MESSAGE_ERROR)));
        return message && GST_MESSAGE_TYPE(message.get()) == GST_MESSAGE_EOS;
    }

    std::vector<float> samples;

private:
    static void collect(GstElement*, GstBuffer* buffer, GstPad*, gpointer self)
    {
        GstMapInfo map;
        if (!gst_buffer_map(buffer, &map, GST_MAP_READ))
            return;
        const auto* data = reinterpret_cast<const float*>(map.data);
        auto& samples = static_cast<Run*>(self)->samples;
        samples.insert(samples.end(), data, data + map.size / sizeof(float));
        gst_buffer_unmap(buffer, &map);
    }

    gst::PipelinePtr pipeline_;
    bool linked_ = false;
};

// The gain a raised-cosine ramp gives `k` samples after its foot.
double rising(std::int64_t k)
{
    return k <= 0 ? 0 : k >= kRamp ? 1 : (1 - std::cos(std::numbers::pi * double(k) / kRamp)) / 2;
}

// Where the collected samples differ from `gain` times the level by more than the curve's
// joints allow; -1 when nowhere.
std::int64_t firstMismatch(
    const std::vector<float>& samples, const std::function<double(std::int64_t)>& gain)
{
    for (std::size_t i = 0; i < samples.size(); ++i) {
        if (std::abs(samples[i] - kLevel * gain(std::int64_t(i))) > 0.002)
            return std::int64_t(i);
    }
    return -1;
}

} // namespace

class TestFade : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { gst_init(nullptr, nullptr); }

    void startRisesFromItsSample_data()
    {
        QTest::addColumn<qint64>("from");
        QTest::addColumn<qint64>("end");
        QTest::newRow("from the first sample") << qint64(0) << qint64(0);
        QTest::newRow("on a buffer's edge") << qint64(4800) << qint64(0);
        QTest::newRow("inside a buffer") << qint64(4872) << qint64(0);
        QTest::newRow("falling at the end") << qint64(960) << qint64(9600);
        QTest::newRow("too near the end to fall") << qint64(9500) << qint64(9600);
    }

    void startRisesFromItsSample()
    {
        QFETCH(qint64, from);
        QFETCH(qint64, end);
        Fade fade;
        Run run(fade, 250);
        QVERIFY(run.linked());
        fade.startAt(sampleTime(from), sampleTime(end));
        QVERIFY(run.toTheEnd());
        QCOMPARE(qint64(run.samples.size()), qint64(kRate / 4));
        // Silent before the start and on it, full after the ramp, falling into the end.
        const bool falls = end >= from + 2 * kRamp;
        const std::int64_t wrong = firstMismatch(run.samples,
            [&](std::int64_t i) { return rising(i - from) * (falls ? rising(end - i) : 1.0); });
        QVERIFY2(wrong < 0,
            qPrintable(QString("sample %1 is %2")
                           .arg(wrong)
                           .arg(wrong < 0 ? 0 : run.samples[std::size_t(wrong)])));
        QCOMPARE(run.samples[std::size_t(from)], 0.0f);
        QVERIFY(run.samples[std::size_t(from + 1)] > 0);
    }

    // A stop lays its ramp past what has already gone through and says where the silence
    // begins; every sample before the ramp is heard at full gain.
    void stopReturnsTheFirstSilentSample()
    {
        Fade fade;
        Run run(fade, 250);
        QVERIFY(run.linked());
        fade.startAt(0, 0);
        QVERIFY(!fade.stopSoon()); // nothing has gone through yet: nothing to fade
        // Prerolled: the element has taken a buffer or two, which the ramp must not touch.
        gst_element_set_state(run.pipeline(), GST_STATE_PAUSED);
        QCOMPARE(gst_element_get_state(run.pipeline(), nullptr, nullptr, 5 * GST_SECOND),
            GST_STATE_CHANGE_SUCCESS);
        const std::optional<GstClockTime> silentFrom = fade.stopSoon();
        QVERIFY(silentFrom);
        const auto silent = std::int64_t(gst_util_uint64_scale_int(*silentFrom, kRate, GST_SECOND));
        QVERIFY2(silent >= 480 + kRamp && silent <= 3 * 480 + kRamp,
            qPrintable(QString::number(silent)));
        QVERIFY(run.toTheEnd());
        const std::int64_t wrong = firstMismatch(
            run.samples, [&](std::int64_t i) { return rising(i) * rising(silent - i); });
        QVERIFY2(wrong < 0,
            qPrintable(QString("sample %1 is %2 (silent from %3)")
                           .arg(wrong)
                           .arg(wrong < 0 ? 0 : run.samples[std::size_t(wrong)])
                           .arg(silent)));
        QCOMPARE(run.samples[std::size_t(silent)], 0.0f);
        QVERIFY(run.samples[std::size_t(silent - 1)] > 0);
    }
};

QTEST_GUILESS_MAIN(TestFade)
#include "tst_fade.moc"
