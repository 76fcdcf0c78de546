// SPDX-License-Identifier: MIT
// The bar and the tick, and dropping files on the window, with fake media engines.
#include "DropEvents.h"
#include "FakeMediaEngine.h"
#include "LinkBuilder.h"
#include "RecordingShell.h"
#include "Unit1.h"
#include "app/TApplication.h"
#include "controls/TImage.h"
#include "controls/TLabel.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QUrl>

using testsupport::FakeMedia;
using testsupport::FakeMediaEngine;

class TestBar : public QObject {
    Q_OBJECT
    std::shared_ptr<FakeMedia> media;
    testsupport::RecordingShell shell;
    std::unique_ptr<TForm1> form;
    QList<FakeMediaEngine*> engines;
    QStringList errors;

    void drop(const QList<QUrl>& urls)
    {
        const testsupport::DropAnswer answer = testsupport::SendDrop(form.get(), urls);
        QVERIFY(answer.delivered && answer.enterAccepted);
        QCoreApplication::processEvents();
    }
    static QList<QUrl> files(const QStringList& paths)
    {
        QList<QUrl> urls;
        for (const QString& p : paths)
            urls << QUrl::fromLocalFile(p);
        return urls;
    }

private slots:
    void init()
    {
        media = std::make_shared<FakeMedia>();
        media->lengths = {{"/m/a.wav", 180000}, {"/m/b.wav", 120000}, {"/m/long.flac", 10800000}};
        engines.clear();
        errors.clear();
        shell.messages.clear();
        static_cast<app::TApplication*>(QCoreApplication::instance())
            ->setErrorPresenter([this](const QString&, const QString& text) { errors << text; });
        form = std::make_unique<TForm1>(
            [this] {
                auto engine = std::make_unique<FakeMediaEngine>(media);
                engines << engine.get();
                return engine;
            },
            shell);
        form->show();
        QVERIFY(QTest::qWaitForWindowExposed(form.get()));
    }
    void cleanup() { form.reset(); }

    // Where the two covers stand for a position: the trough shows from its left end up to
    // the position, all of it at Max, none at 0; a position past Max shows all of it.
    void coverGeometry_data()
    {
        QTest::addColumn<int>("max");
        QTest::addColumn<int>("p");
        QTest::addColumn<QRect>("front");
        QTest::addColumn<QRect>("back");
        QTest::newRow("start") << 180000 << 0 << QRect(23, 96, 398, 19) << QRect(24, 95, 395, 21);
        QTest::newRow("half way") << 180000 << 90000 << QRect(222, 96, 199, 19)
                                  << QRect(222, 95, 198, 21);
        QTest::newRow("one ms in")
            << 180000 << 1 << QRect(23, 96, 398, 19) << QRect(23, 95, 397, 21);
        QTest::newRow("end") << 180000 << 180000 << QRect(421, 96, 0, 19) << QRect(24, 95, 0, 21);
        QTest::newRow("past the end")
            << 180000 << 200000 << QRect(465, 96, 0, 19) << QRect(465, 95, 0, 21);
        QTest::newRow("3-hour file half way")
            << 10800000 << 5400000 << QRect(222, 96, 199, 19) << QRect(222, 95, 198, 21);
        QTest::newRow("3-hour file near the end")
            << 10800000 << 10799999 << QRect(420, 96, 1, 19) << QRect(420, 95, 0, 21);
    }
    void coverGeometry()
    {
        QFETCH(int, max);
        QFETCH(int, p);
        QFETCH(QRect, front);
        QFETCH(QRect, back);
        form->PG1->Max = max;
        form->PG1->setPosition(p);
        QCOMPARE(form->PG1->Position(), p);
        QCOMPARE(form->PG1->geometry(), front);
        QCOMPARE(form->PG2->geometry(), back);
    }

    // A click seeks every loaded slot to the same moment; only the current slot plays on,
    // and only if it was playing.
    void clickSeeksBoth_data()
    {
        QTest::addColumn<int>("x");
        QTest::addColumn<bool>("playing");
        QTest::addColumn<int>("landed");
        QTest::newRow("left end, stopped") << 0 << false << 0;
        QTest::newRow("middle, playing") << 199 << true << 90000;
        QTest::newRow("right end, playing") << 397 << true << 179548;
    }
    void clickSeeksBoth()
    {
        QFETCH(int, x);
        QFETCH(bool, playing);
        QFETCH(int, landed);
        form->OpenBottomFile("/m/b.wav");
        form->OpenTopFile("/m/a.wav");
        QCOMPARE(form->PG1->Max, 180000);
        // The bottom slot plays; the top slot is made current, playing or stopped.
        form->Image5Click();
        if (playing)
            form->Image2Click();
        else
            form->Image3Click();
        QTest::mouseClick(form->PGClick, Qt::LeftButton, {}, QPoint(x, 9));
        QCOMPARE(form->PG1->Position(), landed);
        QCOMPARE(form->MP1->Position(), landed);
        QCOMPARE(form->MP2->Position(), std::min(landed, 120000));
        QCOMPARE(
            form->MP1->Mode(), playing ? media::TMPModes::mpPlaying : media::TMPModes::mpStopped);
        QCOMPARE(form->MP2->Mode(), media::TMPModes::mpStopped);
    }

    // The bar maps a 3-hour file's whole length (its products pass 32 bits).
    void clickOnALongFile()
    {
        form->OpenTopFile("/m/long.flac");
        QTest::mouseClick(form->PGClick, Qt::RightButton, {}, QPoint(199, 5));
        QCOMPARE(form->MP1->Position(), 5400000);
        QCOMPARE(form->PG1->geometry(), QRect(222, 96, 199, 19));
    }

    // A click or a tick before any length, or with the current player closed, does nothing.
    void nothingToFollow()
    {
        QTest::mouseClick(form->PGClick, Qt::LeftButton, {}, QPoint(100, 5));
        form->Timer1Timer();
        QCOMPARE(form->PG1->geometry(), QRect(23, 96, 398, 19));
        form->OpenTopFile("/m/a.wav");
        form->MP1->Close();
        QTest::mouseClick(form->PGClick, Qt::LeftButton, {}, QPoint(100, 5));
        form->Timer1Timer();
        QCOMPARE(form->PG1->geometry(), QRect(23, 96, 398, 19));
        QVERIFY(errors.isEmpty());
    }

    // The tick writes the current slot's position as text and moves the bar to it.
    void tick()
    {
        form->OpenTopFile("/m/a.wav");
        form->OpenBottomFile("/m/b.wav");
        form->Image2Click();
        engines[0]->advanceTo(90400);
        form->Timer1Timer();
        QCOMPARE(form->Label7->text(), QString("1:30"));
        QCOMPARE(form->PG1->Position(), 90400);
        QCOMPARE(form->PG1->x(), 222);
    }

    // Anything but exactly two local files is refused with a message and changes nothing.
    void refusedDrops_data()
    {
        QTest::addColumn<QList<QUrl>>("urls");
        QTest::newRow("one file") << files({"/m/a.wav"});
        QTest::newRow("three files") << files({"/m/a.wav", "/m/b.wav", "/m/long.flac"});
        QTest::newRow("a web address")
            << QList<QUrl> {QUrl::fromLocalFile("/m/a.wav"), QUrl("https://tandrel.example/b.wav")};
    }
    void refusedDrops()
    {
        QFETCH(QList<QUrl>, urls);
        form->OpenTopFile("/m/b.wav");
        const QStringList log = media->log;
        drop(urls);
        QCOMPARE(shell.messages, QStringList {"|Please drop 2 files"});
        QCOMPARE(media->log, log);
        QVERIFY(!form->Timer1->isActive());
        QCOMPARE(form->Label6->text(), QString("b.wav"));
        QVERIFY(!form->BottomLoaded);
    }

    // Two files open in the order the drop gives them, start the tick, and leave the bottom
    // slot current; a drop while the tick runs keeps its period.
    void dropTwo()
    {
        drop(files({"/m/a.wav", "/m/b.wav"}));
        QVERIFY(shell.messages.isEmpty());
        QCOMPARE(form->Label6->text(), QString("a.wav"));
        QCOMPARE(form->Label3->text(), QString("b.wav"));
        QCOMPARE(form->CurrentPlayer, form->MP2.get());
        QVERIFY(form->Timer1->isActive());
        // A fifth of the period gone, the second drop leaves the tick where it was: a restart
        // would put it back to a whole second (a coarse timer at least 950 ms).
        QTRY_VERIFY(form->Timer1->remainingTime() < 800);
        drop(files({"/m/b.wav", "/m/a.wav"}));
        QVERIFY2(form->Timer1->remainingTime() < 900,
            qPrintable(QString("%1 ms to the next tick").arg(form->Timer1->remainingTime())));
        QCOMPARE(form->Label6->text(), QString("b.wav"));
    }

    // A first file that fails to open stops the drop there: its error shows, the tick runs,
    // the top slot is current and the second file is not opened.
    void dropWithFailingFirst()
    {
        drop(files({"/m/missing.wav", "/m/b.wav"}));
        QCOMPARE(errors, QStringList {"Resource not found."});
        QVERIFY(form->Timer1->isActive());
        QCOMPARE(form->CurrentPlayer, form->MP1.get());
        QCOMPARE(media->log.filter("open /m/b.wav").size(), 0);
    }

    // Two dropped shortcuts open the files they point at, each in its own slot.
    void dropTwoShortcuts()
    {
        using namespace linkbuilder;
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        const auto writeLink = [&](const QString& name, std::u16string_view relative) {
            const Bytes bytes = Concat({Header(LinkInfo | RelativePath | Unicode),
                LocalLinkInfo("C:\\x.wav", ""), UnicodeString(relative), TerminalBlock()});
            QFile file(dir.filePath(name));
            QVERIFY(file.open(QIODevice::WriteOnly));
            file.write(reinterpret_cast<const char*>(bytes.data()), qint64(bytes.size()));
        };
        writeLink("first.lnk", u".\\takes\\one.flac");
        writeLink("second.LNK", u"two.wav");
        for (const QString name : {"takes/one.flac", "two.wav"}) {
            QVERIFY(QDir(dir.path()).mkpath(QFileInfo(dir.filePath(name)).path()));
            QFile file(dir.filePath(name));
            QVERIFY(file.open(QIODevice::WriteOnly));
            media->lengths.insert(dir.filePath(name), 5000);
        }
        drop(files({dir.filePath("first.lnk"), dir.filePath("second.LNK")}));
        QCOMPARE(errors, QStringList());
        QCOMPARE(form->MP1->FileName, dir.filePath("takes/one.flac"));
        QCOMPARE(form->MP2->FileName, dir.filePath("two.wav"));
        QCOMPARE(form->Label6->text(), QString("one.flac"));
        QCOMPARE(form->Label3->text(), QString("two.wav"));
    }

    // Long paths and any characters arrive whole.
    void dropLongNames()
    {
        const QString deep
            = "/m/" + QString(300, QLatin1Char('d')) + QString::fromUtf8("/Ärger & 100% 🎵.wav");
        media->lengths.insert(deep, 1000);
        drop(files({deep, "/m/b.wav"}));
        QCOMPARE(form->MP1->FileName, deep);
        QCOMPARE(form->Label6->text(), QString::fromUtf8("Ärger & 100% 🎵.wav"));
    }
};

int main(int argc, char** argv)
{
    app::TApplication application(argc, argv);
    TestBar test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_bar.moc"
