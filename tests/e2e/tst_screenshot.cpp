// SPDX-License-Identifier: MIT
// The real program under Xvfb and openbox: a screenshot of its window must show the skin
// pixel for pixel, the bar's covers, the glyphs on their tiles, and the root window through
// the red corners. The screenshot is kept as window.png in this test's build folder.
#include "Desktop.h"
#include "SkinWindow.h"
#include "skin/Skin.h"

#include <QDir>
#include <QTest>

class TestScreenshot : public QObject {
    Q_OBJECT
private slots:
    void windowLooksLikeTheDesign()
    {
        e2e::Desktop desktop({640, 300});
        QVERIFY2(desktop.error().isEmpty(), qPrintable(desktop.error()));
        auto program = desktop.start(QStringLiteral(TANDREL_BINARY), {});
        QVERIFY2(!desktop.waitForWindow("tandrel").isEmpty(), "the window never showed");
        QTest::qWait(1000); // let openbox place it and Qt paint it

        QImage shot = desktop.screenshot(QDir(SCREENSHOT_DIR).filePath("window.png"));
        QVERIFY2(!shot.isNull(), "no screenshot");

        const QImage expected = e2e::ExpectedWindow(qRgb(0, 0, 0));
        int wrong = 0;
        QString first;
        for (int y = 0; y < expected.height(); ++y) {
            for (int x = 0; x < expected.width(); ++x) {
                if (e2e::InLabel({x, y}) || shot.pixel(x, y) == expected.pixel(x, y))
                    continue;
                if (wrong++ == 0)
                    first = QString("(%1, %2): %3, expected %4")
                                .arg(x)
                                .arg(y)
                                .arg(QColor(shot.pixel(x, y)).name(),
                                    QColor(expected.pixel(x, y)).name());
            }
        }
        QVERIFY2(
            wrong == 0, qPrintable(QString("%1 pixels differ, first at %2").arg(wrong).arg(first)));
        // Nothing on the screen is the colour key: the corners let the root window show.
        for (int y = 0; y < shot.height(); ++y) {
            for (int x = 0; x < shot.width(); ++x)
                QVERIFY(QColor(shot.pixel(x, y)) != skin::kColourKey);
        }
    }
};

QTEST_GUILESS_MAIN(TestScreenshot)
#include "tst_screenshot.moc"
