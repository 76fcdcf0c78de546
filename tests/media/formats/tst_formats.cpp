// SPDX-License-Identifier: MIT
// The README's format table still holds: every kind is made again from a short source with
// the same command and measured through the program's own player, and each row must read as
// the README says. A row that fails here means the README is out of date (`make formats`)
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
    std::vector<formats::Row> readme;

private slots:
    void initTestCase()
    {
        QFile file(QStringLiteral(TANDREL_README));
        QVERIFY2(file.open(QIODevice::ReadOnly), TANDREL_README);
        readme = formats::parseTable(QString::fromUtf8(file.readAll()));
        QVERIFY2(!readme.empty(), "README.md has no format table between its markers");
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

    // What the tool writes, the check reads back cell for cell, bars in a message included,
    // and the text around the markers stays as it was.
    void tableRoundTrip()
    {
        const std::vector<formats::Row> rows {
            {"WAV", "`sox src.wav w.wav`", "yes", "exact", "exact", ""},
            {"Odd", "`ffmpeg -i a | b`", "no", "—", "—", "Could not | decode."},
        };
        const QString before = QStringLiteral("# T\n\n%1\nold\n%2\nafter\n")
                                   .arg(formats::kBeginMarker, formats::kEndMarker);
        const auto written = formats::replaceTable(before, formats::renderTable(rows));
        QVERIFY(written);
        QVERIFY(written->startsWith(QStringLiteral("# T\n\n")));
        QVERIFY(written->endsWith(QStringLiteral("%1\nafter\n").arg(formats::kEndMarker)));
        QVERIFY(!written->contains(QStringLiteral("old")));
        const std::vector<formats::Row> read = formats::parseTable(*written);
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
    }

    // Every row of the README is a kind the tool makes, so none is left behind unmeasured.
    void readmeRowsAreKinds()
    {
        QStringList unknown;
        for (const formats::Row& row : readme) {
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
        const formats::Row* said = rowOf(readme, kind.name);
        QVERIFY2(said, "README.md has no row for this kind: run `make formats`");
        const QString failed = formats::makeKind(kind, folder.path());
        QVERIFY2(failed.isEmpty(), qPrintable(failed));
        const formats::Row measured = formats::measure(kind, folder.path());
        QCOMPARE(measured.madeWith, said->madeWith);
        QCOMPARE(measured.opens, said->opens);
        QCOMPARE(measured.error, said->error);
        QCOMPARE(formats::shape(measured.length), formats::shape(said->length));
        QCOMPARE(formats::shape(measured.seek), formats::shape(said->seek));
    }
};

QTEST_GUILESS_MAIN(TestFormats)
#include "tst_formats.moc"
