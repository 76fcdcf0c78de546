// SPDX-License-Identifier: MIT
#pragma once

#include "shell/ShellServices.h"

#include <QStringList>
#include <QUrl>

namespace testsupport {

// The real desktop for the trash, but message boxes and web addresses are written down
// instead of shown, so that no test waits on a person.
class RecordingShell : public shell::DesktopShell {
public:
    // Each box as "title|text".
    QStringList messages;
    QList<QUrl> urls;

    void showMessage(QWidget*, const QString& title, const QString& text) override
    {
        messages << title + QLatin1Char('|') + text;
    }
    bool openUrl(const QUrl& url) override
    {
        urls << url;
        return true;
    }
};

} // namespace testsupport
