#pragma once

// Clang's thread-safety attributes: with -Wthread-safety the compiler checks that state marked
// GUARDED_BY(m) is touched only with m held, and that functions marked REQUIRES(m) are called so.
// Other compilers see nothing.

#if defined(__clang__)
#define MIC_THREAD_ANNOTATION(x) __attribute__((x))
#else
#define MIC_THREAD_ANNOTATION(x)
#endif

#define CAPABILITY(x) MIC_THREAD_ANNOTATION(capability(x))
#define SCOPED_CAPABILITY MIC_THREAD_ANNOTATION(scoped_lockable)
#define GUARDED_BY(x) MIC_THREAD_ANNOTATION(guarded_by(x))
#define PT_GUARDED_BY(x) MIC_THREAD_ANNOTATION(pt_guarded_by(x))
#define REQUIRES(...) MIC_THREAD_ANNOTATION(requires_capability(__VA_ARGS__))
#define EXCLUDES(...) MIC_THREAD_ANNOTATION(locks_excluded(__VA_ARGS__))
#define ACQUIRE(...) MIC_THREAD_ANNOTATION(acquire_capability(__VA_ARGS__))
#define RELEASE(...) MIC_THREAD_ANNOTATION(release_capability(__VA_ARGS__))
#define RETURN_CAPABILITY(x) MIC_THREAD_ANNOTATION(lock_returned(x))
#define ASSERT_CAPABILITY(x) MIC_THREAD_ANNOTATION(assert_capability(x))
#define NO_THREAD_SAFETY_ANALYSIS MIC_THREAD_ANNOTATION(no_thread_safety_analysis)
