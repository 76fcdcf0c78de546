// SPDX-License-Identifier: MIT
// The main window on the offscreen platform, with fake media engines: its controls, the
// opening of files into the slots, the open dialog, window moves and the error box.
#include "FakeMediaEngine.h"
#include "RecordingShell.h"
#include "Unit1.h"
#include "app/TApplication.h"
#include "controls/TImage.h"
#include "controls/TLabel.h"
#include "media/EMCIDeviceError.h"

#include <QApplication>
#include <QFileDialog>
#include <QLineEdit>
#include <QListView>
#include <QStyle>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QToolTip>

using controls::TImage;
using controls::TLabel;
using testsupport::FakeMedia;
using testsupport::FakeMediaEngine;

namespace {

std::unique_ptr<TForm1> MakeForm(
    const std::shared_ptr<FakeMedia>& media, shell::ShellServices& shell)
{
    return std::make_unique<TForm1>(
        [media] { return std::make_unique<FakeMediaEngine>(media); }, shell);
}

app::TApplication* App()
{
    return static_cast<app::TApplication*>(QCoreApplication::instance());
}

// Answers the dialog once it is up and its folder listed, as a user would who sees the list
// before typing: types `name` and accepts, or cancels when name is empty.
void AnswerDialog(QFileDialog* dialog, const QString& name, QString* startedWith = nullptr)
{
    auto* poll = new QTimer(dialog);
    poll->setInterval(10);
    auto* waited = new int(0);
    QObject::connect(poll, &QObject::destroyed, [waited] { delete waited; });
    QObject::connect(poll, &QTimer::timeout, dialog, [=] {
        if (!dialog->isVisible())
            return;
        auto* list = dialog->findChild<QListView*>("listView");
        const bool listed = list && list->model() && list->model()->rowCount(list->rootIndex()) > 0;
        if (!listed && ++*waited < 500)
            return;
        poll->deleteLater();
        if (startedWith)
            *startedWith = dialog->selectedFiles().value(0);
        if (name.isEmpty()) {
            dialog->reject();
            return;
        }
        // Typed into the name field, as a user would.
        auto* edit = dialog->findChild<QLineEdit*>("fileNameEdit");
        if (!edit) {
            dialog->reject();
            QFAIL("the open dialog has no file name field");
        }
        // The field must have the focus, as it has under a user's typing: only then does
        // the typed name replace the file selected in the list instead of joining it.
        QApplication::setActiveWindow(dialog);
        edit->setFocus();
        if (!edit->hasFocus()) {
            dialog->reject();
            QFAIL("the open dialog's name field did not take the focus");
        }
        edit->setText(name);
        QMetaObject::invokeMethod(dialog, "accept");
    });
    poll->start();
}

} // namespace

class TestForm : public QObject {
    Q_OBJECT
    std::shared_ptr<FakeMedia> media;
    testsupport::RecordingShell shell;
    std::unique_ptr<TForm1> form;
    QStringList errors;

private slots:
    void init()
    {
        media = std::make_shared<FakeMedia>();
        media->lengths = {{"/m/top.wav", 180000}, {"/m/bottom.flac", 240000},
            {"/m/short.ogg", 61000}, {"/Rock & Roll/A&B.wav", 1000}};
        errors.clear();
        App()->setErrorPresenter(
            [this](const QString& title, const QString& text) { errors << title + "|" + text; });
        form = MakeForm(media, shell);
        form->show();
        QVERIFY(QTest::qWaitForWindowExposed(form.get()));
    }
    void cleanup() { form.reset(); }

    // The window: frameless, 490 × 202 at the top-left corner, in the window colour.
    void window()
    {
        QVERIFY(form->windowFlags().testFlag(Qt::FramelessWindowHint));
        QCOMPARE(form->geometry(), QRect(0, 0, 490, 202));
        QCOMPARE(form->palette().color(QPalette::Window), QColor(30, 30, 30));
        QVERIFY(form->acceptDrops());
        QVERIFY(!form->TopLoaded);
        QVERIFY(!form->BottomLoaded);
        QCOMPARE(form->CurrentPlayer, nullptr);
        QVERIFY(!form->Timer1->isActive());
        QCOMPARE(form->Timer1->interval(), 1000);
        QCOMPARE(form->windowTitle(), App()->title());
    }

    // Every control in creation order (which is stacking order) with its place and look.
    void controls()
    {
        // The three time labels are sized to "0:00": 24 pixels in the carried Tahoma at
        // 12 px (the design's 25 is the same text measured by Windows).
        constexpr int kZeroTime = 24;
        struct Row {
            QWidget* w;
            QRect r;
        };
        const Row rows[] = {{form->BG, {0, 0, 490, 202}}, {form->Label3, {24, 128, 325, 16}},
            {form->Label4, {24, 152, 325, 14}}, {form->Label5, {24, 40, 325, 14}},
            {form->Label6, {24, 64, 325, 16}}, {form->Label7, {432, 96, kZeroTime, 14}},
            {form->Label2, {432, 128, kZeroTime, 14}}, {form->Label1, {432, 72, kZeroTime, 14}},
            {form->Image1, {356, 35, 29, 21}}, {form->Image2, {356, 65, 29, 21}},
            {form->Image3, {392, 65, 29, 21}}, {form->Image4, {356, 155, 29, 21}},
            {form->Image5, {356, 125, 29, 21}}, {form->Image6, {392, 125, 29, 21}},
            {form->PG2, {24, 95, 395, 21}}, {form->PG1, {23, 96, 398, 19}},
            {form->Image7, {464, 1, 29, 21}}, {form->PGClick, {23, 96, 398, 19}},
            {form->Image8, {-3, 1, 29, 21}}, {form->Image9, {392, 35, 29, 21}},
            {form->Image10, {392, 155, 29, 21}}, {form->Panel1, {16, 32, 457, 150}}};
        QList<QWidget*> order;
        for (QObject* child : form->children()) {
            if (auto* w = qobject_cast<QWidget*>(child); w && !w->isWindow())
                order << w;
        }
        QCOMPARE(order.size(), std::size(rows));
        for (size_t i = 0; i < std::size(rows); ++i) {
            QCOMPARE(order[i], rows[i].w);
            QCOMPARE(rows[i].w->geometry(), rows[i].r);
        }
        QVERIFY(form->Panel1->isHidden());
        // The close glyph hangs 3 columns off the right edge, the about glyph off the left.
        QCOMPARE(form->Image7->geometry().right(), 492);
        QCOMPARE(form->Image8->x(), -3);
    }

    // Each label's text, font, colour, sizing and hint.
    void labels_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("pixels");
        QTest::addColumn<bool>("bold");
        QTest::addColumn<QColor>("colour");
        QTest::addColumn<bool>("fixed");
        QTest::addColumn<int>("left");
        const QColor normal(189, 127, 255), accent(139, 30, 255);
        QTest::newRow("Label3") << "Label3"
                                << "--" << 13 << true << accent << true << 24;
        QTest::newRow("Label4") << "Label4"
                                << "--" << 12 << false << normal << true << 24;
        QTest::newRow("Label5") << "Label5"
                                << "--" << 12 << false << normal << true << 24;
        QTest::newRow("Label6") << "Label6"
                                << "--" << 13 << true << accent << true << 24;
        QTest::newRow("Label7") << "Label7"
                                << "0:00" << 12 << false << accent << false << 432;
        QTest::newRow("Label2") << "Label2"
                                << "0:00" << 12 << false << normal << false << 432;
        QTest::newRow("Label1") << "Label1"
                                << "0:00" << 12 << false << normal << false << 432;
    }
    void labels()
    {
        QFETCH(QString, name);
        QFETCH(QString, text);
        QFETCH(int, pixels);
        QFETCH(bool, bold);
        QFETCH(QColor, colour);
        QFETCH(bool, fixed);
        QFETCH(int, left);
        const std::map<QString, TLabel*> byName = {{"Label1", form->Label1},
            {"Label2", form->Label2}, {"Label3", form->Label3}, {"Label4", form->Label4},
            {"Label5", form->Label5}, {"Label6", form->Label6}, {"Label7", form->Label7}};
        TLabel* label = byName.at(name);
        QCOMPARE(label->text(), text);
        QCOMPARE(label->font().family(), QString("Tahoma"));
        QCOMPARE(QFontInfo(label->font()).family(), QString("Tahoma"));
        QCOMPARE(label->font().pixelSize(), pixels);
        QCOMPARE(label->font().bold(), bold);
        QCOMPARE(label->color(), colour);
        QVERIFY(!label->autoFillBackground());
        QCOMPARE(label->textFormat(), Qt::PlainText);
        const int widthBefore = label->width();
        label->setCaption("a much longer caption than before");
        QCOMPARE(label->width() == widthBefore, fixed);
        // A label sized to its text grows to the right: its left edge stays where it was made.
        QCOMPARE(label->x(), left);
    }

    // Tooltips: the two X buttons name their action; the glyphs without a hint show none.
    void hints()
    {
        QCOMPARE(form->Image1->hint(), QString("Move file to Recycle Bin"));
        QCOMPARE(form->Image4->hint(), QString("Move file to Recycle Bin"));
        for (TImage* image : {form->Image2, form->Image3, form->Image5, form->Image6, form->Image7,
                 form->Image8, form->Image9, form->Image10, form->BG})
            QVERIFY(image->hint().isEmpty());
        QCOMPARE(form->Label11->hint(), QString("Visit our website"));
        QCOMPARE(QApplication::style()->styleHint(QStyle::SH_ToolTip_WakeUpDelay), 500);
    }

    // A tooltip event on a control with a hint shows it; one without a hint shows nothing.
    void tooltips_data()
    {
        QTest::addColumn<QString>("control");
        QTest::addColumn<QString>("shown");
        QTest::newRow("X button") << "Image4"
                                  << "Move file to Recycle Bin";
        QTest::newRow("play button") << "Image2"
                                     << "";
        QTest::newRow("empty name label") << "Label3"
                                          << "";
    }
    void tooltips()
    {
        QFETCH(QString, control);
        QFETCH(QString, shown);
        const std::map<QString, QWidget*> controls
            = {{"Image4", form->Image4}, {"Image2", form->Image2}, {"Label3", form->Label3}};
        QWidget* w = controls.at(control);
        QToolTip::hideText();
        QHelpEvent help(QEvent::ToolTip, QPoint(3, 3), w->mapToGlobal(QPoint(3, 3)));
        QApplication::sendEvent(w, &help);
        QCOMPARE(QToolTip::isVisible() ? QToolTip::text() : QString(), shown);
        QToolTip::hideText();
    }

    // An open fills the slot's labels, flag and current player, and sets the bar's Max to
    // the longer length of the loaded slots.
    void openSteps_data()
    {
        QTest::addColumn<QStringList>("opens"); // "top:/path" or "bottom:/path", in order
        QTest::addColumn<int>("max");
        QTest::addColumn<QString>("current");
        QTest::newRow("top alone") << QStringList {"top:/m/top.wav"} << 180000 << "MP1";
        QTest::newRow("bottom alone") << QStringList {"bottom:/m/short.ogg"} << 61000 << "MP2";
        QTest::newRow("both, longer below")
            << QStringList {"top:/m/top.wav", "bottom:/m/bottom.flac"} << 240000 << "MP2";
        QTest::newRow("both, longer above")
            << QStringList {"bottom:/m/short.ogg", "top:/m/top.wav"} << 180000 << "MP1";
        QTest::newRow("bottom reopened with a shorter file")
            << QStringList {"top:/m/top.wav", "bottom:/m/bottom.flac", "bottom:/m/short.ogg"}
            << 180000 << "MP2";
    }
    void openSteps()
    {
        QFETCH(QStringList, opens);
        QFETCH(int, max);
        QFETCH(QString, current);
        for (const QString& open : opens) {
            const QString path = open.section(':', 1);
            if (open.startsWith("top"))
                form->OpenTopFile(path);
            else
                form->OpenBottomFile(path);
        }
        QCOMPARE(form->PG1->Max, max);
        QCOMPARE(form->CurrentPlayer, current == "MP1" ? form->MP1.get() : form->MP2.get());
        QCOMPARE(form->Label7->text(), QString("0:00"));
        QVERIFY(!form->Timer1->isActive());
    }

    // The labels of a slot after an open: length, folder with its "/", name and its hint.
    void openLabels()
    {
        form->OpenTopFile("/m/top.wav");
        form->OpenBottomFile("/Rock & Roll/A&B.wav");
        QCOMPARE(form->Label1->text(), QString("3:00"));
        QCOMPARE(form->Label5->text(), QString("/m/"));
        QCOMPARE(form->Label6->text(), QString("top.wav"));
        QCOMPARE(form->Label6->hint(), QString("top.wav"));
        QCOMPARE(form->Label2->text(), QString("0:01"));
        QCOMPARE(form->Label4->text(), QString("/Rock & Roll/"));
        // An "&" in a name is shown as it is, never as a mnemonic.
        QCOMPARE(form->Label3->text(), QString("A&B.wav"));
        QCOMPARE(form->Label3->hint(), QString("A&B.wav"));
        QVERIFY(form->TopLoaded);
        QVERIFY(form->BottomLoaded);
    }

    // A failed open changes the player's file name and closes it, but nothing else.
    void failedOpenKeepsTheSlot()
    {
        form->OpenTopFile("/m/top.wav");
        bool raised = false;
        try {
            form->OpenBottomFile("/m/missing.wav");
        } catch (const media::EMCIDeviceError& e) {
            raised = QString(e.what()) == "Resource not found.";
        }
        QVERIFY(raised);
        QCOMPARE(form->MP2->FileName, QString("/m/missing.wav"));
        QVERIFY(!form->MP2->isOpen());
        QVERIFY(!form->BottomLoaded);
        QCOMPARE(form->Label3->text(), QString("--"));
        QCOMPARE(form->Label2->text(), QString("0:00"));
        QCOMPARE(form->CurrentPlayer, form->MP1.get());
        QCOMPARE(form->PG1->Max, 180000);
    }

    // With both slots loaded but both players closed (as a move to the trash leaves them),
    // the next open completes and the bar follows the file just opened.
    void openAfterPlayersClosed()
    {
        form->OpenTopFile("/m/top.wav");
        form->OpenBottomFile("/m/bottom.flac");
        form->MP1->Close();
        form->MP2->Close();
        form->OpenTopFile("/m/short.ogg");
        QCOMPARE(form->PG1->Max, 61000);
        QCOMPARE(form->Label1->text(), QString("1:01"));
        QVERIFY(form->TopLoaded && form->BottomLoaded);
        form->OpenBottomFile("/m/bottom.flac");
        QCOMPARE(form->PG1->Max, 240000);
    }

    // The open buttons run one shared dialog; it starts with the file chosen last, a
    // cancel changes nothing, and a name that does not exist fails at the open.
    void openButtons()
    {
        // The dialog shows real folders, so the files it picks must exist.
        QTemporaryDir dir;
        const QString top = dir.filePath("top.wav"), bottom = dir.filePath("bottom.flac");
        for (const QString& path : {top, bottom}) {
            QFile file(path);
            QVERIFY(file.open(QIODevice::WriteOnly));
            media->lengths.insert(path, 1000);
        }
        QString startedWith;
        AnswerDialog(form->OpenDialog1, top);
        QTest::mouseClick(form->Image9, Qt::LeftButton);
        QCOMPARE(form->Label6->text(), QString("top.wav"));
        QCOMPARE(form->Label5->text(), dir.path() + "/");

        AnswerDialog(form->OpenDialog1, bottom, &startedWith);
        QTest::mouseClick(form->Image10, Qt::LeftButton);
        QCOMPARE(startedWith, top);
        QCOMPARE(form->Label3->text(), QString("bottom.flac"));
        QCOMPARE(form->CurrentPlayer, form->MP2.get());

        const QStringList before = media->log;
        AnswerDialog(form->OpenDialog1, QString(), &startedWith);
        QTest::mouseClick(form->Image9, Qt::LeftButton);
        QCOMPARE(startedWith, bottom);
        QCOMPARE(media->log, before);
        QCOMPARE(form->Label6->text(), QString("top.wav"));

        const QString missing = dir.filePath("not there.wav");
        AnswerDialog(form->OpenDialog1, missing);
        QTest::mouseClick(form->Image9, Qt::LeftButton);
        QCOMPARE(errors, QStringList {App()->title() + "|Resource not found."});
        QCOMPARE(form->MP1->FileName, missing);
        QCOMPARE(form->Label6->text(), QString("top.wav"));
    }

    // An exception leaving any event handler is shown in the error box with the title,
    // a full stop added where the text lacks one; the program goes on.
    void exceptionLeavingAHandler()
    {
        struct Thrower : QObject {
            bool event(QEvent*) override { throw media::EMCIDeviceError("No MCI device open"); }
        } thrower;
        QCoreApplication::postEvent(&thrower, new QEvent(QEvent::User));
        QCoreApplication::sendPostedEvents(&thrower);
        QCOMPARE(errors, QStringList {App()->title() + "|No MCI device open."});
    }

    // Only presses of any button on the background move the window; presses on labels,
    // the bar and glyph buttons do not. (The offscreen platform cannot move windows
    // itself, so this runs the hand-made move.)
    void moveByBackground_data()
    {
        QTest::addColumn<QString>("where");
        QTest::addColumn<int>("button");
        QTest::addColumn<bool>("moves");
        QTest::newRow("background, left") << "BG" << int(Qt::LeftButton) << true;
        QTest::newRow("background, right") << "BG" << int(Qt::RightButton) << true;
        QTest::newRow("background, middle") << "BG" << int(Qt::MiddleButton) << true;
        QTest::newRow("file name label") << "Label6" << int(Qt::LeftButton) << false;
        QTest::newRow("bar") << "PGClick" << int(Qt::LeftButton) << false;
        QTest::newRow("play button") << "Image2" << int(Qt::LeftButton) << false;
        QTest::newRow("length label") << "Label1" << int(Qt::RightButton) << false;
    }
    void moveByBackground()
    {
        QFETCH(QString, where);
        QFETCH(int, button);
        QFETCH(bool, moves);
        const std::map<QString, QWidget*> targets = {{"BG", form->BG}, {"Label6", form->Label6},
            {"PGClick", form->PGClick}, {"Image2", form->Image2}, {"Label1", form->Label1}};
        QWidget* target = targets.at(where);
        const QPoint local = where == "BG" ? QPoint(200, 185) : QPoint(3, 3);
        QCOMPARE(form->childAt(target->mapTo(form.get(), local)), target);
        const auto b = static_cast<Qt::MouseButton>(button);
        const QPoint start = form->pos();
        QTest::mousePress(target, b, {}, local);
        QMouseEvent move(QEvent::MouseMove, QPointF(local + QPoint(40, 25)),
            QPointF(target->mapToGlobal(local) + QPoint(40, 25)), Qt::NoButton, b, {});
        QApplication::sendEvent(target, &move);
        QTest::mouseRelease(target, b, {}, local + QPoint(40, 25));
        QCOMPARE(form->pos(), moves ? start + QPoint(40, 25) : start);
    }

    // The dot glyph closes the window.
    void closeButton()
    {
        QTest::mouseClick(form->Image7, Qt::LeftButton, {}, QPoint(14, 10));
        QVERIFY(!form->isVisible());
    }

    // Only names whose extension is ".lnk" in any case are shortcuts; anything else comes
    // back unchanged. A name that ends in ".lnk" but is no readable shortcut gives "".
    void decodeLnkExtension_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<QString>("result");
        QTest::newRow("plain file") << "/m/a.mp3"
                                    << "/m/a.mp3";
        QTest::newRow("windows path") << "C:\\music\\a.mp3"
                                      << "C:\\music\\a.mp3";
        QTest::newRow("dot in a folder") << "/m/music.lnk/a"
                                         << "/m/music.lnk/a";
        QTest::newRow("no extension") << "/m/lnk"
                                      << "/m/lnk";
        QTest::newRow("longer extension") << "/m/a.lnkx"
                                          << "/m/a.lnkx";
        QTest::newRow("lower case") << "/nonexistent/song.lnk"
                                    << "";
        QTest::newRow("upper case") << "/nonexistent/song.LNK"
                                    << "";
        QTest::newRow("mixed case") << "/nonexistent/song.Lnk"
                                    << "";
    }
    void decodeLnkExtension()
    {
        QFETCH(QString, path);
        QFETCH(QString, result);
        QCOMPARE(form->DecodeLNK(path), result);
    }
};

int main(int argc, char** argv)
{
    app::TApplication application(argc, argv);
    TestForm test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_form.moc"
