// kernel32.dll: critical sections, recursive as on Windows.
#include "platform/sim/win32_api.h"

#include <new>
#include <pthread.h>

// The lock lives inside the caller's 40-byte structure, as the real one does: a recursive
// pthread mutex is exactly that size on x86-64 glibc.
static_assert(sizeof(pthread_mutex_t) <= sizeof(CRITICAL_SECTION), "the lock fits inside");
static_assert(alignof(pthread_mutex_t) <= alignof(CRITICAL_SECTION), "and is aligned");

namespace {

pthread_mutex_t* lockOf(LPCRITICAL_SECTION cs) {
    return reinterpret_cast<pthread_mutex_t*>(cs->opaque);
}

} // namespace

void WINAPI InitializeCriticalSection(LPCRITICAL_SECTION cs) {
    pthread_mutexattr_t attributes;
    pthread_mutexattr_init(&attributes);
    pthread_mutexattr_settype(&attributes, PTHREAD_MUTEX_RECURSIVE);
    pthread_mutex_init(new (cs->opaque) pthread_mutex_t, &attributes);
    pthread_mutexattr_destroy(&attributes);
}

void WINAPI DeleteCriticalSection(LPCRITICAL_SECTION cs) {
    pthread_mutex_destroy(lockOf(cs));
}

void WINAPI EnterCriticalSection(LPCRITICAL_SECTION cs) {
    pthread_mutex_lock(lockOf(cs));
}

void WINAPI LeaveCriticalSection(LPCRITICAL_SECTION cs) {
    pthread_mutex_unlock(lockOf(cs));
}

BOOL WINAPI TryEnterCriticalSection(LPCRITICAL_SECTION cs) {
    return pthread_mutex_trylock(lockOf(cs)) == 0 ? TRUE : FALSE;
}
