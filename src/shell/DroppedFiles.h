// SPDX-License-Identifier: MIT
#pragma once

#include <QStringList>

class QMimeData;

namespace shell {

// The local paths of the files in a drop, in the order the drop gives them, taken whole
// (any length, any characters). Empty when the drop holds no files, or anything that is
// not a local file (a web address, text), which the program does not open.
QStringList droppedFiles(const QMimeData& data);

} // namespace shell
