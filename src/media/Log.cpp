// SPDX-License-Identifier: MIT
#include "media/Log.h"

#include <cstdarg>
#include <gst/gst.h>

GST_DEBUG_CATEGORY_STATIC(tandrelSinkDebug);

namespace media {

// Warnings only unless the rules ask for more: a debug line that is off costs one test.
Q_LOGGING_CATEGORY(lcLink, "tandrel.media.link", QtWarningMsg)
Q_LOGGING_CATEGORY(lcOutput, "tandrel.media.output", QtWarningMsg)
Q_LOGGING_CATEGORY(lcEngine, "tandrel.media.engine", QtWarningMsg)

namespace {

GstDebugCategory* sinkCategory()
{
    static GstDebugCategory* category = [] {
        GST_DEBUG_CATEGORY_INIT(
            tandrelSinkDebug, "tandrelsink", 0, "Tandrel's sound server output");
        return tandrelSinkDebug;
    }();
    return category;
}

} // namespace

bool outputLogOn()
{
    return lcOutput().isDebugEnabled()
        || (gst_debug_is_active()
            && gst_debug_category_get_threshold(sinkCategory()) >= GST_LEVEL_DEBUG);
}

void outputLog(const char* format, ...)
{
    if (!outputLogOn())
        return;
    va_list args;
    va_start(args, format);
    gchar* text = g_strdup_vprintf(format, args);
    va_end(args);
    qCDebug(lcOutput, "%s", text);
    GST_CAT_DEBUG(sinkCategory(), "%s", text);
    g_free(text);
}

} // namespace media
