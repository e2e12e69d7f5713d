// Thread-safety annotations that clang checks with -Wthread-safety; other compilers ignore them.
// They name what a mutex guards and which functions need it held, so a missing lock is a compile
// error in the clang build rather than a race found later.
#pragma once

#if defined(__clang__)
#define PN_THREAD_ANNOTATION(x) __attribute__((x))
#else
#define PN_THREAD_ANNOTATION(x)
#endif

#define CAPABILITY(x) PN_THREAD_ANNOTATION(capability(x))
#define SCOPED_CAPABILITY PN_THREAD_ANNOTATION(scoped_lockable)
#define GUARDED_BY(x) PN_THREAD_ANNOTATION(guarded_by(x))
#define PT_GUARDED_BY(x) PN_THREAD_ANNOTATION(pt_guarded_by(x))
#define REQUIRES(...) PN_THREAD_ANNOTATION(requires_capability(__VA_ARGS__))
#define ACQUIRE(...) PN_THREAD_ANNOTATION(acquire_capability(__VA_ARGS__))
#define RELEASE(...) PN_THREAD_ANNOTATION(release_capability(__VA_ARGS__))
#define TRY_ACQUIRE(...) PN_THREAD_ANNOTATION(try_acquire_capability(__VA_ARGS__))
#define EXCLUDES(...) PN_THREAD_ANNOTATION(locks_excluded(__VA_ARGS__))
#define ASSERT_CAPABILITY(x) PN_THREAD_ANNOTATION(assert_capability(x))
#define RETURN_CAPABILITY(x) PN_THREAD_ANNOTATION(lock_returned(x))
#define NO_THREAD_SAFETY_ANALYSIS PN_THREAD_ANNOTATION(no_thread_safety_analysis)
