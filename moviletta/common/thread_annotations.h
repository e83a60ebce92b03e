#pragma once

// Locking rules written into the types, checked by clang's -Wthread-safety (no effect with other
// compilers). Data members say which mutex guards them (GUARDED_BY), functions which mutex they
// need held (REQUIRES) or must not hold (EXCLUDES). Use with Mutex and MutexLock (mutex.h).

#if defined(__clang__)
#define MOVILETTA_THREAD_ANNOTATION(x) __attribute__((x))
#else
#define MOVILETTA_THREAD_ANNOTATION(x)
#endif

#define CAPABILITY(name) MOVILETTA_THREAD_ANNOTATION(capability(name))
#define SCOPED_CAPABILITY MOVILETTA_THREAD_ANNOTATION(scoped_lockable)
#define GUARDED_BY(mutex) MOVILETTA_THREAD_ANNOTATION(guarded_by(mutex))
#define REQUIRES(...) MOVILETTA_THREAD_ANNOTATION(requires_capability(__VA_ARGS__))
#define EXCLUDES(...) MOVILETTA_THREAD_ANNOTATION(locks_excluded(__VA_ARGS__))
#define ACQUIRE(...) MOVILETTA_THREAD_ANNOTATION(acquire_capability(__VA_ARGS__))
#define RELEASE(...) MOVILETTA_THREAD_ANNOTATION(release_capability(__VA_ARGS__))
