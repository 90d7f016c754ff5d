// Clang's thread-safety attributes, so that the compiler checks which lock a function needs
// (-Wthread-safety, turned on and into errors by the CMake option ZT4_THREAD_SAFETY). Other
// compilers see nothing. The locks themselves are declared in core/lock.h.
#pragma once

#if defined(__clang__)
#define ZT4_THREAD_ANNOTATION(x) __attribute__((x))
#else
#define ZT4_THREAD_ANNOTATION(x)
#endif

// A type whose objects are locks (capabilities).
#define CAPABILITY(name) ZT4_THREAD_ANNOTATION(capability(name))
// A type whose objects hold a lock for their lifetime (a guard).
#define SCOPED_CAPABILITY ZT4_THREAD_ANNOTATION(scoped_lockable)
// Data read and written only with the lock held.
#define GUARDED_BY(x) ZT4_THREAD_ANNOTATION(guarded_by(x))
#define PT_GUARDED_BY(x) ZT4_THREAD_ANNOTATION(pt_guarded_by(x))
// The caller must hold the lock.
#define REQUIRES(...) ZT4_THREAD_ANNOTATION(requires_capability(__VA_ARGS__))
// The function takes the lock and returns holding it; or lets it go.
#define ACQUIRE(...) ZT4_THREAD_ANNOTATION(acquire_capability(__VA_ARGS__))
#define RELEASE(...) ZT4_THREAD_ANNOTATION(release_capability(__VA_ARGS__))
// The function takes the lock itself: a caller holding it would deadlock.
#define EXCLUDES(...) ZT4_THREAD_ANNOTATION(locks_excluded(__VA_ARGS__))
// Tells the analysis the calling thread holds the lock (checked at run time by the function).
#define ASSERT_CAPABILITY(x) ZT4_THREAD_ANNOTATION(assert_capability(x))
// Where the analysis cannot follow a lock; the function says why at that place.
#define NO_THREAD_SAFETY_ANALYSIS ZT4_THREAD_ANNOTATION(no_thread_safety_analysis)
