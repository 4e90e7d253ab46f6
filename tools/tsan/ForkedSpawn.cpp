// Linked into every executable of the thread-sanitizer build (see the top-level CMakeLists.txt).
//
// QProcess starts a program with clone(CLONE_VM | CLONE_VFORK): the child runs in the parent's memory until
// it executes the program. The sanitizer's clone interceptor treats every clone as a fork and, in the child,
// marks the process as "forked while multi-threaded" and stops tracking the calling thread - in memory the
// child shares with the parent. The parent then dies at its next thread start, or silently stops seeing that
// thread's locks and reports races that are none. Here such a clone runs as a plain fork instead: the child
// gets its own copy of memory, which the sanitizer handles, and the program started is the same.

#include <dlfcn.h>
#include <sched.h>

#include <cstdarg>

extern "C" int clone(int (*function)(void*), void* stack, int flags, void* argument, ...) noexcept {
    using Clone = int (*)(int (*)(void*), void*, int, void*, ...);
    static const auto next = reinterpret_cast<Clone>(dlsym(RTLD_NEXT, "clone"));
    va_list rest;
    va_start(rest, argument);
    void* parentTid = va_arg(rest, void*);
    void* tls = va_arg(rest, void*);
    void* childTid = va_arg(rest, void*);
    va_end(rest);
    if ((flags & CLONE_VM) && (flags & CLONE_VFORK) && !(flags & CLONE_THREAD))
        flags &= ~(CLONE_VM | CLONE_VFORK);
    return next(function, stack, flags, argument, parentTid, tls, childTid);
}
