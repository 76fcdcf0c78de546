// SPDX-License-Identifier: MIT
#include "shell/ShellServices.h"

#include "shell/Trash.h"

#include <QDesktopServices>
#include <QFile>
#include <QLoggingCategory>
#include <QMessageBox>
#include <QProcess>

namespace shell {

namespace {

// What the program asked of the desktop, off by default:
//   QT_LOGGING_RULES='tandrel.shell=true' tandrel
Q_LOGGING_CATEGORY(lcShell, "tandrel.shell", QtWarningMsg)

} // namespace

void DesktopShell::showMessage(QWidget* owner, const QString& title, const QString& text)
{
    // Qt names a window whose title is empty after the application instead
    // (QPlatformWindow::formatWindowTitle: the window manager showed "tandrel"); a space is
    // a title that shows as none.
    QMessageBox box(QMessageBox::NoIcon, title.isEmpty() ? QStringLiteral(" ") : title, text,
        QMessageBox::Ok, owner);
    box.setTextFormat(Qt::PlainText);
    qCDebug(lcShell) << "message box:" << text;
    box.exec();
}

std::optional<QString> DesktopShell::moveToTrash(const QString& path)
{
    if (auto why = trashFile(QFile::encodeName(path).toStdString()))
        return QString::fromStdString(*why);
    return std::nullopt;
}

// Where the window system offers no URL handler of its own (no desktop session, a bare
// compositor), the freedesktop.org opener still finds the user's browser.
bool DesktopShell::openUrl(const QUrl& url)
{
    if (QDesktopServices::openUrl(url)) {
        qCDebug(lcShell) << "opening" << url << "through the platform";
        return true;
    }
    const bool started = QProcess::startDetached(QStringLiteral("xdg-open"), {url.toString()});
    qCDebug(lcShell) << "opening" << url << "through xdg-open:" << (started ? "started" : "failed");
    return started;
}

} // namespace shell
