// SPDX-License-Identifier: MIT
// The window's bar on real players: a click puts both files at the same millisecond, the
// current slot plays on only if it was playing, and a paused slot is left stopped.
#include "RecordingShell.h"
#include "Unit1.h"
#include "app/TApplication.h"
#include "controls/TImage.h"
#include "media/GstEngine.h"

#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

using media::TMPModes;

class TestFormMedia : public QObject {
    Q_OBJECT
    QTemporaryDir dir;
    QString top, bottom;
    testsupport::RecordingShell shell;
    std::unique_ptr<TForm1> form;

private slots:
    void initTestCase()
    {
        top = dir.filePath("top.wav");
        bottom = dir.filePath("bottom.flac");
        for (const auto& [path, seconds] : {std::pair {top, "6"}, std::pair {bottom, "4"}}) {
            QProcess sox;
            sox.start(
                "sox", {"-n", "-r", "44100", "-c", "2", path, "synth", seconds, "sine", "440"});
            QVERIFY(sox.waitForFinished(30000) && sox.exitCode() == 0);
        }
    }
    void init()
    {
        form = std::make_unique<TForm1>(
            [] { return std::make_unique<media::GstEngine>("fakesink sync=true"); }, shell);
        form->show();
        form->AcceptFiles({top, bottom});
        QCOMPARE(form->PG1->Max, 6000);
    }
    void cleanup() { form.reset(); }

    // Top playing, bottom paused: after a click at the middle both stand at 3000 ms, the top
    // plays on from there and the bottom is stopped, so its pause button does nothing.
    void clickSeeksBoth()
    {
        form->Image5Click();
        QTest::qWait(300);
        form->Image6Click();
        QCOMPARE(form->MP2->Mode(), TMPModes::mpPaused);
        form->Image2Click();
        QTest::qWait(300);
        QTest::mouseClick(form->PGClick, Qt::LeftButton, {}, QPoint(199, 9));
        QCOMPARE(form->PG1->Position(), 3000);
        QCOMPARE(form->MP2->Position(), 3000);
        const int topAt = form->MP1->Position();
        QVERIFY2(topAt >= 3000 && topAt < 3300, qPrintable(QString::number(topAt)));
        QCOMPARE(form->MP1->Mode(), TMPModes::mpPlaying);
        QCOMPARE(form->MP2->Mode(), TMPModes::mpStopped);
        form->Image6Click();
        QCOMPARE(form->MP2->Mode(), TMPModes::mpStopped);
        // The top plays on from the click (how soon depends on the machine's load).
        QTRY_VERIFY_WITH_TIMEOUT(form->MP1->Position() >= 3400, 5000);
        QCOMPARE(form->MP2->Position(), 3000);
    }

    // With the current slot stopped, a click leaves both stopped at the same moment; a click
    // past the shorter file puts that one at its end.
    void clickWhileStopped()
    {
        QTest::mouseClick(form->PGClick, Qt::LeftButton, {}, QPoint(331, 9));
        QCOMPARE(form->PG1->Position(), 4990);
        QCOMPARE(form->MP1->Position(), 4990);
        QCOMPARE(form->MP2->Position(), 4000);
        QCOMPARE(form->MP1->Mode(), TMPModes::mpStopped);
        QCOMPARE(form->MP2->Mode(), TMPModes::mpStopped);
    }
};

int main(int argc, char** argv)
{
    app::TApplication application(argc, argv);
    TestFormMedia test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_form_media.moc"
