// SPDX-License-Identifier: MIT
#pragma once

#include <QString>
#include <QStringList>

// The value that follows `name` on a benchmark's command line ("--rounds 20"), or `fallback`
// when the option is not given or has no value after it.
inline QString benchOption(const QStringList& args, const char* name, const QString& fallback)
{
    const qsizetype at = args.indexOf(QLatin1String(name));
    return at > 0 && at + 1 < args.size() ? args[at + 1] : fallback;
}
