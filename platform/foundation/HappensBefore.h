#pragma once
// Ordering that Qt provides but ThreadSanitizer cannot see, because Qt is not instrumented: its post-event
// lock and reference counts (queued calls) and the state QThread::wait reads are futexes and atomics inside
// the library. Code that relies on such a hand-off marks it here, so the sanitizer orders the accesses
// around it as the real synchronisation does. Outside ThreadSanitizer builds these compile to nothing.

#if defined(__SANITIZE_THREAD__)
extern "C" void __tsan_acquire(void* addr);
extern "C" void __tsan_release(void* addr);
#endif

namespace platform::happensbefore {

// Everything this thread did so far happens before whatever follows an acquire of the same token.
inline void release([[maybe_unused]] const void* token)
{
#if defined(__SANITIZE_THREAD__)
    __tsan_release(const_cast<void*>(token));
#endif
}

inline void acquire([[maybe_unused]] const void* token)
{
#if defined(__SANITIZE_THREAD__)
    __tsan_acquire(const_cast<void*>(token));
#endif
}

} // namespace platform::happensbefore
