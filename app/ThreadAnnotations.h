// Annotations for clang's thread-safety analysis (-Wthread-safety): which mutex
// guards a member, which functions need it held, which take and give it back.
// The compiler then checks every access; on other compilers the macros are empty.
#pragma once

#if defined(__clang__)
#define THREAD_ANNOTATION(x) __attribute__((x))
#else
#define THREAD_ANNOTATION(x)
#endif

// A type that is a lock, and one that holds a lock for its scope.
#define CAPABILITY(name) THREAD_ANNOTATION(capability(name))
#define SCOPED_CAPABILITY THREAD_ANNOTATION(scoped_lockable)
// A member read or written only with the mutex held.
#define GUARDED_BY(mutex) THREAD_ANNOTATION(guarded_by(mutex))
// A function called only with the mutexes held, or only without them.
#define REQUIRES(...) THREAD_ANNOTATION(requires_capability(__VA_ARGS__))
#define EXCLUDES(...) THREAD_ANNOTATION(locks_excluded(__VA_ARGS__))
// A function that takes the mutexes, or gives them back.
#define ACQUIRE(...) THREAD_ANNOTATION(acquire_capability(__VA_ARGS__))
#define RELEASE(...) THREAD_ANNOTATION(release_capability(__VA_ARGS__))
