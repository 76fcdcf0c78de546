// SPDX-License-Identifier: MIT
// Linked into every program of the ThreadSanitizer build (`make tsan`, see CMakeLists.txt).
//
// QProcess (Qt 6.4 on a kernel with pidfds) starts a program through clone() with CLONE_VM and
// CLONE_VFORK: the child runs in the parent's memory, on the parent's thread state, until it
// executes the program. ThreadSanitizer's clone() takes every child for a forked copy and
// marks the child's thread as ignored, its reports suppressed and the process as forked while
// multi-threaded; in shared memory all of that lands in the parent. After a test's first
// QProcess, ThreadSanitizer then reports nothing at all, and ends the test at the next thread
// it starts ("starting new threads after multi-threaded fork", measured with GCC 12's libtsan
// on Debian 12; LLVM's clone interceptor still does the same, and no report of it was found).
// Such a child only executes another program, which ThreadSanitizer need not see, so it is
// started by the C library's own clone; every other clone still goes through ThreadSanitizer.
#include <cstdarg>
#include <dlfcn.h>
#include <sched.h>
#include <sys/types.h>

extern "C" int __clone(int (*fn)(void*), void* stack, int flags, void* arg, ...);

extern "C" int clone(int (*fn)(void*), void* stack, int flags, void* arg, ...) noexcept
{
    va_list rest;
    va_start(rest, arg);
    auto* parentTid = va_arg(rest, pid_t*);
    void* tls = va_arg(rest, void*);
    auto* childTid = va_arg(rest, pid_t*);
    va_end(rest);
    if (flags & CLONE_VM)
        return __clone(fn, stack, flags, arg, parentTid, tls, childTid);
    // The next clone after the program's own is ThreadSanitizer's, loaded first.
    using Clone = int (*)(int (*)(void*), void*, int, void*, ...);
    static const auto sanitized = reinterpret_cast<Clone>(dlsym(RTLD_NEXT, "clone"));
    return sanitized(fn, stack, flags, arg, parentTid, tls, childTid);
}
