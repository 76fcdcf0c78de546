// SPDX-License-Identifier: MIT
// The Debian package as a user gets it: CPack builds it from this build tree, dpkg-deb
// unpacks it into a fresh root, and the files, the control fields and the menu entry are
// checked there. Then the program is started the way a menu starts it, through its desktop
// entry, under Xvfb and openbox, and closed again with its own close button.
#include "skin/Skin.h"

#include <QDir>
#include <QDirIterator>
#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <csignal>
#include <sys/types.h>

namespace {

const QString kAppId = QStringLiteral("example.tandrel.Tandrel");

struct Result {
    int code = -1;
    QString out;
    QString err;
};

Result Execute(const QString& program, const QStringList& args,
    const QProcessEnvironment& env = QProcessEnvironment::systemEnvironment(),
    int timeoutMs = 20000)
{
    QProcess p;
    p.setProcessEnvironment(env);
    p.start(program, args);
    if (!p.waitForFinished(timeoutMs)) {
        p.kill();
        p.waitForFinished();
        return {-1, {}, program + QStringLiteral(" did not finish")};
    }
    return {p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1,
        QString::fromUtf8(p.readAllStandardOutput()).trimmed(),
        QString::fromUtf8(p.readAllStandardError()).trimmed()};
}

// Starts a program and ends it, by its own PID, when the test ends, also on failure.
struct Child {
    QProcess process;
    Child(const QString& program, const QStringList& args, const QProcessEnvironment& env)
    {
        process.setProcessEnvironment(env);
        process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        process.start(program, args);
    }
    ~Child()
    {
        if (process.state() == QProcess::NotRunning)
            return;
        process.terminate();
        if (!process.waitForFinished(3000))
            process.kill();
        process.waitForFinished(3000);
    }
};

// A process that is not our child (the launcher started it): running until it is gone or a
// zombie waiting for its parent.
bool Running(pid_t pid)
{
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!stat.open(QIODevice::ReadOnly))
        return false;
    const QByteArray text = stat.readAll();
    const int close = text.lastIndexOf(')');
    return close > 0 && text.size() > close + 2 && text.at(close + 2) != 'Z';
}

// Ends the launched program by its PID if the test leaves it running.
struct LaunchedProgram {
    pid_t pid = 0;
    ~LaunchedProgram()
    {
        if (pid <= 0 || !Running(pid))
            return;
        ::kill(pid, SIGTERM);
        for (int i = 0; i < 30 && Running(pid); ++i)
            QTest::qWait(100);
        if (Running(pid))
            ::kill(pid, SIGKILL);
    }
};

// The keys of a desktop file's [Desktop Entry] group.
QMap<QString, QString> DesktopEntry(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text))
        return {};
    QMap<QString, QString> keys;
    bool inGroup = false;
    for (const QString& line : QString::fromUtf8(file.readAll()).split('\n')) {
        if (line.startsWith('['))
            inGroup = line == QStringLiteral("[Desktop Entry]");
        else if (inGroup && line.contains('=') && !line.startsWith('#'))
            keys.insert(line.section('=', 0, 0).trimmed(), line.section('=', 1).trimmed());
    }
    return keys;
}

// "Key: value" lines of `dpkg-deb -f`, continuation lines joined.
QMap<QString, QString> ControlFields(const QString& text)
{
    QMap<QString, QString> fields;
    QString last;
    for (const QString& line : text.split('\n')) {
        if (line.startsWith(' ') && !last.isEmpty()) {
            fields[last] += '\n' + line.trimmed();
        } else if (line.contains(':')) {
            last = line.section(':', 0, 0);
            fields.insert(last, line.section(':', 1).trimmed());
        }
    }
    return fields;
}

// The package names a Depends field asks for, alternatives included, versions left out.
QStringList DependedOn(const QString& depends)
{
    QStringList names;
    for (const QString& alternatives : depends.split(',', Qt::SkipEmptyParts)) {
        for (const QString& one : alternatives.split('|'))
            names.append(one.trimmed().section(' ', 0, 0).section(':', 0, 0));
    }
    return names;
}

} // namespace

class TestPackage : public QObject {
    Q_OBJECT

    QTemporaryDir work;
    QString deb;
    QString root;
    QMap<QString, QString> fields;

    QString InRoot(const QString& path) const { return QDir(root).filePath(path); }

private slots:
    void initTestCase()
    {
        QVERIFY(work.isValid());
        const QString out = work.filePath(QStringLiteral("out"));
        const Result cpack = Execute(QStringLiteral(CPACK_COMMAND),
            {QStringLiteral("--config"), QStringLiteral(CPACK_CONFIG), QStringLiteral("-B"), out},
            QProcessEnvironment::systemEnvironment(), 90000);
        QVERIFY2(cpack.code == 0, qPrintable(cpack.out + '\n' + cpack.err));

        const Result arch
            = Execute(QStringLiteral("dpkg"), {QStringLiteral("--print-architecture")});
        QCOMPARE(arch.code, 0);
        const QStringList debs = QDir(out).entryList({QStringLiteral("*.deb")}, QDir::Files);
        const QString name
            = QStringLiteral("tandrel_%1_%2.deb").arg(QStringLiteral(PACKAGE_VERSION), arch.out);
        QCOMPARE(debs, QStringList {name});
        deb = QDir(out).filePath(name);

        root = work.filePath(QStringLiteral("root"));
        QVERIFY(QDir().mkpath(root));
        const Result unpack
            = Execute(QStringLiteral("dpkg-deb"), {QStringLiteral("-x"), deb, root});
        QVERIFY2(unpack.code == 0, qPrintable(unpack.err));
        const Result control = Execute(QStringLiteral("dpkg-deb"), {QStringLiteral("-f"), deb});
        QVERIFY2(control.code == 0, qPrintable(control.err));
        fields = ControlFields(control.out);
    }

    void controlField_data()
    {
        QTest::addColumn<QString>("field");
        QTest::addColumn<QString>("pattern");
        QTest::newRow("Package") << "Package"
                                 << "^tandrel$";
        QTest::newRow("Version") << "Version"
                                 << "^" PACKAGE_VERSION "$";
        QTest::newRow("Section") << "Section"
                                 << "^sound$";
        QTest::newRow("Priority") << "Priority"
                                  << "^optional$";
        QTest::newRow("Maintainer") << "Maintainer"
                                    << "^[^<>]+ <[^@<>\\s]+@[^@<>\\s]+>$";
        QTest::newRow("Homepage") << "Homepage"
                                  << "^https://" + QRegularExpression::escape(WEBSITE_DOMAIN)
                + "/$";
        // A one-line summary, then a paragraph that says what the program is for.
        QTest::newRow("Description") << "Description"
                                     << "^compare two audio files by ear\n.*trash";
    }

    void controlField()
    {
        QFETCH(QString, field);
        QFETCH(QString, pattern);
        QVERIFY2(fields.contains(field), qPrintable(field + " is missing"));
        QVERIFY2(QRegularExpression(pattern, QRegularExpression::DotMatchesEverythingOption)
                     .match(fields.value(field))
                     .hasMatch(),
            qPrintable(field + ": " + fields.value(field)));
    }

    void dependsOn_data()
    {
        QTest::addColumn<QString>("package");
        // Found by dpkg-shlibdeps in the program's links.
        QTest::newRow("Qt widgets") << "libqt6widgets6";
        QTest::newRow("Qt gui") << "libqt6gui6";
        QTest::newRow("Qt core") << "libqt6core6";
        QTest::newRow("GStreamer") << "libgstreamer1.0-0";
        QTest::newRow("GLib") << "libglib2.0-0";
        // GStreamer's descriptions of file kinds, for a file no plugin reads.
        QTest::newRow("pbutils") << "libgstreamer-plugins-base1.0-0";
        QTest::newRow("C++ library") << "libstdc++6";
        // Loaded by playbin at run time, so named by hand.
        QTest::newRow("plugins base") << "gstreamer1.0-plugins-base";
        QTest::newRow("plugins good") << "gstreamer1.0-plugins-good";
        QTest::newRow("plugins ugly") << "gstreamer1.0-plugins-ugly";
        QTest::newRow("plugins bad") << "gstreamer1.0-plugins-bad";
        QTest::newRow("libav") << "gstreamer1.0-libav";
        QTest::newRow("pulseaudio") << "gstreamer1.0-pulseaudio";
    }

    void dependsOn()
    {
        QFETCH(QString, package);
        // Debian 13 renamed the libraries whose interface holds a time_t, with the suffix
        // "t64" (the 64-bit time transition): the same library under either name.
        const QStringList names = DependedOn(fields.value(QStringLiteral("Depends")));
        QVERIFY2(names.contains(package) || names.contains(package + QStringLiteral("t64")),
            qPrintable(fields.value(QStringLiteral("Depends"))));
    }

    void doesNotDependOn_data()
    {
        QTest::addColumn<QString>("package");
        // The Tahoma font is inside the program.
        QTest::newRow("wine fonts") << "fonts-wine";
        // These would mean a test program slipped into the package.
        QTest::newRow("Qt test") << "libqt6test6";
        QTest::newRow("GoogleTest") << "libgtest-dev";
    }

    void doesNotDependOn()
    {
        QFETCH(QString, package);
        QVERIFY2(!DependedOn(fields.value(QStringLiteral("Depends"))).contains(package),
            qPrintable(fields.value(QStringLiteral("Depends"))));
    }

    // Exactly these files, and nothing else: no test program, no benchmark.
    void filesInThePackage()
    {
        QStringList files;
        QDirIterator it(
            root, QDir::Files | QDir::System | QDir::Hidden, QDirIterator::Subdirectories);
        while (it.hasNext())
            files.append(QDir(root).relativeFilePath(it.next()));
        files.sort();
        QStringList expected {
            QStringLiteral("usr/bin/tandrel"),
            QStringLiteral("usr/share/applications/tandrel.desktop"),
            QStringLiteral("usr/share/doc/tandrel/LICENSE"),
            QStringLiteral("usr/share/doc/tandrel/NOTICE"),
            QStringLiteral("usr/share/icons/hicolor/128x128/apps/tandrel.png"),
            QStringLiteral("usr/share/icons/hicolor/256x256/apps/tandrel.png"),
            QStringLiteral("usr/share/icons/hicolor/32x32/apps/tandrel.png"),
            QStringLiteral("usr/share/icons/hicolor/64x64/apps/tandrel.png"),
            QStringLiteral("usr/share/icons/hicolor/scalable/apps/tandrel.svg"),
            QStringLiteral("usr/share/metainfo/") + kAppId + QStringLiteral(".metainfo.xml"),
        };
        expected.sort();
        QCOMPARE(files, expected);
    }

    // The program is an executable ELF file, stripped of its debugging sections.
    void program()
    {
        const QFileInfo info(InRoot(QStringLiteral("usr/bin/tandrel")));
        QVERIFY(info.isExecutable());
        QFile file(info.filePath());
        QVERIFY(file.open(QIODevice::ReadOnly));
        QCOMPARE(file.read(4),
            QByteArray("\x7f"
                       "ELF"));
        const Result sections = Execute(QStringLiteral("readelf"), {"-S", info.filePath()});
        QCOMPARE(sections.code, 0);
        QVERIFY(!sections.out.contains(QStringLiteral(".debug_info")));
    }

    void icons_data()
    {
        QTest::addColumn<int>("size");
        QTest::newRow("32") << 32;
        QTest::newRow("64") << 64;
        QTest::newRow("128") << 128;
        QTest::newRow("256") << 256;
    }

    // Each theme folder holds the icon at its own size; the 32 is the window's own icon.
    void icons()
    {
        QFETCH(int, size);
        const QImage icon(
            InRoot(QStringLiteral("usr/share/icons/hicolor/%1x%1/apps/tandrel.png").arg(size)));
        QCOMPARE(icon.size(), QSize(size, size));
        QVERIFY(icon.hasAlphaChannel());
        if (size == 32)
            QVERIFY(icon.convertToFormat(QImage::Format_ARGB32) == skin::icon());
    }

    void scalableIcon()
    {
        QFile svg(InRoot(QStringLiteral("usr/share/icons/hicolor/scalable/apps/tandrel.svg")));
        QVERIFY(svg.open(QIODevice::ReadOnly));
        const QByteArray text = svg.readAll();
        QVERIFY(text.startsWith("<?xml"));
        QVERIFY(text.contains("<svg xmlns=\"http://www.w3.org/2000/svg\""));
    }

    void desktopEntry_data()
    {
        QTest::addColumn<QString>("key");
        QTest::addColumn<QString>("value");
        QTest::newRow("Type") << "Type"
                              << "Application";
        QTest::newRow("Name") << "Name"
                              << "Tandrel";
        // The program reads no arguments, so the entry passes none (and takes no files).
        QTest::newRow("Exec") << "Exec"
                              << "tandrel";
        QTest::newRow("Icon") << "Icon"
                              << "tandrel";
        QTest::newRow("Categories") << "Categories"
                                    << "AudioVideo;Audio;Player;";
        QTest::newRow("Terminal") << "Terminal"
                                  << "false";
        QTest::newRow("no MimeType") << "MimeType" << QString();
    }

    void desktopEntry()
    {
        QFETCH(QString, key);
        QFETCH(QString, value);
        const auto keys
            = DesktopEntry(InRoot(QStringLiteral("usr/share/applications/tandrel.desktop")));
        QVERIFY(!keys.isEmpty());
        QCOMPARE(keys.value(key), value);
        QVERIFY(!keys.value(QStringLiteral("Comment")).isEmpty());
    }

    // Exec names the program the package installs, found on the PATH like any launcher
    // finds it, and Icon names the icons it installs.
    void desktopEntryNamesWhatIsInstalled()
    {
        const auto keys
            = DesktopEntry(InRoot(QStringLiteral("usr/share/applications/tandrel.desktop")));
        const QString command = keys.value(QStringLiteral("Exec")).section(' ', 0, 0);
        QCOMPARE(QStandardPaths::findExecutable(command, {InRoot(QStringLiteral("usr/bin"))}),
            InRoot(QStringLiteral("usr/bin/tandrel")));
        const QString icon = keys.value(QStringLiteral("Icon"));
        QVERIFY(QFileInfo::exists(
            InRoot(QStringLiteral("usr/share/icons/hicolor/scalable/apps/%1.svg").arg(icon))));
    }

    // The AppStream id is the file's name and points at the menu entry.
    void metainfo()
    {
        QFile file(InRoot(
            QStringLiteral("usr/share/metainfo/") + kAppId + QStringLiteral(".metainfo.xml")));
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QString text = QString::fromUtf8(file.readAll());
        QVERIFY(text.contains(QStringLiteral("<id>") + kAppId + QStringLiteral("</id>")));
        QVERIFY(text.contains(
            QStringLiteral("<launchable type=\"desktop-id\">tandrel.desktop</launchable>")));
        QVERIFY(text.contains(QStringLiteral("<project_license>MIT</project_license>")));
        QVERIFY(!text.contains('@')); // every configured value was filled in
    }

    // A menu starts the installed program from the entry, and its window shows; its own
    // close button ends it.
    void startsFromItsDesktopEntry()
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        Child xvfb(QStringLiteral("Xvfb"),
            {"-displayfd", "1", "-screen", "0", "640x300x24", "-br", "-nolisten", "tcp"}, env);
        QVERIFY2(xvfb.process.waitForReadyRead(15000), "Xvfb did not start");
        env.insert("DISPLAY", ":" + QString::fromUtf8(xvfb.process.readLine()).trimmed());
        // As from a desktop session: no test settings, the unpacked root on the paths.
        env.remove("QT_QPA_PLATFORM");
        env.remove("WAYLAND_DISPLAY");
        env.insert("PATH", InRoot(QStringLiteral("usr/bin")) + ':' + env.value("PATH"));
        env.insert("XDG_DATA_DIRS",
            InRoot(QStringLiteral("usr/share")) + QStringLiteral(":/usr/local/share:/usr/share"));
        Child wm(QStringLiteral("openbox"), {}, env);
        QVERIFY2(wm.process.waitForStarted(5000), "openbox did not start");

        // GLib's launcher reads Exec and finds the program on the PATH, as GNOME's menu does.
        // The program inherits the launcher's output, so that must outlive the launcher: a
        // pipe would break and end the program at its first warning.
        QProcess launcher;
        launcher.setProcessEnvironment(env);
        launcher.setProcessChannelMode(QProcess::ForwardedChannels);
        launcher.start(QStringLiteral("gio"),
            {QStringLiteral("launch"),
                InRoot(QStringLiteral("usr/share/applications/tandrel.desktop"))});
        QVERIFY2(launcher.waitForFinished(20000), "gio launch did not finish");
        QCOMPARE(launcher.exitCode(), 0);

        const Result search = Execute(QStringLiteral("xdotool"),
            {"search", "--sync", "--onlyvisible", "--class", "tandrel"}, env);
        const QString window = search.out.section('\n', 0, 0);
        QVERIFY2(!window.isEmpty(), "the window never showed");
        LaunchedProgram program;
        const Result pid = Execute(QStringLiteral("xdotool"), {"getwindowpid", window}, env);
        program.pid = pid.out.toInt();
        QVERIFY2(program.pid > 0, qPrintable(pid.err));
        QCOMPARE(QFileInfo(QStringLiteral("/proc/%1/exe").arg(program.pid)).canonicalFilePath(),
            QFileInfo(InRoot(QStringLiteral("usr/bin/tandrel"))).canonicalFilePath());

        // The dot at the top right closes the window and ends the program.
        const Result geometry
            = Execute(QStringLiteral("xdotool"), {"getwindowgeometry", "--shell", window}, env);
        const QRegularExpressionMatch at
            = QRegularExpression(QStringLiteral("X=(-?\\d+)\\nY=(-?\\d+)")).match(geometry.out);
        QVERIFY2(at.hasMatch(), qPrintable(geometry.out));
        const QPoint dot = QPoint(at.captured(1).toInt(), at.captured(2).toInt())
            + QPoint(464 + skin::kGlyphWidth / 2, 1 + skin::kGlyphHeight / 2);
        QTest::qWait(300);
        Execute(QStringLiteral("xdotool"),
            {"mousemove", QString::number(dot.x()), QString::number(dot.y())}, env);
        QTest::qWait(100);
        Execute(QStringLiteral("xdotool"), {"click", "1"}, env);
        for (int i = 0; i < 50 && Running(program.pid); ++i)
            QTest::qWait(100);
        QVERIFY2(!Running(program.pid), "the close button did not end the program");
        const Result left = Execute(
            QStringLiteral("xdotool"), {"search", "--onlyvisible", "--class", "tandrel"}, env);
        QCOMPARE(left.out, QString());
    }
};

QTEST_GUILESS_MAIN(TestPackage)
#include "tst_package.moc"
