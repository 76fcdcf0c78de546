// SPDX-License-Identifier: MIT
// Bad input through the window's own open and drop paths on real GStreamer: every case
// ends in a clear message or a sound outcome within a bounded time, the slot never names a
// file that failed, and every input file is left exactly as it was.
#include "../support/DropEvents.h"
#include "../support/RecordingShell.h"
#include "MediaFiles.h"
#include "Unit1.h"
#include "app/TApplication.h"
#include "controls/TLabel.h"
#include "media/GstEngine.h"

#include <QCryptographicHash>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>
#include <QUrl>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <mutex>
#include <random>
#include <sys/stat.h>
#include <thread>

using media::TMPModes;

namespace {

// Far below the engine's own 10 s bound on an open: a case that comes near it has stalled.
constexpr qint64 kDeliveryBoundMs = 5000;
// Bigger files are known by size, allocated blocks and time of change instead of a hash: a
// 20 GiB sparse file with no blocks holds nothing but zeros, and reading it takes too long.
constexpr qint64 kHashLimit = 64 * 1024 * 1024;

QByteArray hashOf(const QByteArray& encoded, mode_t mode)
{
    QFile file(QFile::decodeName(encoded));
    // An unreadable input is made readable for the moment of hashing only.
    const bool locked = !file.open(QIODevice::ReadOnly);
    if (locked) {
        ::chmod(encoded.constData(), mode | S_IRUSR);
        file.open(QIODevice::ReadOnly);
    }
    QCryptographicHash hash(QCryptographicHash::Sha256);
    hash.addData(&file);
    file.close();
    if (locked)
        ::chmod(encoded.constData(), mode);
    return hash.result().toHex();
}

// What an input is on disk: its kind, permission bits, time of change and contents. Never
// opens anything but a regular file, so a pipe cannot block it.
QString fingerprint(const QString& path)
{
    const QByteArray encoded = QFile::encodeName(path);
    struct stat info {};
    if (::lstat(encoded.constData(), &info) != 0)
        return QStringLiteral("missing");
    const QString common = QStringLiteral("mode %1 mtime %2.%3 ")
                               .arg(info.st_mode & 07777, 0, 8)
                               .arg(info.st_mtim.tv_sec)
                               .arg(info.st_mtim.tv_nsec);
    if (S_ISLNK(info.st_mode))
        return common + QStringLiteral("link to ") + QFile::symLinkTarget(path);
    if (S_ISDIR(info.st_mode))
        return common + QStringLiteral("folder");
    if (S_ISFIFO(info.st_mode))
        return common + QStringLiteral("pipe");
    if (!S_ISREG(info.st_mode))
        return common + QStringLiteral("other");
    const QString size = QStringLiteral("size %1 ").arg(info.st_size);
    if (info.st_size > kHashLimit)
        return common + size + QStringLiteral("blocks %1").arg(info.st_blocks);
    return common + size + QString::fromLatin1(hashOf(encoded, info.st_mode));
}

QString makeTone(const QString& path, const char* seconds)
{
    return testmedia::runTool(
        "sox", {"-n", "-r", "44100", "-c", "2", path, "synth", seconds, "sine", "440"});
}

bool writeFile(const QString& path, const QByteArray& bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

QByteArray readFile(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

QList<QUrl> urls(const QStringList& paths)
{
    QList<QUrl> list;
    for (const QString& p : paths)
        list << QUrl::fromLocalFile(p);
    return list;
}

// Ends the test program with the row's name when the row runs far past any sane time: a
// hang inside the media layer blocks the test's own thread, so no check there could report
// it. Stands down when destroyed.
class Watchdog {
public:
    Watchdog(QByteArray row, std::chrono::seconds limit)
        : thread_([this, row = std::move(row), limit] {
            std::unique_lock lock(mutex_);
            if (!wake_.wait_for(lock, limit, [this] { return done_; })) {
                std::fprintf(stderr, "FAIL!  : %s hung: still running after %lld s\n",
                    row.constData(), static_cast<long long>(limit.count()));
                std::abort();
            }
        })
    {
    }
    ~Watchdog()
    {
        {
            std::lock_guard lock(mutex_);
            done_ = true;
        }
        wake_.notify_one();
        thread_.join();
    }

private:
    std::mutex mutex_;
    std::condition_variable wake_;
    bool done_ = false;
    std::thread thread_;
};

// How a row's input reaches the window.
enum class Route {
    OpenTop, // OpenTopFile, as the top folder button does
    Drop, // dropped second, after a good file: it opens into the bottom slot
    DropDeletedFirst, // dropped first, deleted before the queued drop handler runs
    DropDeletedSecond, // dropped second, deleted before the queued drop handler runs
    TwoDrops, // a good drop, then a drop with the input first, sent before either is handled
    PlayThenVanish, // opened, played, then deleted while it plays
    VanishThenPlay, // opened, deleted, then played for the first time
};

} // namespace

Q_DECLARE_METATYPE(Route)

class TestHostile : public QObject {
    Q_OBJECT
    QTemporaryDir dir;
    testsupport::RecordingShell shell;
    std::unique_ptr<TForm1> form;
    QStringList errors;
    QString keepTop, keepBottom, partner, other, tone, longFlac, longMp3, seeds;
    // Whether permission bits stop this process from reading (they do not for root).
    bool permissionsBind = true;
    int rowNumber = 0;
    std::unique_ptr<Watchdog> watchdog;

    // The window opens dropped files in a queued call, so nothing is opened before
    // `meanwhile` has run.
    void drop(const QStringList& paths, const std::function<void()>& meanwhile = {})
    {
        const testsupport::DropAnswer answer = testsupport::SendDrop(form.get(), urls(paths));
        QVERIFY(answer.delivered && answer.enterAccepted && answer.dropAccepted);
        if (meanwhile)
            meanwhile();
    }

    // Makes the row's input in a folder of its own and returns the path to deliver; `made`
    // collects everything that must still be there afterwards.
    QString make(const QString& kind, QStringList& made)
    {
        const QString folder = dir.filePath(QString::number(++rowNumber));
        QDir().mkpath(folder);
        const auto copyOf = [&](const QString& source, const QString& name) {
            const QString path = folder + '/' + name;
            made << path;
            return QFile::copy(source, path) ? path : QString();
        };
        const auto cutCopy = [&](const QString& source, const QString& name) {
            const QByteArray bytes = readFile(source);
            const QString path = folder + '/' + name;
            made << path;
            return writeFile(path, bytes.left(bytes.size() / 2)) ? path : QString();
        };
        const auto written = [&](const QString& name, const QByteArray& bytes) {
            const QString path = folder + '/' + name;
            made << path;
            return writeFile(path, bytes) ? path : QString();
        };
        const QString at = folder + '/';
        if (kind == "empty")
            return written("empty.wav", {});
        if (kind == "cut flac")
            return cutCopy(longFlac, "cut.flac");
        if (kind == "cut mp3")
            return cutCopy(longMp3, "cut.mp3");
        if (kind == "text")
            return written("notes.mp3", "Shopping: eggs, milk, a new pair of headphones.\n");
        if (kind == "noise") {
            // A fixed seed: mt19937 gives the same bytes everywhere, so the row is repeatable.
            std::mt19937 random(20261208);
            QByteArray bytes(64 * 1024, Qt::Uninitialized);
            for (char& b : bytes)
                b = char(random() & 0xff);
            return written("noise.wav", bytes);
        }
        if (kind == "huge") {
            const QString path = written("huge.wav", {});
            QFile file(path);
            return file.resize(20LL * 1024 * 1024 * 1024) ? path : QString();
        }
        if (kind == "unreadable") {
            const QString path = copyOf(tone, "locked.wav");
            return ::chmod(QFile::encodeName(path).constData(), 0) == 0 ? path : QString();
        }
        if (kind == "folder") {
            made << at + "folder.wav";
            return QDir().mkdir(at + "folder.wav") ? at + "folder.wav" : QString();
        }
        if (kind == "pipe" || kind == "pipe lnk") {
            const QString path = at + (kind == "pipe" ? "pipe.wav" : "pipe.lnk");
            made << path;
            return ::mkfifo(QFile::encodeName(path).constData(), 0644) == 0 ? path : QString();
        }
        if (kind == "dangling") {
            made << at + "dangling.wav";
            const bool linked = QFile::link(at + "gone.wav", at + "dangling.wav");
            return linked ? at + "dangling.wav" : QString();
        }
        if (kind == "deep") {
            // Folder names of 200 bytes, as many as bring the whole path near 4 000 bytes.
            QString deep = folder;
            while (QFile::encodeName(deep).size() + 201 + 9 < 4000)
                deep += '/' + QString(200, QLatin1Char('d'));
            if (!QDir().mkpath(deep))
                return {};
            made << deep + "/deep.wav";
            return QFile::copy(tone, deep + "/deep.wav") ? deep + "/deep.wav" : QString();
        }
        if (kind == "too long") {
            // Past the system's 4 096-byte limit on a path; nothing is made there.
            QString far = folder;
            for (int i = 0; i < 25; ++i)
                far += '/' + QString(200, QLatin1Char('x'));
            return far + "/far.wav";
        }
        if (kind == "vanishing")
            return copyOf(longFlac, "vanishing.flac");
        if (kind.startsWith("seed "))
            return copyOf(seeds + '/' + kind.mid(5), kind.mid(5));
        // Anything else is a good one-second file of that name.
        return copyOf(tone, kind);
    }

    // Runs a slot's play button, waits a little, and checks that it sounds and pauses.
    void playBriefly(bool top)
    {
        media::TMediaPlayer& player = top ? *form->MP1 : *form->MP2;
        app::runGuarded([&] { top ? form->Image2Click() : form->Image5Click(); });
        QCOMPARE(player.Mode(), TMPModes::mpPlaying);
        QTRY_VERIFY_WITH_TIMEOUT(player.Position() > 0, 3000);
        QCOMPARE(player.Mode(), TMPModes::mpPlaying);
        app::runGuarded([&] { top ? form->Image3Click() : form->Image6Click(); });
        QCOMPARE(player.Mode(), TMPModes::mpPaused);
    }

    // The labels of one slot: name, folder, length.
    static QStringList slotLabels(
        controls::TLabel* name, controls::TLabel* folder, controls::TLabel* length)
    {
        return {name->text(), folder->text(), length->text()};
    }
    QStringList topLabels() const { return slotLabels(form->Label6, form->Label5, form->Label1); }
    QStringList bottomLabels() const
    {
        return slotLabels(form->Label3, form->Label4, form->Label2);
    }
    static QStringList labelsFor(const QString& path, const QString& length)
    {
        const qsizetype slash = path.lastIndexOf('/');
        return {path.mid(slash + 1), path.left(slash + 1), length};
    }

    void vanishWhilePlaying(const QString& path, Route route);

private slots:
    void initTestCase()
    {
        QVERIFY(dir.isValid());
        keepTop = dir.filePath("keep-top.wav");
        keepBottom = dir.filePath("keep-bottom.flac");
        partner = dir.filePath("partner.wav");
        other = dir.filePath("other.flac");
        tone = dir.filePath("tone.wav");
        longFlac = dir.filePath("long.flac");
        longMp3 = dir.filePath("long.mp3");
        const std::pair<QString, const char*> tones[] = {{keepTop, "2"}, {keepBottom, "3"},
            {partner, "1"}, {other, "1"}, {tone, "1"}, {longFlac, "4"}, {longMp3, "4"}};
        for (const auto& [path, seconds] : tones) {
            const QString failed = makeTone(path, seconds);
            QVERIFY2(failed.isEmpty(), qPrintable(failed));
        }
        seeds = QFINDTESTDATA("../fuzz/seeds");
        QVERIFY(!seeds.isEmpty());
        // Shortcuts may name relative paths and %VARIABLES%; both are pinned down here.
        QVERIFY(QDir::setCurrent(dir.path()));
        qunsetenv("A");
        qunsetenv("B");
        const QString probe = dir.filePath("probe");
        QVERIFY(writeFile(probe, "x"));
        QVERIFY(::chmod(QFile::encodeName(probe).constData(), 0) == 0);
        QFile locked(probe);
        permissionsBind = !locked.open(QIODevice::ReadOnly);
        static_cast<app::TApplication*>(QCoreApplication::instance())
            ->setErrorPresenter([this](const QString&, const QString& text) { errors << text; });
    }

    // Each slot shows a good file before the bad input comes.
    void init()
    {
        // Three times the engine's own bound on an open.
        watchdog = std::make_unique<Watchdog>(QTest::currentDataTag(), std::chrono::seconds(30));
        errors.clear();
        shell.messages.clear();
        form = std::make_unique<TForm1>(
            [] { return std::make_unique<media::GstEngine>("fakesink sync=true"); }, shell);
        form->show();
        form->OpenTopFile(keepTop);
        form->OpenBottomFile(keepBottom);
        QCOMPARE(topLabels(), labelsFor(keepTop, "0:02"));
        QCOMPARE(bottomLabels(), labelsFor(keepBottom, "0:03"));
    }
    void cleanup()
    {
        form.reset();
        watchdog.reset();
    }

    void badInput_data();
    void badInput();
    void playsTheFileItOpened_data();
    void playsTheFileItOpened();
};

void TestHostile::badInput_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<Route>("route");
    // The error box's text, "%1" standing for the delivered path; empty when the file opens.
    QTest::addColumn<QString>("error");
    // The length label when the file opens.
    QTest::addColumn<QString>("length");

    const QString notFound = "Resource not found.";
    const QString unknownType = "Could not determine type of stream.";
    const QString noName = "No file name given.";
    struct Case {
        const char* kind;
        QString error;
        QString length;
    };
    const QList<Case> files = {
        {"empty", "Stream contains no data.", {}},
        // The FLAC header's length stands; the sound stops at the cut without an error.
        {"cut flac", {}, "0:04"},
        // Plain MP3 frames are counted, so the length is what is left.
        {"cut mp3", {}, "0:02"},
        {"text", unknownType, {}},
        {"noise", unknownType, {}},
        {"huge", unknownType, {}},
        // Root reads whatever the permission bits say, so for root the file simply opens.
        {"unreadable",
            permissionsBind ? QString("Could not open file \"%1\" for reading.") : QString(),
            permissionsBind ? QString() : "0:01"},
        {"folder", "\"%1\" is a directory.", {}},
        {"pipe", "\"%1\" is a named pipe, not a file.", {}},
        // A pipe is no shortcut: nothing is read from it, and it names no file.
        {"pipe lnk", noName, {}},
        {"dangling", notFound, {}},
        {"line\nbreak.wav", {}, "0:01"},
        {"100% %41%2F.wav", {}, "0:01"},
        {"rock & roll.wav", {}, "0:01"},
        {"\xF0\x9F\x8E\xB5 take \xE2\x9C\x93.wav", {}, "0:01"},
        {"what? #1.wav", {}, "0:01"},
        {"deep", {}, "0:01"},
        {"too long", "Could not open file \"%1\" for reading.", {}},
    };
    for (const Case& c : files) {
        const QByteArray tag = QByteArray(c.kind).replace('\n', "\\n");
        QTest::addRow("%s, opened", tag.constData())
            << c.kind << Route::OpenTop << c.error << c.length;
        QTest::addRow("%s, dropped", tag.constData())
            << c.kind << Route::Drop << c.error << c.length;
    }

    // Most malformed shortcuts name no file. The rest name a Windows path, which names no
    // file here and is never looked up in the working folder (the test's own folder).
    const std::map<QString, QString> shortcuts = {
        {"codepage-1251-desktop.lnk", notFound},
        {"env-unterminated.lnk", notFound},
        {"idlist-unicode-primary-cut.lnk", notFound},
        {"idlist-versions.lnk", notFound},
        {"linkinfo-network-unicode.lnk", notFound},
        {"linkinfo-unicode.lnk", notFound},
    };
    for (const QString& seed : QDir(seeds).entryList({"*.lnk"}, QDir::Files)) {
        const auto known = shortcuts.find(seed);
        const QString error = known == shortcuts.end() ? noName : known->second;
        const QByteArray kind = ("seed " + seed).toUtf8();
        QTest::addRow("%s, opened", kind.constData())
            << QString(kind) << Route::OpenTop << error << QString();
        QTest::addRow("%s, dropped", kind.constData())
            << QString(kind) << Route::Drop << error << QString();
    }

    QTest::newRow("deleted before the drop is handled, first")
        << "victim.wav" << Route::DropDeletedFirst << notFound << QString();
    QTest::newRow("deleted before the drop is handled, second")
        << "victim.wav" << Route::DropDeletedSecond << notFound << QString();
    QTest::newRow("two drops at once, both good")
        << "second drop.wav" << Route::TwoDrops << QString() << "0:01";
    QTest::newRow("two drops at once, second empty")
        << "empty" << Route::TwoDrops << "Stream contains no data." << QString();
    QTest::newRow("deleted while playing")
        << "vanishing" << Route::PlayThenVanish << QString() << "0:04";
    QTest::newRow("deleted before its first play")
        << "vanishing" << Route::VanishThenPlay << QString() << "0:04";
}

// No crash, no hang, the exact message or a file that plays, labels that name only what
// opened, and every input untouched.
void TestHostile::badInput()
{
    QFETCH(QString, kind);
    QFETCH(Route, route);
    QFETCH(QString, error);
    QFETCH(QString, length);

    QStringList made;
    const QString path = make(kind, made);
    QVERIFY2(!path.isEmpty(), qPrintable("could not make the input " + kind));
    made << keepTop << keepBottom << partner << other;
    std::map<QString, QString> before;
    for (const QString& p : made)
        before[p] = fingerprint(p);

    QStringList expectedErrors;
    if (!error.isEmpty())
        expectedErrors << QString(error).replace("%1", path);
    const bool opens = error.isEmpty();
    QStringList top = topLabels();
    QStringList bottom = bottomLabels();
    QString deleted;

    QElapsedTimer clock;
    clock.start();
    switch (route) {
    case Route::OpenTop:
        app::runGuarded([&] { form->OpenTopFile(path); });
        if (opens)
            top = labelsFor(path, length);
        break;
    case Route::Drop:
        drop({partner, path});
        QCoreApplication::processEvents();
        top = labelsFor(partner, "0:01");
        if (opens)
            bottom = labelsFor(path, length);
        break;
    case Route::DropDeletedFirst:
    case Route::DropDeletedSecond: {
        const bool first = route == Route::DropDeletedFirst;
        deleted = path;
        drop(first ? QStringList {path, partner} : QStringList {partner, path},
            [&] { QVERIFY(QFile::remove(path)); });
        QCoreApplication::processEvents();
        // A failed first file stops the drop: the second is not opened either.
        if (!first)
            top = labelsFor(partner, "0:01");
        break;
    }
    case Route::TwoDrops:
        drop({partner, other});
        drop({path, partner});
        QCoreApplication::processEvents();
        top = labelsFor(opens ? path : partner, opens ? length : "0:01");
        bottom = labelsFor(opens ? partner : other, "0:01");
        break;
    case Route::PlayThenVanish:
    case Route::VanishThenPlay:
        deleted = path;
        vanishWhilePlaying(path, route);
        if (QTest::currentTestFailed())
            return;
        top = labelsFor(path, length);
        break;
    }
    const qint64 took = clock.elapsed();
    QVERIFY2(took < kDeliveryBoundMs, qPrintable(QString("took %1 ms").arg(took)));

    QCOMPARE(errors, expectedErrors);
    QCOMPARE(shell.messages, QStringList());
    // A slot names only a file that opened into it; after a failure it keeps what it showed.
    QCOMPARE(topLabels(), top);
    QCOMPARE(bottomLabels(), bottom);
    QVERIFY(form->TopLoaded && form->BottomLoaded);
    const bool intoTop = route != Route::Drop && route != Route::DropDeletedSecond;
    if (opens && route != Route::PlayThenVanish && route != Route::VanishThenPlay)
        playBriefly(intoTop);
    if (!opens) {
        // The failed open closed the slot's player while the slot stays loaded, so its play
        // button and a click on the bar each say there is nothing open; the other slot plays
        // on regardless.
        app::runGuarded([&] { intoTop ? form->Image2Click() : form->Image5Click(); });
        QCOMPARE((intoTop ? form->MP1 : form->MP2)->Mode(), TMPModes::mpNotReady);
        playBriefly(!intoTop);
        app::runGuarded([&] { form->PGClickMouseDown(199); });
        expectedErrors << "No MCI device open."
                       << "No MCI device open.";
    }
    QCOMPARE(errors, expectedErrors);

    form.reset();
    for (const QString& p : made)
        QCOMPARE(fingerprint(p), p == deleted ? QString("missing") : before[p]);
}

// A file deleted after it opened is still the slot's: it plays on, pauses, the bar's seek
// works, and a play after it is gone sounds it too, from where the slot stands.
void TestHostile::vanishWhilePlaying(const QString& path, Route route)
{
    app::runGuarded([&] { form->OpenTopFile(path); });
    QCOMPARE(errors, QStringList());
    if (route == Route::VanishThenPlay) {
        QVERIFY(QFile::remove(path));
        app::runGuarded([&] { form->Image2Click(); });
        QTRY_VERIFY_WITH_TIMEOUT(form->MP1->Position() > 200, 3000);
        QCOMPARE(form->MP1->Mode(), TMPModes::mpPlaying);
        QCOMPARE(errors, QStringList());
        return;
    }
    app::runGuarded([&] { form->Image2Click(); });
    QTRY_VERIFY_WITH_TIMEOUT(form->MP1->Position() > 100, 3000);
    QVERIFY(QFile::remove(path));
    const int deletedAt = form->MP1->Position();
    QTRY_VERIFY_WITH_TIMEOUT(form->MP1->Position() > deletedAt + 100, 3000);
    QCOMPARE(form->MP1->Mode(), TMPModes::mpPlaying);
    app::runGuarded([&] { form->Image3Click(); });
    QCOMPARE(form->MP1->Mode(), TMPModes::mpPaused);
    const int pausedAt = form->MP1->Position();
    QTest::qWait(100);
    QCOMPARE(form->MP1->Position(), pausedAt);
    // The bar spans this file's 4 s; the bottom file is 3 s long.
    app::runGuarded([&] { form->PGClickMouseDown(199); });
    QCOMPARE(form->MP1->Position(), 2000);
    QCOMPARE(form->MP2->Position(), 2000);
    // The play after the seek starts the pipeline afresh, from the held file.
    app::runGuarded([&] { form->Image2Click(); });
    QTRY_VERIFY_WITH_TIMEOUT(form->MP1->Position() > 2200, 3000);
    QCOMPARE(form->MP1->Mode(), TMPModes::mpPlaying);
    QCOMPARE(errors, QStringList());
}

void TestHostile::playsTheFileItOpened_data()
{
    QTest::addColumn<QString>("change");
    QTest::addColumn<bool>("plays");
    QTest::newRow("another recording renamed over it") << "renamed over" << true;
    QTest::newRow("deleted") << "deleted" << true;
    QTest::newRow("moved away") << "moved away" << true;
    QTest::newRow("written over in place") << "written over" << false;
}

// Between two plays the file under the top slot's name changes. The slot plays the file it
// opened, a four-second tone: it plays on past two seconds, where the one-second recording
// that took its place would have ended at once. A file written over in place is no longer
// the one that opened: the play says so and does not start.
void TestHostile::playsTheFileItOpened()
{
    QFETCH(QString, change);
    QFETCH(bool, plays);
    const QString path = dir.filePath("mix.flac");
    const QString replacement = dir.filePath("new mix.flac");
    for (const QString& left : {path, replacement, dir.filePath("elsewhere.flac")})
        QFile::remove(left); // by a row before that failed half way
    QVERIFY(QFile::copy(longFlac, path));
    app::runGuarded([&] { form->OpenTopFile(path); });
    QCOMPARE(errors, QStringList());
    playBriefly(true);
    QVERIFY(QFile::copy(other, replacement));
    if (change == "renamed over") {
        QVERIFY(::rename(
                    QFile::encodeName(replacement).constData(), QFile::encodeName(path).constData())
            == 0);
    } else if (change == "deleted") {
        QVERIFY(QFile::remove(path));
    } else if (change == "moved away") {
        QVERIFY(QFile::rename(path, dir.filePath("elsewhere.flac")));
    } else {
        QVERIFY(writeFile(path, readFile(replacement)));
    }
    app::runGuarded([&] { form->PGClickMouseDown(199); });
    QCOMPARE(form->MP1->Position(), 2000);
    app::runGuarded([&] { form->Image2Click(); });
    if (plays) {
        QTRY_VERIFY_WITH_TIMEOUT(form->MP1->Position() > 2300, 3000);
        QCOMPARE(form->MP1->Mode(), TMPModes::mpPlaying);
        QCOMPARE(errors, QStringList());
        // A resume after a pause goes on with it too.
        app::runGuarded([&] { form->Image3Click(); });
        app::runGuarded([&] { form->Image2Click(); });
        const int resumedAt = form->MP1->Position();
        QTRY_VERIFY_WITH_TIMEOUT(form->MP1->Position() > resumedAt + 200, 3000);
    } else {
        QCOMPARE(errors,
            QStringList {"The file has changed since it was opened. Open it again to play it."});
        QCOMPARE(form->MP1->Mode(), TMPModes::mpStopped);
        QCOMPARE(form->MP1->Position(), 2000);
    }
}

int main(int argc, char** argv)
{
    app::TApplication application(argc, argv);
    TestHostile test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_hostile.moc"
