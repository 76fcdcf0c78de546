// SPDX-License-Identifier: MIT
#pragma once

#include <QString>
#include <QUrl>
#include <optional>

class QWidget;

namespace shell {

// What the desktop does for the program: message boxes, the trash, the web browser.
// Tests replace the parts a person would have to answer, and keep the rest real.
class ShellServices {
public:
    virtual ~ShellServices() = default;

    // A modal box owned by `owner`, with one OK button and no icon.
    virtual void showMessage(QWidget* owner, const QString& title, const QString& text) = 0;

    // Moves the file to the user's trash, from where it can be restored; never deletes it.
    // Returns nothing on success, else why the file could not be moved (the file is then
    // where it was).
    virtual std::optional<QString> moveToTrash(const QString& path) = 0;

    // Opens the address in the desktop's web browser. Returns false when nothing opened it.
    virtual bool openUrl(const QUrl& url) = 0;
};

// The real desktop: Qt's message box, GIO's trash and the desktop's URL handler.
class DesktopShell : public ShellServices {
public:
    void showMessage(QWidget* owner, const QString& title, const QString& text) override;
    std::optional<QString> moveToTrash(const QString& path) override;
    bool openUrl(const QUrl& url) override;
};

} // namespace shell
