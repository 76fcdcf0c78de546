// SPDX-License-Identifier: MIT
#pragma once

#include <QFile>
#include <QString>
#include <QStringList>

// What the benchmarks share.

// The value that follows `name` on a benchmark's command line ("--rounds 20"), or `fallback`
// when the option is not given or has no value after it.
inline QString benchOption(const QStringList& args, const char* name, const QString& fallback)
{
    const qsizetype at = args.indexOf(QLatin1String(name));
    return at > 0 && at + 1 < args.size() ? args[at + 1] : fallback;
}

// The machine's load averages over 1, 5 and 15 minutes, as printed beside every figure.
inline QString loadAverage()
{
    QFile file(QStringLiteral("/proc/loadavg"));
    if (!file.open(QIODevice::ReadOnly))
        return QStringLiteral("?");
    return QString::fromLatin1(file.readAll()).section(' ', 0, 2);
}
