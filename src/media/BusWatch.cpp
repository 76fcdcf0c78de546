// SPDX-License-Identifier: MIT
#include "media/BusWatch.h"

#include <QAbstractEventDispatcher>
#include <QSocketNotifier>
#include <QTimer>

namespace media {

BusWatch::BusWatch(GstElement* pipeline, Handler handler)
    : bus_(gst_element_get_bus(pipeline))
    , handler_(std::move(handler))
{
    if (!QAbstractEventDispatcher::instance())
        return;
    GPollFD fd {};
    gst_bus_get_pollfd(bus_.get(), &fd);
    notifier_ = std::make_unique<QSocketNotifier>(fd.fd, QSocketNotifier::Read);
    QObject::connect(notifier_.get(), &QSocketNotifier::activated, [this] { drain(); });
}

BusWatch::~BusWatch() = default;

void BusWatch::drain()
{
    while (gst::MessagePtr message {gst_bus_pop(bus_.get())})
        handler_(message.get());
}

bool BusWatch::waitFor(GstMessageType types, std::chrono::milliseconds timeout)
{
    gst::MessagePtr message(
        gst_bus_timed_pop_filtered(bus_.get(), GstClockTime(timeout.count()) * GST_MSECOND, types));
    if (message)
        handler_(message.get());
    return bool(message);
}

void BusWatch::forget()
{
    gst_bus_set_flushing(bus_.get(), TRUE);
    gst_bus_set_flushing(bus_.get(), FALSE);
}

bool BusWatch::later(std::chrono::milliseconds delay, std::function<void()> step)
{
    if (!notifier_)
        return false;
    // The notifier is the context: a step still waiting when the watch goes is dropped.
    QTimer::singleShot(delay, notifier_.get(), std::move(step));
    return true;
}

} // namespace media
