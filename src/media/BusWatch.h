// SPDX-License-Identifier: MIT
#pragma once

#include "media/GstHandles.h"

#include <QObject>
#include <chrono>
#include <functional>
#include <memory>

class QSocketNotifier;

namespace media {

// Takes a pipeline's messages off its bus on the program's thread and hands each to one
// handler: whenever the bus's descriptor wakes the Qt event loop, and whenever the owner
// drains it, so no GLib main loop is needed (Qt's own may not be GLib's).
class BusWatch {
public:
    using Handler = std::function<void(GstMessage*)>;

    BusWatch(GstElement* pipeline, Handler handler);
    ~BusWatch();
    BusWatch(const BusWatch&) = delete;
    BusWatch& operator=(const BusWatch&) = delete;

    // Hands every message waiting on the bus to the handler.
    void drain();
    // Waits up to `timeout` for a message of `types` and hands it to the handler; false when
    // none came.
    bool waitFor(GstMessageType types, std::chrono::milliseconds timeout);
    // Drops every message waiting, so that what a pipeline said about an old file is never
    // taken for news about the next.
    void forget();
    // Runs `step` from the event loop once the caller is done, unless the watch is gone by
    // then; false when no event loop runs, and the step is then not run.
    bool later(std::chrono::milliseconds delay, std::function<void()> step);

private:
    gst::BusPtr bus_;
    Handler handler_;
    std::unique_ptr<QSocketNotifier> notifier_;
};

} // namespace media
