// SPDX-License-Identifier: MIT
#include "controls/OpenDialog.h"

#include <QApplication>
#include <QFileDialog>
#include <QFileInfo>

namespace controls {

std::optional<QString> runOpenDialog(QFileDialog& dialog)
{
    // Start from the file picked last time. Before any pick the dialog answers with its folder
    // instead; selecting that would open the folder above with this one highlighted, and a
    // name typed then would be taken as that folder once the listing has loaded.
    const QStringList previous = dialog.selectedFiles();
    if (!previous.isEmpty() && !QFileInfo(previous.first()).isDir())
        dialog.selectFile(previous.first());
    const int answer = dialog.exec();
    // Qt 6.4 can leave the name's completion list open after a name typed and taken with
    // Return has closed the dialog (seen on the test desktop, `tst_desktop`); it would
    // swallow the user's next click on the window.
    for (int i = 0; i < 4 && QApplication::activePopupWidget(); ++i)
        QApplication::activePopupWidget()->close();
    if (answer != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return std::nullopt;
    return dialog.selectedFiles().first();
}

} // namespace controls
