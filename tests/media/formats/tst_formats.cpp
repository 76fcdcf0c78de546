// SPDX-License-Identifier: MIT
// The README's format table still holds: every kind is made again from a short source with
// the same command and measured through the program's own player, and each row must read as
// the README says. On the stack that measured the table (the release line above it) every
// cell reads alike; on another, a lossy kind's padding and landing are that stack's own (see
// formats::agrees). A row that fails here means the README is out of date (`make formats`)
// or a kind stopped opening, lost its length or its seek.
#include "FormatKinds.h"
#include "FormatMeasure.h"
#include "FormatTable.h"

#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

namespace {

// Long enough to seek into and play from, short enough to make and measure every kind in
// about a minute on two cores; not a multiple of the 1024-, 1152-, 1536- or 2048-sample
// frames of the lossy codecs, as the README's 20 s is not, so that each length is padded the
// same way.
constexpr int kDefaultSeconds = 5;

int sourceSeconds()
{
    const int asked = qEnvironmentVariableIntValue("TANDREL_FORMATS_SECONDS");
    return asked >= formats::kMinSeconds ? asked : kDefaultSeconds;
}

const formats::Row* rowOf(const std::vector<formats::Row>& rows, const QString& kind)
{
    for (const formats::Row& row : rows) {
        if (row.kind == kind)
            return &row;
    }
    return nullptr;
}

} // namespace

class TestFormats : public QObject {
    Q_OBJECT
    QTemporaryDir folder;
    formats::Table readme;
    bool sameStack = false;

private slots:
    void initTestCase()
    {
        QFile file(QStringLiteral(TANDREL_README));
        QVERIFY2(file.open(QIODevice::ReadOnly), TANDREL_README);
        readme = formats::parseTable(QString::fromUtf8(file.readAll()));
        QVERIFY2(!readme.rows.empty(), "README.md has no format table between its markers");
        QVERIFY2(!readme.release.system.isEmpty(),
            "README.md's format table does not say which release measured it: run `make "
            "formats`");
        const formats::Release here = formats::thisRelease();
        sameStack = formats::sameStack(readme.release, here);
        qInfo("table measured on %s (GStreamer %s, FFmpeg %s); this is %s (GStreamer %s, FFmpeg "
              "%s): %s",
            qPrintable(readme.release.system), qPrintable(readme.release.gstreamer),
            qPrintable(readme.release.ffmpeg), qPrintable(here.system), qPrintable(here.gstreamer),
            qPrintable(here.ffmpeg),
            sameStack ? "every cell as the table's" : "lossy lengths and seeks as this stack's");
        QVERIFY(folder.isValid());
        for (const QString& command : formats::sourceCommands(sourceSeconds())) {
            const QString failed = formats::runCommand(command, folder.path());
            QVERIFY2(failed.isEmpty(), qPrintable(failed));
        }
    }

    // Cells compare by what they say about the file, not by the milliseconds of padding or
    // of a lossy seek's miss.
    void lengthCells_data()
    {
        QTest::addColumn<int>("lengthMs");
        QTest::addColumn<int>("referenceMs");
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("kind");
        QTest::newRow("exact") << 20000 << 20000 << "exact"
                               << "exact";
        QTest::newRow("padded") << 20023 << 20000 << "+23 ms"
                                << "+… ms";
        QTest::newRow("cut") << 19990 << 20000 << "−10 ms"
                             << "−… ms";
        QTest::newRow("none") << 0 << 20000 << "0 (none)"
                              << "0 (none)";
    }

    void lengthCells()
    {
        QFETCH(int, lengthMs);
        QFETCH(int, referenceMs);
        QFETCH(QString, text);
        QFETCH(QString, kind);
        QCOMPARE(formats::lengthText(lengthMs, referenceMs), text);
        QCOMPARE(formats::shape(text), kind);
    }

    // Across stacks a lossy kind's padding and landing may change their milliseconds or
    // their sign, and any cell may come to read exact; a lossless kind's may not drift, and
    // no kind may lose its length or its seek. On the measuring stack only the milliseconds
    // may differ.
    void cellsAcrossStacks_data()
    {
        QTest::addColumn<QString>("measured");
        QTest::addColumn<QString>("said");
        QTest::addColumn<bool>("lossless");
        QTest::addColumn<bool>("sameStack");
        QTest::addColumn<bool>("agrees");
        const struct {
            const char* name;
            const char* measured;
            const char* said;
            bool lossless, sameStack, agrees;
        } cases[] = {
            {"same stack, other padding", "+14 ms", "+9 ms", false, true, true},
            {"same stack, padding trimmed", "exact", "+9 ms", false, true, false},
            {"same stack, landing within 1 ms", "within 1 ms", "−43 ms", false, true, false},
            {"lossy, padding trimmed", "exact", "+9 ms", false, false, true},
            {"lossy, padding added", "+9 ms", "exact", false, false, true},
            {"lossy, padding cut", "−3 ms", "+9 ms", false, false, true},
            {"lossy, landing within 1 ms", "within 1 ms", "−43 ms", false, false, true},
            {"lossy, landing missed", "+21 ms", "within 1 ms", false, false, true},
            {"lossy, length lost", "0 (none)", "+9 ms", false, false, false},
            {"lossy, seek lost", "— (no length to seek in)", "within 1 ms", false, false, false},
            {"lossy, seek from the start", "at the start, not at the seek", "−10 ms", false, false,
                false},
            {"lossy, sound lost", "no sound after the seek", "within 1 ms", false, false, false},
            {"lossless, lands on the sample", "exact", "1 sample early", true, false, true},
            {"lossless, misses the sample", "1 sample early", "exact", true, false, false},
            {"lossless, padded", "+9 ms", "exact", true, false, false},
            {"lossless, within 1 ms", "within 1 ms", "exact", true, false, false},
            {"lossless, values differ", "on the sample, values differ", "exact", true, false,
                false},
        };
        for (const auto& c : cases) {
            QTest::newRow(c.name) << QString::fromUtf8(c.measured) << QString::fromUtf8(c.said)
                                  << c.lossless << c.sameStack << c.agrees;
        }
    }

    void cellsAcrossStacks()
    {
        QFETCH(QString, measured);
        QFETCH(QString, said);
        QFETCH(bool, lossless);
        QFETCH(bool, sameStack);
        QFETCH(bool, agrees);
        QCOMPARE(formats::agrees(measured, said, lossless, sameStack), agrees);
    }

    // Where a kind does not open, another stack may name it otherwise in the program's
    // sentence, but the sentence is the program's and must stay.
    void messagesAcrossStacks_data()
    {
        QTest::addColumn<QString>("measured");
        QTest::addColumn<bool>("sameStack");
        QTest::addColumn<bool>("same");
        const QString sentence = QStringLiteral(
            "This file is of the kind \"%1\", which cannot be played here: no installed "
            "GStreamer plugin reads it.");
        QTest::newRow("same stack, same name")
            << sentence.arg("Apple Core Audio Format") << true << true;
        QTest::newRow("same stack, other name") << sentence.arg("CAF") << true << false;
        QTest::newRow("other stack, other name") << sentence.arg("CAF") << false << true;
        QTest::newRow("other stack, GStreamer's text")
            << QStringLiteral("Internal data stream error.") << false << false;
        QTest::newRow("other stack, no message") << QString() << false << false;
    }

    void messagesAcrossStacks()
    {
        QFETCH(QString, measured);
        QFETCH(bool, sameStack);
        QFETCH(bool, same);
        const QString said = QStringLiteral(
            "This file is of the kind \"Apple Core Audio Format\", which cannot be played here: "
            "no installed GStreamer plugin reads it.");
        QCOMPARE(formats::sameMessage(measured, said, sameStack), same);
    }

    // A stack is its GStreamer's and FFmpeg's major and minor version, as the tools print
    // them; a Debian point release that mends either is the same stack.
    void stacks_data()
    {
        QTest::addColumn<QString>("gstreamer");
        QTest::addColumn<QString>("ffmpeg");
        QTest::addColumn<bool>("same");
        QTest::newRow("point release") << "1.22.12"
                                       << "5.1.6-0+deb12u1" << true;
        QTest::newRow("newer GStreamer") << "1.26.2"
                                         << "5.1.7-0+deb12u1" << false;
        QTest::newRow("newer FFmpeg") << "1.22.0"
                                      << "7.1.6-0+deb13u1" << false;
        QTest::newRow("minor by prefix") << "1.2.0"
                                         << "5.1.7-0+deb12u1" << false;
        QTest::newRow("FFmpeg from git") << "1.22.0"
                                         << "n5.1.7" << true;
        QTest::newRow("no FFmpeg") << "1.22.0"
                                   << "(none)" << false;
    }

    void stacks()
    {
        QFETCH(QString, gstreamer);
        QFETCH(QString, ffmpeg);
        QFETCH(bool, same);
        const formats::Release measuring {"Debian 12.11", "1.22.0", "5.1.7-0+deb12u1"};
        const formats::Release here {"Debian 12.12", gstreamer, ffmpeg};
        QCOMPARE(formats::sameStack(measuring, here), same);
        QCOMPARE(formats::sameStack(here, measuring), same);
    }

    // What the tool writes, the check reads back cell for cell, bars in a message included,
    // with the release that measured it, and the text around the markers stays as it was.
    void tableRoundTrip()
    {
        const std::vector<formats::Row> rows {
            {"WAV", "`sox src.wav w.wav`", "yes", "exact", "exact", ""},
            {"Odd", "`ffmpeg -i a | b`", "no", "—", "—", "Could not | decode."},
        };
        const formats::Release release {"Debian GNU/Linux trixie/sid", "1.26.2", "7.1.1-1+b1"};
        const QString before = QStringLiteral("# T\n\n%1\nold\n%2\nafter\n")
                                   .arg(formats::kBeginMarker, formats::kEndMarker);
        const auto written = formats::replaceTable(before, formats::renderTable({release, rows}));
        QVERIFY(written);
        QVERIFY(written->startsWith(QStringLiteral("# T\n\n")));
        QVERIFY(written->endsWith(QStringLiteral("%1\nafter\n").arg(formats::kEndMarker)));
        QVERIFY(!written->contains(QStringLiteral("old")));
        const formats::Table table = formats::parseTable(*written);
        QCOMPARE(table.release.system, release.system);
        QCOMPARE(table.release.gstreamer, release.gstreamer);
        QCOMPARE(table.release.ffmpeg, release.ffmpeg);
        const std::vector<formats::Row>& read = table.rows;
        QCOMPARE(read.size(), rows.size());
        for (std::size_t i = 0; i < rows.size(); ++i) {
            QCOMPARE(read[i].kind, rows[i].kind);
            QCOMPARE(read[i].madeWith, rows[i].madeWith);
            QCOMPARE(read[i].opens, rows[i].opens);
            QCOMPARE(read[i].length, rows[i].length);
            QCOMPARE(read[i].seek, rows[i].seek);
            QCOMPARE(read[i].error, rows[i].error);
        }
        QVERIFY(!formats::replaceTable(QStringLiteral("no markers"), {}));
        // A table from before the release line: the check must see that none is said.
        const QString unsaid = QStringLiteral("%1\n| kind |\n|---|\n| WAV | w | yes | exact | "
                                              "exact |  |\n%2\n")
                                   .arg(formats::kBeginMarker, formats::kEndMarker);
        QVERIFY(formats::parseTable(unsaid).release.system.isEmpty());
    }

    // Every row of the README is a kind the tool makes, so none is left behind unmeasured.
    void readmeRowsAreKinds()
    {
        QStringList unknown;
        for (const formats::Row& row : readme.rows) {
            const auto& all = formats::kinds();
            if (std::none_of(all.begin(), all.end(),
                    [&](const formats::Kind& kind) { return kind.name == row.kind; }))
                unknown << row.kind;
        }
        QVERIFY2(unknown.isEmpty(), qPrintable("not measured: " + unknown.join(", ")));
    }

    void rows_data()
    {
        QTest::addColumn<int>("index");
        for (std::size_t i = 0; i < formats::kinds().size(); ++i)
            QTest::newRow(qPrintable(formats::kinds()[i].name)) << int(i);
    }

    void rows()
    {
        QFETCH(int, index);
        const formats::Kind& kind = formats::kinds()[std::size_t(index)];
        const formats::Row* said = rowOf(readme.rows, kind.name);
        QVERIFY2(said, "README.md has no row for this kind: run `make formats`");
        const QString failed = formats::makeKind(kind, folder.path());
        QVERIFY2(failed.isEmpty(), qPrintable(failed));
        const formats::Row measured = formats::measure(kind, folder.path());
        QCOMPARE(measured.madeWith, said->madeWith);
        QCOMPARE(measured.opens, said->opens);
        const auto mismatch = [](const char* what, const QString& here, const QString& there) {
            return QStringLiteral("%1 reads \"%2\" where the table's reads \"%3\"")
                .arg(QLatin1String(what), here, there)
                .toUtf8();
        };
        QVERIFY2(formats::sameMessage(measured.error, said->error, sameStack),
            mismatch("message", measured.error, said->error).constData());
        QVERIFY2(formats::agrees(measured.length, said->length, kind.lossless, sameStack),
            mismatch("length", measured.length, said->length).constData());
        QVERIFY2(formats::agrees(measured.seek, said->seek, kind.lossless, sameStack),
            mismatch("seek", measured.seek, said->seek).constData());
    }
};

QTEST_GUILESS_MAIN(TestFormats)
#include "tst_formats.moc"
