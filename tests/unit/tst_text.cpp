// SPDX-License-Identifier: MIT
// The texts the program makes: time, error box text, application title, path parts.
#include "Unit1.h"
#include "app/ErrorText.h"
#include "shell/FilePath.h"

#include <QTest>

class TestText : public QObject {
    Q_OBJECT
private slots:
    // m:ss with seconds rounded half to even and no hours field.
    void formatTime_data()
    {
        QTest::addColumn<int>("ms");
        QTest::addColumn<QString>("text");
        QTest::newRow("zero") << 0 << "0:00";
        QTest::newRow("below half") << 499 << "0:00";
        QTest::newRow("half rounds to even 0") << 500 << "0:00";
        QTest::newRow("1.5 s rounds to even 2") << 1500 << "0:02";
        QTest::newRow("2.5 s rounds to even 2") << 2500 << "0:02";
        QTest::newRow("3.5 s rounds to even 4") << 3500 << "0:04";
        QTest::newRow("59 499") << 59499 << "0:59";
        QTest::newRow("59 500 carries to a minute") << 59500 << "1:00";
        QTest::newRow("61 000") << 61000 << "1:01";
        QTest::newRow("ten minutes") << 600000 << "10:00";
        QTest::newRow("an hour has no hours field") << 3600000 << "60:00";
        QTest::newRow("largest time") << 2147483647 << "35791:24";
    }
    void formatTime()
    {
        QFETCH(int, ms);
        QFETCH(QString, text);
        QCOMPARE(FormatTime(ms), text);
    }

    // A full stop is added only when the last character sorts after ".".
    void errorBoxText_data()
    {
        QTest::addColumn<QString>("message");
        QTest::addColumn<QString>("shown");
        QTest::newRow("letter") << "No MCI device open"
                                << "No MCI device open.";
        QTest::newRow("already a sentence") << "Resource not found."
                                            << "Resource not found.";
        QTest::newRow("digit") << "Error 42"
                               << "Error 42.";
        QTest::newRow("question mark") << "Really?"
                                       << "Really?.";
        QTest::newRow("colon") << "Reason:"
                               << "Reason:.";
        QTest::newRow("closing parenthesis sorts before") << "(none)"
                                                          << "(none)";
        QTest::newRow("comma sorts before") << "a,"
                                            << "a,";
        QTest::newRow("slash sorts after") << "/tmp/"
                                           << "/tmp/.";
        QTest::newRow("quote sorts before") << "\"/x\""
                                            << "\"/x\"";
        QTest::newRow("non-ASCII")
            << QString::fromUtf8("fichier ré") << QString::fromUtf8("fichier ré.");
        QTest::newRow("empty") << ""
                               << "";
    }
    void errorBoxText()
    {
        QFETCH(QString, message);
        QFETCH(QString, shown);
        QCOMPARE(app::errorBoxText(message), shown);
    }

    // The executable's name, without folder or extension, capitalised as its first letter.
    void applicationTitle_data()
    {
        QTest::addColumn<QString>("exe");
        QTest::addColumn<QString>("title");
        QTest::newRow("plain") << "/usr/bin/tandrel"
                               << "tandrel";
        QTest::newRow("capital kept, rest lowered") << "/opt/TANDREL"
                                                    << "Tandrel";
        QTest::newRow("cut at the first dot") << "./Tandrel.bin.old"
                                              << "Tandrel";
        QTest::newRow("dot in a folder is no extension") << "/a.b/Prog"
                                                         << "Prog";
        QTest::newRow("no folder") << "Project1"
                                   << "Project1";
        QTest::newRow("hidden name") << "/x/.hidden"
                                     << "";
    }
    void applicationTitle()
    {
        QFETCH(QString, exe);
        QFETCH(QString, title);
        QCOMPARE(app::applicationTitle(exe), title);
    }

    // The folder keeps its trailing "/", the name is what follows; "\" and ":" are
    // ordinary characters on this platform.
    void filePath_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<QString>("folder");
        QTest::addColumn<QString>("name");
        QTest::newRow("absolute") << "/music/a.wav"
                                  << "/music/"
                                  << "a.wav";
        QTest::newRow("root") << "/a.wav"
                              << "/"
                              << "a.wav";
        QTest::newRow("no separator") << "a.wav"
                                      << ""
                                      << "a.wav";
        QTest::newRow("trailing slash") << "/music/"
                                        << "/music/"
                                        << "";
        QTest::newRow("backslash and colon are name characters") << "/m/C:\\x\\y.wav"
                                                                 << "/m/"
                                                                 << "C:\\x\\y.wav";
        QTest::newRow("ampersand") << "/Rock & Roll/A&B.flac"
                                   << "/Rock & Roll/"
                                   << "A&B.flac";
        QTest::newRow("UTF-8") << QString::fromUtf8("/Musik/Ärger 🎵.mp3")
                               << QString::fromUtf8("/Musik/") << QString::fromUtf8("Ärger 🎵.mp3");
        QTest::newRow("empty") << ""
                               << ""
                               << "";
    }
    void filePath()
    {
        QFETCH(QString, path);
        QFETCH(QString, folder);
        QFETCH(QString, name);
        QCOMPARE(shell::extractFilePath(path), folder);
        QCOMPARE(shell::extractFileName(path), name);
    }
};

QTEST_GUILESS_MAIN(TestText)
#include "tst_text.moc"
