// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// Locking rules written into the types, checked by clang's -Wthread-safety (no effect with other
// compilers). Data members say which mutex or thread guards them (GUARDED_BY), functions which
// they need held (REQUIRES) or must not hold (EXCLUDES). Use with Mutex and MutexLock (mutex.h)
// and ThreadChecker (thread_checker.h), whose Check asserts to the analysis that its caller is on
// the owning thread (ASSERT_CAPABILITY). A template that only calls what it is given and holds
// nothing itself may opt out (NO_THREAD_SAFETY_ANALYSIS) so that a lambda REQUIRES what its
// caller holds.

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
#define ASSERT_CAPABILITY(x) MOVILETTA_THREAD_ANNOTATION(assert_capability(x))
#define NO_THREAD_SAFETY_ANALYSIS MOVILETTA_THREAD_ANNOTATION(no_thread_safety_analysis)
