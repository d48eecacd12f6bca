// Lock contracts the compiler checks: clang's thread-safety attributes behind short macros.
//
// A type marked `CAPABILITY` is a lock; fields marked `GUARDED_BY` may only be touched while it is
// held; functions state what they take (`ACQUIRE`), give back (`RELEASE`), need (`REQUIRES`) or
// must not be called with (`EXCLUDES`). Clang checks every call against these contracts with
// `-Wthread-safety`, which the build turns on (as an error) whenever the compiler is clang. GCC
// has no such analysis, so there every macro expands to nothing and costs nothing.
//
// The analysis looks at one function at a time and does not follow a lock into a lambda: a closure
// that needs a lock held is either given a scoped guard of its own or states nothing. Code that
// the analysis cannot follow (a lock handed through a callback, say) is marked
// `NO_THREAD_SAFETY_ANALYSIS` with a comment on why it is sound.
#pragma once

#if defined(__clang__)
#define KESTROVAN_THREAD_ANNOTATION(x) __attribute__((x))
#else
#define KESTROVAN_THREAD_ANNOTATION(x)
#endif

/// The type is a lock; `kind` names it in the compiler's messages ("mutex", "terminal lock").
#define CAPABILITY(kind) KESTROVAN_THREAD_ANNOTATION(capability(kind))

/// The type is an RAII guard: its constructor takes a lock and its destructor gives it back.
#define SCOPED_CAPABILITY KESTROVAN_THREAD_ANNOTATION(scoped_lockable)

/// The field may only be read or written while the named lock is held.
#define GUARDED_BY(lock) KESTROVAN_THREAD_ANNOTATION(guarded_by(lock))

/// The pointee of the field may only be reached while the named lock is held.
#define PT_GUARDED_BY(lock) KESTROVAN_THREAD_ANNOTATION(pt_guarded_by(lock))

/// The function must be called with the named locks held, and returns with them still held.
#define REQUIRES(...) KESTROVAN_THREAD_ANNOTATION(requires_capability(__VA_ARGS__))

/// The function takes the named locks (or, without arguments, the object it is called on).
#define ACQUIRE(...) KESTROVAN_THREAD_ANNOTATION(acquire_capability(__VA_ARGS__))

/// The function gives back the named locks (or, without arguments, the object it is called on).
#define RELEASE(...) KESTROVAN_THREAD_ANNOTATION(release_capability(__VA_ARGS__))

/// The function takes the lock when it returns the first argument (`TRY_ACQUIRE(true)`).
#define TRY_ACQUIRE(...) KESTROVAN_THREAD_ANNOTATION(try_acquire_capability(__VA_ARGS__))

/// The function must not be called with the named locks held: it takes them itself.
#define EXCLUDES(...) KESTROVAN_THREAD_ANNOTATION(locks_excluded(__VA_ARGS__))

/// The function stops the program unless the calling thread holds the lock, so code after a call
/// counts as holding it.
#define ASSERT_CAPABILITY(lock) KESTROVAN_THREAD_ANNOTATION(assert_capability(lock))

/// The function returns a reference to the named lock, so locking the result locks that lock.
#define RETURN_CAPABILITY(lock) KESTROVAN_THREAD_ANNOTATION(lock_returned(lock))

/// The function is not checked: its locking is sound for reasons the analysis cannot see.
#define NO_THREAD_SAFETY_ANALYSIS KESTROVAN_THREAD_ANNOTATION(no_thread_safety_analysis)
