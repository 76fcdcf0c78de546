// SPDX-License-Identifier: MIT
#pragma once

#include <memory>

namespace media {

// The program's connection to the sound server, kept while any engine that sounds through
// it lives. An idle engine lets go of its sound output, and with the last one PulseAudio's
// sink drops the connection; making it again cost the next play 10 to 20 ms (measured). A
// PulseAudio sink held in READY keeps the connection, which every engine's sink shares; it
// holds no stream, so the server still suspends its device when nothing sounds (measured
// with module-suspend-on-idle: the sink suspends with both slots open, paused or stopped).
class SoundServerLink {
public:
    // The one link of the program, made on first use and let go with its last holder;
    // empty when there is no PulseAudio sink or no server to connect to.
    static std::shared_ptr<SoundServerLink> shared();

    ~SoundServerLink();
    SoundServerLink(const SoundServerLink&) = delete;
    SoundServerLink& operator=(const SoundServerLink&) = delete;

private:
    struct Sink;
    explicit SoundServerLink(std::unique_ptr<Sink> sink);
    std::unique_ptr<Sink> sink_;
};

} // namespace media
