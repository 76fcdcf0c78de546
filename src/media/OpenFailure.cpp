// SPDX-License-Identifier: MIT
#include "media/OpenFailure.h"

#include "media/GstHandles.h"

#include <QFile>
#include <gst/base/gsttypefindhelper.h>
#include <gst/pbutils/pbutils.h>

namespace media {

namespace {

// How long, at most, a failed open waits for the type finder to record what it found.
constexpr gulong kKindWaitStepUs = 2000;
constexpr int kKindWaitSteps = 100;
// How much of a file's head is read to tell its kind when the pipeline does not say it.
constexpr qint64 kHeadBytes = 64 * 1024;

QString describe(const GstCaps* caps)
{
    if (!caps || gst_caps_is_empty(caps) || gst_caps_is_any(caps))
        return {};
    gst_pb_utils_init();
    gst::GCharPtr text(gst_pb_utils_get_codec_description(caps));
    return text ? QString::fromUtf8(text.get()) : QString();
}

// The kind of file the pipeline's type finder settled on, or nothing.
QString foundKind(GstElement* playbin)
{
    gst::IteratorPtr items(gst_bin_iterate_recurse(GST_BIN(playbin)));
    gst::ScopedValue item;
    QString kind;
    bool done = false;
    while (!done) {
        switch (gst_iterator_next(items.get(), &item.value)) {
        case GST_ITERATOR_OK: {
            GstElement* element = GST_ELEMENT(g_value_get_object(&item.value));
            GstElementFactory* factory = gst_element_get_factory(element);
            if (factory && g_strcmp0(GST_OBJECT_NAME(factory), "typefind") == 0) {
                GstCaps* raw = nullptr;
                g_object_get(element, "caps", &raw, nullptr);
                const gst::CapsPtr caps(raw);
                kind = describe(caps.get());
                done = !kind.isEmpty();
            }
            g_value_reset(&item.value);
            break;
        }
        case GST_ITERATOR_RESYNC:
            gst_iterator_resync(items.get());
            break;
        default:
            done = true;
            break;
        }
    }
    return kind;
}

// GStreamer's texts that say only that something failed, not what the file is.
bool saysNothingOfTheFile(const QString& error)
{
    const std::pair<GQuark, gint> generic[] = {
        {GST_STREAM_ERROR, GST_STREAM_ERROR_FAILED},
        {GST_CORE_ERROR, GST_CORE_ERROR_MISSING_PLUGIN},
        {GST_STREAM_ERROR, GST_STREAM_ERROR_CODEC_NOT_FOUND},
    };
    for (const auto& [domain, code] : generic) {
        gst::GCharPtr text(gst_error_get_message(domain, code));
        if (text && error == QString::fromUtf8(text.get()))
            return true;
    }
    // What an element says when its streaming stops on an error (GST_ELEMENT_FLOW_ERROR,
    // never translated). A reader that fails posts its own error and then this one, but the
    // two can reach the bus the other way round: this came first in 2 of about 65 sanitized
    // runs of the damaged-file test.
    return error == QLatin1String("Internal data stream error.");
}

// The kind of file whose head the file at `encodedPath` starts with, told by GStreamer's type
// finders as the pipeline's would tell it, or nothing.
QString kindOfHead(const QByteArray& encodedPath)
{
    QFile file(QFile::decodeName(encodedPath));
    if (encodedPath.isEmpty() || !file.open(QIODevice::ReadOnly))
        return {};
    const QByteArray head = file.read(kHeadBytes);
    if (head.isEmpty())
        return {};
    const gst::CapsPtr caps(gst_type_find_helper_for_data(
        nullptr, reinterpret_cast<const guint8*>(head.constData()), gsize(head.size()), nullptr));
    return describe(caps.get());
}

} // namespace

QString unplayableText(const QString& kind)
{
    return QStringLiteral(
        "This file is of the kind \"%1\", which cannot be played here: no installed GStreamer "
        "plugin reads it.")
        .arg(kind);
}

QString unreadableText(const QString& kind)
{
    return QStringLiteral("This file is of the kind \"%1\", but it could not be read: it may be "
                          "damaged, or no installed GStreamer plugin reads this variant of it.")
        .arg(kind);
}

void OpenFailure::clear()
{
    missingKind_.clear();
}

void OpenFailure::note(GstMessage* message)
{
    if (!missingKind_.isEmpty() || !gst_is_missing_plugin_message(message))
        return;
    const GstStructure* fields = gst_message_get_structure(message);
    GstCaps* raw = nullptr;
    if (fields && gst_structure_get(fields, "detail", GST_TYPE_CAPS, &raw, nullptr)) {
        const gst::CapsPtr caps(raw);
        missingKind_ = describe(caps.get());
    }
    if (missingKind_.isEmpty()) {
        gst::GCharPtr text(gst_missing_plugin_message_get_description(message));
        missingKind_ = text ? QString::fromUtf8(text.get()) : QString();
    }
}

QString OpenFailure::explain(
    GstElement* playbin, const QString& error, const QByteArray& encodedPath) const
{
    if (!missingKind_.isEmpty())
        return unplayableText(missingKind_);
    if (!saysNothingOfTheFile(error))
        return error;
    // Decodebin plugs the reader from inside the type finder's "have-type" signal, and the
    // type finder keeps what it found only once that returns: a reader that fails at once
    // can report before then (seen once in a test run: "Internal data stream error." alone).
    QString kind = foundKind(playbin);
    for (int wait = 0; kind.isEmpty() && wait < kKindWaitSteps; ++wait) {
        g_usleep(kKindWaitStepUs);
        kind = foundKind(playbin);
    }
    // A pipeline that failed before its type finder settled, or whose parts are gone, does
    // not say; the file's head tells the kind as well.
    if (kind.isEmpty())
        kind = kindOfHead(encodedPath);
    return kind.isEmpty() ? error : unreadableText(kind);
}

} // namespace media
