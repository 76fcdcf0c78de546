// SPDX-License-Identifier: MIT
#pragma once

#include <QString>

namespace app {

// The text of the error box: the exception's message, ending in a full stop when its last
// character sorts after "." (a letter, a digit, "?", ":" ...), so that "File not found"
// reads as a sentence while "Resource not found." or "(see log)" is left alone.
QString errorBoxText(const QString& message);

// The application's title: the executable's file name without its folder, cut at its first
// dot, with every character after the first in lower case ("/usr/bin/Tandrel.bin" gives
// "Tandrel", "TANDREL" gives "Tandrel").
QString applicationTitle(const QString& executablePath);

} // namespace app
