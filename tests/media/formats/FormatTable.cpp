// SPDX-License-Identifier: MIT
#include "FormatTable.h"

#include <QRegularExpression>
#include <QStringList>

namespace formats {

namespace {

QString escaped(QString cell)
{
    return cell.replace('|', QLatin1String("\\|")).replace('\n', ' ');
}

// Splits a table line on the bars that are not escaped.
QStringList cells(const QString& line)
{
    QStringList out;
    QString cell;
    for (qsizetype i = 0; i < line.size(); ++i) {
        if (line[i] == '\\' && i + 1 < line.size() && line[i + 1] == '|') {
            cell += '|';
            ++i;
        } else if (line[i] == '|') {
            out << cell.trimmed();
            cell.clear();
        } else {
            cell += line[i];
        }
    }
    out << cell.trimmed();
    // The outer bars leave an empty cell at either end.
    if (!out.isEmpty() && out.first().isEmpty())
        out.removeFirst();
    if (!out.isEmpty() && out.last().isEmpty())
        out.removeLast();
    return out;
}

const QString kMeasuredOn = QStringLiteral("Measured on %1: GStreamer %2, FFmpeg %3");

std::optional<Release> releaseOf(const QString& line)
{
    static const QRegularExpression said(
        QStringLiteral("^Measured on (.+): GStreamer (\\S+), FFmpeg (\\S+)$"));
    const QRegularExpressionMatch match = said.match(line.trimmed());
    if (!match.hasMatch())
        return std::nullopt;
    return Release {match.captured(1), match.captured(2), match.captured(3)};
}

} // namespace

QString renderTable(const Table& table)
{
    QStringList lines {
        kMeasuredOn.arg(table.release.system, table.release.gstreamer, table.release.ffmpeg),
        QString(),
        QStringLiteral("| kind | made with | opens | length | seek lands | error |"),
        QStringLiteral("|---|---|---|---|---|---|"),
    };
    for (const Row& row : table.rows) {
        lines << QStringLiteral("| %1 | %2 | %3 | %4 | %5 | %6 |")
                     .arg(escaped(row.kind), escaped(row.madeWith), row.opens, row.length, row.seek,
                         escaped(row.error));
    }
    return lines.join('\n');
}

std::optional<QString> replaceTable(const QString& text, const QString& table)
{
    const qsizetype begin = text.indexOf(QLatin1String(kBeginMarker));
    const qsizetype end = text.indexOf(QLatin1String(kEndMarker));
    if (begin < 0 || end < begin)
        return std::nullopt;
    const qsizetype from = begin + qsizetype(qstrlen(kBeginMarker));
    return text.left(from) + '\n' + table + '\n' + text.mid(end);
}

Table parseTable(const QString& text)
{
    const qsizetype begin = text.indexOf(QLatin1String(kBeginMarker));
    const qsizetype end = text.indexOf(QLatin1String(kEndMarker));
    Table table;
    if (begin < 0 || end < begin)
        return table;
    const QStringList lines = text.mid(begin, end - begin).split('\n');
    for (const QString& line : lines) {
        if (const auto release = releaseOf(line)) {
            table.release = *release;
            continue;
        }
        const QStringList row = cells(line);
        if (!line.startsWith('|') || row.size() < 5 || row[0] == QLatin1String("kind")
            || row[0].startsWith(QLatin1String("---")))
            continue;
        table.rows.push_back({row[0], row[1], row[2], row[3], row[4], row.value(5)});
    }
    return table;
}

} // namespace formats
