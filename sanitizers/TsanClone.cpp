// Linked into every program of the thread sanitizer build. QProcess starts a child with clone
// and CLONE_VM | CLONE_VFORK: the child borrows the parent's memory until it runs the program.
// The sanitizer's handling of clone takes every child for a copy and marks it "forked from a
// multi-threaded process"; with CLONE_VM that mark lands in the parent, whose next thread then
// ends it. Such a clone goes to the C library as it is; every other clone keeps the
// sanitizer's handling.
#include <dlfcn.h>
#include <linux/sched.h>
#include <sys/types.h>

#include <cstdarg>

namespace {
using CloneCall = int (*)(int (*)(void *), void *, int, void *, ...);

CloneCall cLibraryClone()
{
    void *libc = dlopen("libc.so.6", RTLD_NOW | RTLD_NOLOAD);
    return libc ? reinterpret_cast<CloneCall>(dlsym(libc, "clone")) : nullptr;
}
} // namespace

extern "C" int clone(int (*fn)(void *), void *stack, int flags, void *arg, ...) noexcept
{
    va_list rest;
    va_start(rest, arg);
    auto *parentTid = va_arg(rest, pid_t *);
    void *tls = va_arg(rest, void *);
    auto *childTid = va_arg(rest, pid_t *);
    va_end(rest);
    static const CloneCall direct = cLibraryClone();
    static const CloneCall sanitized = reinterpret_cast<CloneCall>(dlsym(RTLD_NEXT, "clone"));
    const CloneCall call = (flags & CLONE_VM) && direct ? direct : sanitized;
    return call(fn, stack, flags, arg, parentTid, tls, childTid);
}
