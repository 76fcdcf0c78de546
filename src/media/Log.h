// SPDX-License-Identifier: MIT
#pragma once

#include <QLoggingCategory>
#include <glib.h>

// The media rooms' logging, off by default. A bug report attaches what
//   QT_LOGGING_RULES='tandrel.media.*=true' tandrel
// prints; GST_DEBUG=tandrelsink:5 shows the output's own lines among GStreamer's.
namespace media {

Q_DECLARE_LOGGING_CATEGORY(lcLink) // tandrel.media.link: the connection to the sound server
Q_DECLARE_LOGGING_CATEGORY(lcOutput) // tandrel.media.output: the output stream on the server
Q_DECLARE_LOGGING_CATEGORY(lcEngine) // tandrel.media.engine: the pipeline and its phases

// The output's lines go to tandrel.media.output and to GStreamer's "tandrelsink" category;
// they are formatted only when one of the two is on. outputLogOn() lets a caller skip
// gathering costly figures.
bool outputLogOn();
void outputLog(const char* format, ...) G_GNUC_PRINTF(1, 2);

} // namespace media
