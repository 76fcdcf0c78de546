// SPDX-License-Identifier: MIT
#include "media/SoundServerLink.h"

#include "media/GstHandles.h"

#include <mutex>

namespace media {

struct SoundServerLink::Sink {
    gst::PipelinePtr element; // stopped before its last reference goes
};

SoundServerLink::SoundServerLink(std::unique_ptr<Sink> sink)
    : sink_(std::move(sink))
{
}

SoundServerLink::~SoundServerLink() = default;

std::shared_ptr<SoundServerLink> SoundServerLink::shared()
{
    static std::mutex guard;
    static std::weak_ptr<SoundServerLink> current;
    std::lock_guard lock(guard);
    if (auto link = current.lock())
        return link;
    auto sink = std::make_unique<Sink>();
    sink->element = gst::adoptPipeline(gst_element_factory_make("pulsesink", "tandrel-connection"));
    if (!sink->element
        || gst_element_set_state(sink->element.get(), GST_STATE_READY) != GST_STATE_CHANGE_SUCCESS)
        return nullptr;
    std::shared_ptr<SoundServerLink> link(new SoundServerLink(std::move(sink)));
    current = link;
    return link;
}

} // namespace media
