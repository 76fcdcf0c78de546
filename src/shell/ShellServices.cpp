// SPDX-License-Identifier: MIT
#include "shell/ShellServices.h"

#include <QDesktopServices>
#include <QFile>
#include <QMessageBox>
#include <gio/gio.h>
#include <memory>

namespace shell {

void DesktopShell::showMessage(QWidget* owner, const QString& title, const QString& text)
{
    QMessageBox box(QMessageBox::NoIcon, title, text, QMessageBox::Ok, owner);
    box.setTextFormat(Qt::PlainText);
    box.exec();
}

// GIO follows the freedesktop.org trash layout (files/ and info/ with a percent-encoded
// Path=, $topdir/.Trash-$uid on other mounts), so a moved file is restored under its own
// name by any file manager. Qt's own moveToTrash writes the path unencoded and, without
// ~/.local/share, reports success after moving the file into the current directory.
QString DesktopShell::moveToTrash(const QString& path)
{
    const QByteArray local = QFile::encodeName(path);
    std::unique_ptr<GFile, decltype(&g_object_unref)> file(
        g_file_new_for_path(local.constData()), g_object_unref);
    GError* raw = nullptr;
    if (g_file_trash(file.get(), nullptr, &raw))
        return {};
    std::unique_ptr<GError, decltype(&g_error_free)> error(raw, g_error_free);
    return error ? QString::fromUtf8(error->message) : QStringLiteral("Unknown error");
}

bool DesktopShell::openUrl(const QUrl& url)
{
    return QDesktopServices::openUrl(url);
}

} // namespace shell
