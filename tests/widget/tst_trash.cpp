// SPDX-License-Identifier: MIT
// The X buttons against a real trash folder in a private HOME, checked with trash-cli, and
// the about panel with its link, through mouse events on the offscreen platform.
#include "FakeMediaEngine.h"
#include "RecordingShell.h"
#include "Unit1.h"
#include "app/TApplication.h"
#include "controls/TImage.h"
#include "controls/TLabel.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <unistd.h>

using testsupport::FakeMedia;
using testsupport::FakeMediaEngine;

namespace {

const QPoint kInside(14, 10);

QString Run(const QString& program, const QStringList& args, const QByteArray& input = {})
{
    QProcess p;
    p.start(program, args);
    p.write(input);
    p.closeWriteChannel();
    if (!p.waitForFinished(30000))
        return QStringLiteral("(timed out)");
    return QString::fromUtf8(p.readAllStandardOutput() + p.readAllStandardError());
}

void write(const QString& path, const QByteArray& bytes)
{
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write(bytes);
}

QByteArray Read(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("(unreadable)");
}

// A file system of its own mounted on a folder, as a USB stick or a RAM disk would be, and
// unmounted again whatever the test did.
class Mount {
public:
    // An ext4 image on a loop device, or a tmpfs; error() says why it could not be mounted.
    Mount(const QString& folder, bool tmpfs)
        : point_(folder + "/mnt")
    {
        QDir().mkpath(point_);
        QProcess p;
        if (!tmpfs) {
            const QString image = folder + "/disk.img";
            p.start("truncate", {"-s", "32M", image});
            p.waitForFinished();
            p.start("mkfs.ext4", {"-q", "-F", image});
            if (!p.waitForFinished(30000) || p.exitCode() != 0) {
                error_ = "mkfs.ext4 failed: " + QString::fromUtf8(p.readAllStandardError());
                return;
            }
            p.start("mount", {"-o", "loop", image, point_});
        } else {
            p.start("mount", {"-t", "tmpfs", "-o", "size=8m", "none", point_});
        }
        if (!p.waitForFinished(30000) || p.exitCode() != 0) {
            error_ = QStringLiteral("this machine does not let the test mount a file system "
                                    "(mount says: %1); the test needs root and loop devices")
                         .arg(QString::fromUtf8(p.readAllStandardError()).trimmed());
            return;
        }
        mounted_ = true;
    }
    ~Mount()
    {
        if (mounted_)
            QProcess::execute("umount", {point_});
    }
    const QString& error() const { return error_; }
    QString path(const QString& name) const { return point_ + "/" + name; }

private:
    QString point_;
    QString error_;
    bool mounted_ = false;
};

} // namespace

class TestTrash : public QObject {
    Q_OBJECT
    std::shared_ptr<FakeMedia> media;
    testsupport::RecordingShell shell;
    std::unique_ptr<TForm1> form;
    QTemporaryDir* music = nullptr;
    QStringList errors; // what the error box showed, as "title|text"

    QString file(const QString& name, const QByteArray& bytes = "RIFF....WAVE")
    {
        const QString path = music->filePath(name);
        write(path, bytes);
        media->lengths.insert(path, 60000);
        return path;
    }

private slots:
    void init()
    {
        music = new QTemporaryDir;
        media = std::make_shared<FakeMedia>();
        shell.messages.clear();
        shell.urls.clear();
        errors.clear();
        static_cast<app::TApplication*>(QCoreApplication::instance())
            ->setErrorPresenter([this](const QString& title, const QString& text) {
                errors << title + "|" + text;
            });
        form = std::make_unique<TForm1>(
            [this] { return std::make_unique<FakeMediaEngine>(media); }, shell);
        form->show();
        QVERIFY(QTest::qWaitForWindowExposed(form.get()));
    }
    void cleanup()
    {
        form.reset();
        delete music;
    }

    // The top X moves the bottom file to the trash, whatever its name; trash-cli lists it
    // under its own path and restores it byte for byte. Both players close, the tick stops.
    void topXTrashesTheBottomFile_data()
    {
        QTest::addColumn<QString>("name");
        QTest::newRow("plain") << "take 2.wav";
        QTest::newRow("percent") << "100% done.wav";
        QTest::newRow("non-ASCII") << QString::fromUtf8("Ärger – Mädchen 🎵.flac");
        QTest::newRow("ampersand and hash") << "A&B #1.mp3";
    }
    void topXTrashesTheBottomFile()
    {
        QFETCH(QString, name);
        const QByteArray content = "bytes of " + name.toUtf8() + QByteArray(5000, '\x7f');
        const QString top = file("keep.wav"), bottom = file(name, content);
        form->AcceptFiles({top, bottom});
        QVERIFY(form->Timer1->isActive());
        QTest::mouseClick(form->Image1, Qt::LeftButton, {}, kInside);
        QVERIFY(shell.messages.isEmpty());
        QVERIFY(!QFile::exists(bottom));
        QVERIFY(QFile::exists(top));
        QCOMPARE(form->Label3->text(), QString("--"));
        QCOMPARE(form->Label6->text(), QString("keep.wav"));
        QVERIFY(!form->MP1->isOpen() && !form->MP2->isOpen());
        QVERIFY(!form->Timer1->isActive());
        QVERIFY(form->TopLoaded && form->BottomLoaded);
        QVERIFY2(Run("trash-list", {}).contains(bottom), qPrintable(Run("trash-list", {})));
        Run("trash-restore", {bottom}, "0\n");
        QCOMPARE(Read(bottom), content);
    }

    // A file on a second mounted file system (a USB stick) goes to that file system's own
    // trash, .Trash-<uid> at its top, and trash-restore brings it back byte for byte.
    void fileOnAnotherFileSystem()
    {
        Mount stick(music->path(), false);
        QVERIFY2(stick.error().isEmpty(), qPrintable(stick.error()));
        const QByteArray content = "a take on the stick" + QByteArray(20000, '\x55');
        const QString bottom = stick.path("take 3.wav");
        write(bottom, content);
        media->lengths.insert(bottom, 60000);
        form->AcceptFiles({file("keep.wav"), bottom});
        QTest::mouseClick(form->Image1, Qt::LeftButton, {}, kInside);
        QCOMPARE(errors, QStringList());
        QVERIFY(!QFile::exists(bottom));
        const QString trash = stick.path(QStringLiteral(".Trash-%1").arg(::getuid()));
        QCOMPARE(Read(trash + "/files/take 3.wav"), content);
        QVERIFY(QFile::exists(trash + "/info/take 3.wav.trashinfo"));
        QVERIFY2(Run("trash-list", {}).contains(bottom), qPrintable(Run("trash-list", {})));
        Run("trash-restore", {bottom}, "0\n");
        QCOMPARE(Read(bottom), content);
    }

    // A RAM disk has no trash: GIO refuses, the error box says so, and the file stays where
    // it was, byte for byte, with its name still shown.
    void fileOnARamDiskStays()
    {
        Mount ram(music->path(), true);
        QVERIFY2(ram.error().isEmpty(), qPrintable(ram.error()));
        const QByteArray content = "a take in memory" + QByteArray(3000, '\x2a');
        const QString bottom = ram.path("take 4.wav");
        write(bottom, content);
        media->lengths.insert(bottom, 60000);
        form->AcceptFiles({file("keep.wav"), bottom});
        QTest::mouseClick(form->Image1, Qt::LeftButton, {}, kInside);
        QCOMPARE(errors.size(), 1);
        QVERIFY2(errors[0].contains("Trashing on system internal mounts is not supported"),
            qPrintable(errors[0]));
        QCOMPARE(Read(bottom), content);
        QCOMPARE(form->Label3->text(), QString("take 4.wav"));
    }

    // The bottom X moves the top file; a second click finds nothing more to move.
    void bottomXAndASecondClick()
    {
        const QString top = file("a.wav"), bottom = file("b.wav");
        form->OpenTopFile(top);
        form->OpenBottomFile(bottom);
        QTest::mouseClick(form->Image4, Qt::LeftButton, {}, kInside);
        QVERIFY(!QFile::exists(top));
        QCOMPARE(form->Label6->text(), QString("--"));
        QCOMPARE(form->Label3->text(), QString("b.wav"));
        QTest::mouseClick(form->Image4, Qt::LeftButton, {}, kInside);
        QVERIFY(shell.messages.isEmpty());
        QVERIFY(QFile::exists(bottom));
    }

    // An X whose own row was never loaded does nothing but light up and go out.
    void unarmedX()
    {
        const QString bottom = file("b.wav");
        form->OpenBottomFile(bottom);
        QTest::mouseClick(form->Image1, Qt::LeftButton, {}, kInside);
        QVERIFY(QFile::exists(bottom));
        QVERIFY(form->MP2->isOpen());
    }

    // With no file ever shown in the other slot nothing is trashed, but the players still
    // close and the tick stops.
    void nothingShownNothingTrashed()
    {
        QVERIFY_THROWS_EXCEPTION(
            std::exception, form->AcceptFiles({file("a.wav"), music->filePath("missing.wav")}));
        QTest::mouseClick(form->Image1, Qt::LeftButton, {}, kInside);
        QVERIFY(shell.messages.isEmpty());
        QVERIFY(!form->MP1->isOpen());
        QVERIFY(!form->Timer1->isActive());
        QCOMPARE(form->Label3->text(), QString("--"));
    }

    // After a failed open into the bottom slot, the top X disposes of the file the bottom
    // slot still shows, never of the document whose open failed.
    void failedOpenIsNeverTrashed()
    {
        const QString shown = file("b.wav");
        const QString document = music->filePath("thesis.odt");
        write(document, "my thesis");
        form->OpenTopFile(file("a.wav"));
        form->OpenBottomFile(shown);
        try {
            form->OpenBottomFile(document);
        } catch (const std::exception&) {
        }
        QCOMPARE(form->MP2->FileName, document);
        QTest::mouseClick(form->Image1, Qt::LeftButton, {}, kInside);
        QCOMPARE(Read(document), QByteArray("my thesis"));
        QVERIFY(!QFile::exists(shown));
    }

    // A move that fails says which file and why in the error box, as every failure is shown
    // (the application's title, its full stop), and leaves the file and its name in place.
    void failedMoveIsReported()
    {
        const auto* application = static_cast<app::TApplication*>(QCoreApplication::instance());
        const QString bottom = file("gone.wav");
        form->OpenTopFile(file("a.wav"));
        form->OpenBottomFile(bottom);
        QFile::remove(bottom);
        QTest::mouseClick(form->Image1, Qt::LeftButton, {}, kInside);
        QCOMPARE(shell.messages, QStringList());
        QCOMPARE(errors.size(), 1);
        QVERIFY2(errors[0].startsWith(
                     application->title() + "|Could not move \"" + bottom + "\" to the trash: "),
            qPrintable(errors[0]));
        QVERIFY2(errors[0].endsWith('.'), qPrintable(errors[0]));
        QCOMPARE(form->Label3->text(), QString("gone.wav"));
    }

    // The question mark shows the panel over the middle of the window; a click on its own
    // area hides it, a click on one of its texts does not.
    void aboutPanel()
    {
        QTest::mouseClick(form->Image8, Qt::LeftButton, {}, kInside);
        QVERIFY(form->Panel1->isVisible());
        QCOMPARE(form->Panel1->geometry(), QRect(16, 32, 457, 150));
        QTest::mouseClick(form->Image8, Qt::LeftButton, {}, kInside);
        QVERIFY(form->Panel1->isVisible());
        QTest::mouseClick(form->Label10, Qt::LeftButton, {}, QPoint(5, 5));
        QVERIFY(form->Panel1->isVisible());
        QCOMPARE(form->Label12->text(),
            QString("Quick tip: drag & drop 2 files onto the program to open them."));
        QTest::mouseClick(form->Panel1, Qt::LeftButton, {}, QPoint(10, 140));
        QVERIFY(!form->Panel1->isVisible());
    }

    // The link opens the English page, keeps the panel up, and lights while hovered.
    void link()
    {
        form->Image8Click();
        QCOMPARE(form->Label11->cursor().shape(), Qt::PointingHandCursor);
        QEnterEvent enter(QPointF(2, 2), QPointF(2, 2), QPointF(2, 2));
        QApplication::sendEvent(form->Label11, &enter);
        QCOMPARE(form->Label11->color(), QColor(139, 30, 255));
        QEvent leave(QEvent::Leave);
        QApplication::sendEvent(form->Label11, &leave);
        QCOMPARE(form->Label11->color(), QColor(189, 127, 255));
        QTest::mouseClick(form->Label11, Qt::LeftButton, {}, QPoint(3, 3));
        QCOMPARE(shell.urls, QList<QUrl> {QUrl("https://" + form->Label11->text() + "/en/")});
        QVERIFY(form->Panel1->isVisible());
    }

    // The desktop's own URL handler reaches the browser that BROWSER names.
    void realBrowser()
    {
        QTemporaryDir dir;
        const QString script = dir.filePath("browser"), seen = dir.filePath("seen");
        write(script, "#!/bin/sh\necho \"$1\" > '" + seen.toUtf8() + "'\n");
        QFile::setPermissions(script, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        qputenv("BROWSER", script.toUtf8());
        shell::DesktopShell desktop;
        QVERIFY(desktop.openUrl(QUrl("https://tandrel.example/en/")));
        QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(seen) && !Read(seen).isEmpty(), 10000);
        QCOMPARE(Read(seen).trimmed(), QByteArray("https://tandrel.example/en/"));
    }
};

int main(int argc, char** argv)
{
    // A private home, so the real trash these tests fill is their own.
    QTemporaryDir home;
    qputenv("HOME", home.path().toUtf8());
    qputenv("XDG_DATA_HOME", (home.path() + "/.local/share").toUtf8());
    QDir().mkpath(home.path() + "/.local/share");
    app::TApplication application(argc, argv);
    TestTrash test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_trash.moc"
