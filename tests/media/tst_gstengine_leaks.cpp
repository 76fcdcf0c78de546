// SPDX-License-Identifier: MIT
// Repeated open/play/seek/close cycles must leave no GStreamer object, no mini object and
// no file descriptor behind.
#include "MediaFiles.h"
#include "media/GstEngine.h"
#include "media/GstHandles.h"
#include "media/TMediaPlayer.h"

#include <QDir>
#include <QtTest>
#include <atomic>
#include <gst/gst.h>
#include <memory>

using namespace media;

namespace {

// Counts GStreamer objects and mini objects (buffers, events, messages, caps...) as they
// are made and destroyed, through the tracing hooks; counting touches no reference.
std::atomic<int> gLiveObjects {0};
std::atomic<int> gLiveMiniObjects {0};

struct LiveCounter {
    GstTracer parent;
};
struct LiveCounterClass {
    GstTracerClass parent;
};
G_DEFINE_TYPE(LiveCounter, live_counter, GST_TYPE_TRACER)

void objectMade(GObject*, GstClockTime, GstObject*)
{
    ++gLiveObjects;
}
void objectGone(GObject*, GstClockTime, GstObject*)
{
    --gLiveObjects;
}
void miniObjectMade(GObject*, GstClockTime, GstMiniObject*)
{
    ++gLiveMiniObjects;
}
void miniObjectGone(GObject*, GstClockTime, GstMiniObject*)
{
    --gLiveMiniObjects;
}

void live_counter_class_init(LiveCounterClass*) { }
void live_counter_init(LiveCounter* self)
{
    auto* tracer = GST_TRACER(self);
    gst_tracing_register_hook(tracer, "object-created", G_CALLBACK(objectMade));
    gst_tracing_register_hook(tracer, "object-destroyed", G_CALLBACK(objectGone));
    gst_tracing_register_hook(tracer, "mini-object-created", G_CALLBACK(miniObjectMade));
    gst_tracing_register_hook(tracer, "mini-object-destroyed", G_CALLBACK(miniObjectGone));
}

// The count once streaming threads that are winding down after a close have dropped their
// last references: the same value three times running, 100 ms apart.
int settled(const std::atomic<int>& live)
{
    int last = live.load();
    for (int same = 0, tries = 0; same < 3 && tries < 50; ++tries) {
        QTest::qWait(100);
        const int now = live.load();
        same = now == last ? same + 1 : 0;
        last = now;
    }
    return last;
}

int openDescriptors()
{
    return int(QDir("/proc/self/fd").entryList(QDir::AllEntries | QDir::System).size());
}

// One life of a player: open, play a moment, pause, seek, play again, close.
void exercise(const QString& path)
{
    media::TMediaPlayer player(std::make_unique<media::GstEngine>("fakesink sync=true"));
    player.FileName = path;
    player.Open();
    player.Play();
    QTest::qWait(60);
    player.Pause();
    player.setPosition(player.Length() / 2);
    player.Play();
    QTest::qWait(30);
    player.Close();
}

} // namespace

class TestGstEngineLeaks : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void cyclesLeaveNothingBehind_data();
    void cyclesLeaveNothingBehind();
    void failedOpensLeaveNothingBehind();
};

void TestGstEngineLeaks::initTestCase()
{
    QVERIFY2(testmedia::mediaSet().error().isEmpty(), qPrintable(testmedia::mediaSet().error()));
    gst_init(nullptr, nullptr);
    // Lives as long as the program: the hooks stay registered.
    g_object_new(live_counter_get_type(), nullptr);
    gst::ElementPtr probe(gst_element_factory_make("fakesink", nullptr));
    QVERIFY2(gLiveObjects.load() > 0, "the tracing hooks do not fire");
}

void TestGstEngineLeaks::cyclesLeaveNothingBehind_data()
{
    QTest::addColumn<QString>("format");
    for (const char* format : {"wav", "mp3-vbr", "opus", "m4a"})
        QTest::newRow(format) << QString(format);
}

// After one warm-up (plugins load, caches fill), further cycles change no count.
void TestGstEngineLeaks::cyclesLeaveNothingBehind()
{
    QFETCH(QString, format);
    const QString path = testmedia::mediaSet().format(format).path;
    exercise(path);
    const int objects = settled(gLiveObjects);
    const int miniObjects = settled(gLiveMiniObjects);
    const int descriptors = openDescriptors();
    for (int i = 0; i < 4; ++i)
        exercise(path);
    QCOMPARE(settled(gLiveObjects), objects);
    QCOMPARE(settled(gLiveMiniObjects), miniObjects);
    QCOMPARE(openDescriptors(), descriptors);
}

// Failing opens (missing file, no type, FIFO) release what they made too.
void TestGstEngineLeaks::failedOpensLeaveNothingBehind()
{
    const QString dir = testmedia::mediaSet().dir();
    QFile text(dir + "/leak-notes.mp3");
    QVERIFY(text.open(QIODevice::WriteOnly));
    text.write("not a sound\n");
    text.close();
    const QStringList bad {dir + "/missing.wav", text.fileName(), dir};
    media::TMediaPlayer player(std::make_unique<media::GstEngine>("fakesink sync=true"));
    auto failAll = [&] {
        for (const QString& path : bad) {
            player.FileName = path;
            QVERIFY_THROWS_EXCEPTION(std::exception, player.Open());
        }
    };
    failAll();
    const int objects = settled(gLiveObjects);
    const int miniObjects = settled(gLiveMiniObjects);
    const int descriptors = openDescriptors();
    for (int i = 0; i < 4; ++i)
        failAll();
    QCOMPARE(settled(gLiveObjects), objects);
    QCOMPARE(settled(gLiveMiniObjects), miniObjects);
    QCOMPARE(openDescriptors(), descriptors);
}

QTEST_GUILESS_MAIN(TestGstEngineLeaks)
#include "tst_gstengine_leaks.moc"
