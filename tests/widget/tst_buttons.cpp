// SPDX-License-Identifier: MIT
// The glyph buttons under real mouse events on the offscreen platform: which presses light
// them, which releases put them out, when a click follows, and the transport group.
#include "FakeMediaEngine.h"
#include "RecordingShell.h"
#include "Unit1.h"
#include "app/TApplication.h"
#include "controls/TImage.h"
#include "skin/Skin.h"

#include <QFileDialog>
#include <QTest>
#include <QTimer>

using controls::TImage;
using testsupport::FakeMedia;
using testsupport::FakeMediaEngine;

namespace {

int CountColour(const QImage& image, const QColor& colour)
{
    int n = 0;
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x)
            n += image.pixelColor(x, y) == colour;
    }
    return n;
}

int Lit(TImage* image)
{
    return CountColour(image->picture(), skin::kAccentColour);
}

const QPoint kInside(14, 10);
const QPoint kOutside(60, 40);

} // namespace

class TestButtons : public QObject {
    Q_OBJECT
    std::shared_ptr<FakeMedia> media;
    testsupport::RecordingShell shell;
    std::unique_ptr<TForm1> form;
    QStringList errors;
    int dialogsShown = 0;

    TImage* byName(const QString& name) { return form->findChild<TImage*>(name); }

    // Counts open dialogs and cancels each at once, so a stray click cannot hang the test.
    void watchDialog()
    {
        auto* poll = new QTimer(form.get());
        connect(poll, &QTimer::timeout, this, [this] {
            if (form->OpenDialog1->isVisible()) {
                ++dialogsShown;
                form->OpenDialog1->reject();
            }
        });
        poll->start(5);
    }

    void loadBoth()
    {
        form->OpenTopFile("/m/a.wav");
        form->OpenBottomFile("/m/b.wav");
    }

private slots:
    void init()
    {
        media = std::make_shared<FakeMedia>();
        media->lengths = {{"/m/a.wav", 5000}, {"/m/b.wav", 7000}};
        errors.clear();
        dialogsShown = 0;
        static_cast<app::TApplication*>(QCoreApplication::instance())
            ->setErrorPresenter([this](const QString&, const QString& text) { errors << text; });
        form = std::make_unique<TForm1>(
            [this] { return std::make_unique<FakeMediaEngine>(media); }, shell);
        const std::pair<TImage*, const char*> names[] = {{form->Image1, "Image1"},
            {form->Image2, "Image2"}, {form->Image3, "Image3"}, {form->Image4, "Image4"},
            {form->Image5, "Image5"}, {form->Image6, "Image6"}, {form->Image7, "Image7"},
            {form->Image8, "Image8"}, {form->Image9, "Image9"}, {form->Image10, "Image10"}};
        for (const auto& [image, name] : names)
            image->setObjectName(name);
        form->show();
        QVERIFY(QTest::qWaitForWindowExposed(form.get()));
        watchDialog();
    }
    void cleanup() { form.reset(); }

    // A press of any button lights the parts of the glyph that hold a seed; the release puts
    // out the recycle, about and open buttons but leaves the transport and close buttons lit.
    void lighting_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<int>("button");
        QTest::addColumn<int>("litPixels");
        QTest::addColumn<bool>("staysLit");
        for (int b : {int(Qt::LeftButton), int(Qt::RightButton), int(Qt::MiddleButton)}) {
            const QByteArray suffix = b == Qt::LeftButton ? " left"
                : b == Qt::RightButton                    ? " right"
                                                          : " middle";
            QTest::newRow("X top" + suffix) << "Image1" << b << 93 << false;
            QTest::newRow("play top" + suffix) << "Image2" << b << 85 << true;
            QTest::newRow("pause top" + suffix) << "Image3" << b << 88 << true;
            QTest::newRow("X bottom" + suffix) << "Image4" << b << 93 << false;
            QTest::newRow("play bottom" + suffix) << "Image5" << b << 85 << true;
            QTest::newRow("pause bottom" + suffix) << "Image6" << b << 88 << true;
            QTest::newRow("about" + suffix) << "Image8" << b << 45 << false;
            QTest::newRow("open top" + suffix) << "Image9" << b << 112 << false;
            QTest::newRow("open bottom" + suffix) << "Image10" << b << 112 << false;
        }
    }
    void lighting()
    {
        QFETCH(QString, name);
        QFETCH(int, button);
        QFETCH(int, litPixels);
        QFETCH(bool, staysLit);
        TImage* image = byName(name);
        const QImage before = image->picture();
        const int normalBefore = CountColour(before, skin::kNormalColour);
        // Released off the button, so that no click (and no dialog) follows.
        QTest::mousePress(image, Qt::MouseButton(button), {}, kInside);
        QCOMPARE(Lit(image), litPixels);
        QCOMPARE(CountColour(image->picture(), skin::kNormalColour), normalBefore - litPixels);
        QTest::mouseRelease(image, Qt::MouseButton(button), {}, kOutside);
        QCOMPARE(Lit(image), staysLit ? litPixels : 0);
        // The white ground, and so the button's shape, never changes.
        QCOMPARE(CountColour(image->picture(), Qt::white), CountColour(before, Qt::white));
        QCOMPARE(dialogsShown, 0);
    }

    // The close button stays lit when released off it, and does not close the window.
    void closeButtonReleasedOff()
    {
        QTest::mousePress(form->Image7, Qt::LeftButton, {}, kInside);
        QTest::mouseRelease(form->Image7, Qt::LeftButton, {}, kOutside);
        QCOMPARE(Lit(form->Image7), 78);
        QVERIFY(form->isVisible());
    }

    // Lighting the same glyph again and again changes nothing more.
    void repeatedLighting()
    {
        QTest::mouseClick(form->Image2, Qt::LeftButton, {}, kInside);
        const QImage once = form->Image2->picture();
        for (int i = 0; i < 5; ++i)
            QTest::mouseClick(form->Image2, Qt::LeftButton, {}, kInside);
        QCOMPARE(form->Image2->picture(), once);
        form->DisableButton(form->Image2);
        QCOMPARE(form->Image2->picture(), skin::glyphImage(skin::Glyph::Play));
    }

    // Only a left release over the button clicks; an open button runs its dialog on click and
    // is lit while the dialog is up.
    void clickOnlyOnLeftReleaseOver_data()
    {
        QTest::addColumn<int>("button");
        QTest::addColumn<bool>("releaseOver");
        QTest::addColumn<int>("dialogs");
        QTest::newRow("left over") << int(Qt::LeftButton) << true << 1;
        QTest::newRow("left off") << int(Qt::LeftButton) << false << 0;
        QTest::newRow("right over") << int(Qt::RightButton) << true << 0;
        QTest::newRow("middle over") << int(Qt::MiddleButton) << true << 0;
    }
    void clickOnlyOnLeftReleaseOver()
    {
        QFETCH(int, button);
        QFETCH(bool, releaseOver);
        QFETCH(int, dialogs);
        int litWhileDialogUp = -1;
        auto* probe = new QTimer(form.get());
        connect(probe, &QTimer::timeout, this, [&] {
            if (form->OpenDialog1->isVisible() && litWhileDialogUp < 0)
                litWhileDialogUp = Lit(form->Image9);
        });
        probe->start(1);
        const auto b = Qt::MouseButton(button);
        QTest::mousePress(form->Image9, b, {}, kInside);
        QTest::mouseRelease(form->Image9, b, {}, releaseOver ? kInside : kOutside);
        QCOMPARE(dialogsShown, dialogs);
        if (dialogs)
            QCOMPARE(litWhileDialogUp, 112);
        QCOMPARE(Lit(form->Image9), 0);
    }

    // The second press of a double click lights the button again but clicks nothing.
    void doubleClickClicksOnce()
    {
        loadBoth();
        media->log.clear();
        // What the window system delivers: press, release, double-click press, release.
        QTest::mouseClick(form->Image2, Qt::LeftButton, {}, kInside);
        form->DisableButton(form->Image2);
        QTest::mouseDClick(form->Image2, Qt::LeftButton, {}, kInside);
        QCOMPARE(Lit(form->Image2), 85);
        QTest::mouseRelease(form->Image2, Qt::LeftButton, {}, kInside);
        QCOMPARE(media->log.count("1:play"), 1);
        QCOMPARE(Lit(form->Image2), 85);
    }

    // Before any file the transport buttons only light up and stay lit.
    void transportBeforeAnyFile()
    {
        for (TImage* image : {form->Image2, form->Image3, form->Image5, form->Image6})
            QTest::mouseClick(image, Qt::LeftButton, {}, kInside);
        QVERIFY(media->log.isEmpty());
        QCOMPARE(form->CurrentPlayer, nullptr);
        for (TImage* image : {form->Image2, form->Image3, form->Image5, form->Image6})
            QVERIFY(Lit(image) > 0);
        QVERIFY(errors.isEmpty());
    }

    // Each transport click acts on its slot, makes it current and puts out the other three.
    void transportGroup_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("call");
        QTest::addColumn<QString>("current");
        QTest::newRow("play top") << "Image2"
                                  << "1:play"
                                  << "MP1";
        QTest::newRow("pause top") << "Image3"
                                   << ""
                                   << "MP1";
        QTest::newRow("play bottom") << "Image5"
                                     << "2:play"
                                     << "MP2";
        QTest::newRow("pause bottom") << "Image6"
                                      << ""
                                      << "MP2";
    }
    void transportGroup()
    {
        QFETCH(QString, name);
        QFETCH(QString, call);
        QFETCH(QString, current);
        loadBoth();
        // Light all four first, as if each had been pressed.
        for (TImage* image : {form->Image2, form->Image3, form->Image5, form->Image6})
            form->Image1MouseDown(image);
        media->log.clear();
        QTest::mouseClick(byName(name), Qt::LeftButton, {}, kInside);
        QCOMPARE(media->log.filter("play").join(","), call);
        QCOMPARE(form->CurrentPlayer, current == "MP1" ? form->MP1.get() : form->MP2.get());
        for (TImage* image : {form->Image2, form->Image3, form->Image5, form->Image6})
            QCOMPARE(Lit(image) > 0, image == byName(name));
    }

    // Both slots play at once; pausing twice pauses, then resumes.
    void bothPlayAndPauseToggles()
    {
        loadBoth();
        QTest::mouseClick(form->Image2, Qt::LeftButton, {}, kInside);
        QTest::mouseClick(form->Image5, Qt::LeftButton, {}, kInside);
        QCOMPARE(form->MP1->Mode(), media::TMPModes::mpPlaying);
        QCOMPARE(form->MP2->Mode(), media::TMPModes::mpPlaying);
        QCOMPARE(form->CurrentPlayer, form->MP2.get());
        QTest::mouseClick(form->Image3, Qt::LeftButton, {}, kInside);
        QCOMPARE(form->MP1->Mode(), media::TMPModes::mpPaused);
        QCOMPARE(form->MP2->Mode(), media::TMPModes::mpPlaying);
        QTest::mouseClick(form->Image3, Qt::LeftButton, {}, kInside);
        QCOMPARE(form->MP1->Mode(), media::TMPModes::mpPlaying);
        QCOMPARE(form->CurrentPlayer, form->MP1.get());
    }

    // A player action that fails stops the handler: the error is shown, the current slot
    // and the other glyphs stay as they were.
    void failingActionStopsTheHandler()
    {
        loadBoth();
        QTest::mouseClick(form->Image5, Qt::LeftButton, {}, kInside);
        form->MP1->Close();
        QTest::mouseClick(form->Image2, Qt::LeftButton, {}, kInside);
        QCOMPARE(errors, QStringList {"No MCI device open."});
        QCOMPARE(form->CurrentPlayer, form->MP2.get());
        QCOMPARE(Lit(form->Image5), 85);
        QCOMPARE(Lit(form->Image2), 85);
    }
};

int main(int argc, char** argv)
{
    app::TApplication application(argc, argv);
    TestButtons test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_buttons.moc"
