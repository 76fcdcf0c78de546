// SPDX-License-Identifier: MIT
#include "media/SoundServerLink.h"

#include "media/Log.h"

#include <QCoreApplication>
#include <mutex>
#include <pulse/error.h>
#include <pulse/introspect.h>
#include <pulse/proplist.h>
#include <string_view>

namespace media {

namespace {

void onContextState(pa_context*, void* loop)
{
    pa_threaded_mainloop_signal(static_cast<pa_threaded_mainloop*>(loop), 0);
}

} // namespace

std::shared_ptr<SoundServerLink> SoundServerLink::shared()
{
    static std::mutex guard;
    static std::weak_ptr<SoundServerLink> current;
    std::lock_guard lock(guard);
    if (auto link = current.lock(); link && link->connected())
        return link;
    const bool replacing = !current.expired();
    std::shared_ptr<SoundServerLink> link(new SoundServerLink);
    if (!link->connect()) {
        qCDebug(lcLink, "no sound server answered: %s",
            link->context_ ? pa_strerror(pa_context_errno(link->context_)) : "no context");
        return nullptr;
    }
    qCDebug(lcLink, "connected to %s%s", link->pipeWire_ ? "PipeWire's pulse server" : "PulseAudio",
        replacing ? ", replacing a connection whose server went away" : "");
    current = link;
    return link;
}

bool SoundServerLink::connect()
{
    loop_ = pa_threaded_mainloop_new();
    if (!loop_)
        return false;
    pa_proplist* properties = pa_proplist_new();
    const QByteArray name = QCoreApplication::applicationName().toUtf8();
    pa_proplist_sets(
        properties, PA_PROP_APPLICATION_NAME, name.isEmpty() ? "Tandrel" : name.constData());
    pa_proplist_sets(properties, PA_PROP_APPLICATION_ICON_NAME, "tandrel");
    context_ = pa_context_new_with_proplist(pa_threaded_mainloop_get_api(loop_),
        name.isEmpty() ? "Tandrel" : name.constData(), properties);
    pa_proplist_free(properties);
    if (!context_)
        return false;
    pa_context_set_state_callback(context_, onContextState, loop_);
    // No autospawn: the program never starts a sound server of its own.
    if (pa_context_connect(context_, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) < 0)
        return false;
    if (pa_threaded_mainloop_start(loop_) < 0)
        return false;
    LoopLock lock(loop_);
    for (;;) {
        const pa_context_state_t state = pa_context_get_state(context_);
        if (state == PA_CONTEXT_READY)
            return askServerName();
        if (!PA_CONTEXT_IS_GOOD(state))
            return false;
        pa_threaded_mainloop_wait(loop_);
    }
}

bool SoundServerLink::askServerName()
{
    struct Ask {
        SoundServerLink* link;
        bool done = false;
    } ask {this};
    pa_operation* operation = pa_context_get_server_info(
        context_,
        [](pa_context*, const pa_server_info* info, void* data) {
            auto* a = static_cast<Ask*>(data);
            // PipeWire's pulse server names itself "PulseAudio (on PipeWire 0.3.65)".
            a->link->pipeWire_ = info && info->server_name
                && std::string_view(info->server_name).find("PipeWire") != std::string_view::npos;
            if (info)
                qCDebug(lcLink, "server: %s %s", info->server_name ? info->server_name : "?",
                    info->server_version ? info->server_version : "?");
            a->done = true;
            pa_threaded_mainloop_signal(a->link->loop_, 0);
        },
        &ask);
    if (!operation)
        return false;
    while (!ask.done && pa_operation_get_state(operation) == PA_OPERATION_RUNNING)
        pa_threaded_mainloop_wait(loop_);
    pa_operation_unref(operation);
    return ask.done;
}

bool SoundServerLink::connected() const
{
    LoopLock lock(loop_);
    return pa_context_get_state(context_) == PA_CONTEXT_READY;
}

SoundServerLink::~SoundServerLink()
{
    qCDebug(lcLink, "connection let go");
    if (loop_)
        pa_threaded_mainloop_stop(loop_);
    if (context_) {
        pa_context_disconnect(context_);
        pa_context_unref(context_);
    }
    if (loop_)
        pa_threaded_mainloop_free(loop_);
}

} // namespace media
