// SPDX-License-Identifier: MIT
// Linked into every program of the ThreadSanitizer build (`make tsan`, see CMakeLists.txt).
//
// GLib's GMutex and GCond wait on futexes, which ThreadSanitizer cannot see (GRecMutex and
// GRWLock are pthread's, which it sees), so whatever one thread hands another under a GMutex
// looks unordered to it: a buffer stamped by a pad probe and read past a queue, or a pad
// probe's data made before its pipeline's task started (google/sanitizers#490, GLib 2.74).
// GStreamer and its plugins take every GMutex through GLib's exported functions, so the
// program's own definitions stand in for them here: each calls GLib's and tells
// ThreadSanitizer the order it made. GLib's calls to its own locks (its thread pools and
// queues) still go unseen.
#include <dlfcn.h>
#include <glib.h>
#include <sanitizer/tsan_interface.h>

namespace {

template <typename Function> Function glib(const char* name)
{
    return reinterpret_cast<Function>(dlsym(RTLD_NEXT, name));
}

} // namespace

extern "C" {

void g_mutex_lock(GMutex* mutex)
{
    static const auto lock = glib<void (*)(GMutex*)>("g_mutex_lock");
    lock(mutex);
    __tsan_acquire(mutex);
}

gboolean g_mutex_trylock(GMutex* mutex)
{
    static const auto trylock = glib<gboolean (*)(GMutex*)>("g_mutex_trylock");
    const gboolean locked = trylock(mutex);
    if (locked)
        __tsan_acquire(mutex);
    return locked;
}

void g_mutex_unlock(GMutex* mutex)
{
    static const auto unlock = glib<void (*)(GMutex*)>("g_mutex_unlock");
    __tsan_release(mutex);
    unlock(mutex);
}

// A wait lets go of the mutex and takes it again inside GLib.
void g_cond_wait(GCond* cond, GMutex* mutex)
{
    static const auto wait = glib<void (*)(GCond*, GMutex*)>("g_cond_wait");
    __tsan_release(mutex);
    wait(cond, mutex);
    __tsan_acquire(mutex);
}

gboolean g_cond_wait_until(GCond* cond, GMutex* mutex, gint64 endTime)
{
    static const auto wait = glib<gboolean (*)(GCond*, GMutex*, gint64)>("g_cond_wait_until");
    __tsan_release(mutex);
    const gboolean signalled = wait(cond, mutex, endTime);
    __tsan_acquire(mutex);
    return signalled;
}

} // extern "C"
