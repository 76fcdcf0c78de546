// SPDX-License-Identifier: MIT
// Makes one file of every kind in the table from one source, opens each as the program does,
// and prints the measured table, or writes it into the README between its markers:
//
//     tandrel_formats [--seconds N] [--keep FOLDER] [--write README.md]
#include "FormatKinds.h"
#include "FormatMeasure.h"
#include "FormatTable.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <cstdio>

int main(int argc, char** argv)
{
    QCoreApplication application(argc, argv);
    QCommandLineParser options;
    options.addHelpOption();
    options.addOption({"seconds", "Length of the source.", "N", "20"});
    options.addOption({"keep", "Make the files in FOLDER and keep them.", "FOLDER"});
    options.addOption({"write", "Write the table into FILE between its markers.", "FILE"});
    options.process(application);
    const int seconds = options.value("seconds").toInt();
    if (seconds < formats::kMinSeconds) {
        std::fprintf(
            stderr, "tandrel_formats: --seconds must be %d or more\n", formats::kMinSeconds);
        return 2;
    }
    QTemporaryDir temporary;
    const QString folder = options.isSet("keep") ? options.value("keep") : temporary.path();
    QDir().mkpath(folder);
    for (const QString& command : formats::sourceCommands(seconds)) {
        if (const QString failed = formats::runCommand(command, folder); !failed.isEmpty()) {
            std::fprintf(stderr, "tandrel_formats: %s\n", qPrintable(failed));
            return 1;
        }
    }
    formats::Table measured {formats::thisRelease(), {}};
    std::vector<formats::Row>& rows = measured.rows;
    for (const formats::Kind& kind : formats::kinds()) {
        if (const QString failed = formats::makeKind(kind, folder); !failed.isEmpty()) {
            std::fprintf(stderr, "tandrel_formats: %s\n", qPrintable(failed));
            return 1;
        }
        rows.push_back(formats::measure(kind, folder));
        std::fprintf(stderr, "%s: %s, %s, %s %s\n", qPrintable(kind.name),
            qPrintable(rows.back().opens), qPrintable(rows.back().length),
            qPrintable(rows.back().seek), qPrintable(rows.back().error));
    }
    const QString table = formats::renderTable(measured);
    if (!options.isSet("write")) {
        std::printf("%s\n", qPrintable(table));
        return 0;
    }
    QFile file(options.value("write"));
    if (!file.open(QIODevice::ReadOnly)) {
        std::fprintf(stderr, "tandrel_formats: cannot read %s\n", qPrintable(file.fileName()));
        return 1;
    }
    const auto text = formats::replaceTable(QString::fromUtf8(file.readAll()), table);
    file.close();
    if (!text) {
        std::fprintf(stderr, "tandrel_formats: %s has no %s ... %s markers\n",
            qPrintable(file.fileName()), formats::kBeginMarker, formats::kEndMarker);
        return 1;
    }
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write(text->toUtf8()) < 0) {
        std::fprintf(stderr, "tandrel_formats: cannot write %s\n", qPrintable(file.fileName()));
        return 1;
    }
    return 0;
}
