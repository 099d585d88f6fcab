/*
 * Host differences and compiler annotations, kept in one place so that no
 * module needs an #ifdef of its own.  Each shim below has a portable
 * branch; a host's own calls are used only where it is known to have them.
 */
#ifndef VEK_SUPPORT_PORTABILITY_H
#define VEK_SUPPORT_PORTABILITY_H

#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <signal.h>
#include <stddef.h>
#include <sys/mman.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

/*
 * Whose own calls to use: Linux's, FreeBSD's, or none.  A generic build
 * (VEK_GENERIC_POSIX) takes the portable branch of every shim whatever the
 * host, so that what another system runs is built and tested here too.
 */
#if defined(VEK_GENERIC_POSIX)
#define VEK_LINUX 0
#define VEK_FREEBSD 0
#elif defined(__linux__)
#define VEK_LINUX 1
#define VEK_FREEBSD 0
#elif defined(__FreeBSD__)
#define VEK_LINUX 0
#define VEK_FREEBSD 1
#else
#define VEK_LINUX 0
#define VEK_FREEBSD 0
#endif

#if VEK_LINUX
#include <stdint.h>
#include <sys/auxv.h>
#include <sys/syscall.h>
#elif VEK_FREEBSD
#include <sys/auxv.h>
#endif

/* Variadic string lists end in a null pointer; let the compiler check it. */
#define VEK_SENTINEL __attribute__((sentinel))
#define VEK_PRINTF(fmt, args) __attribute__((format(printf, fmt, args)))

#ifndef PATH_MAX
#define PATH_MAX 1024
#endif

/*
 * Give back pages of memory still allocated that will not be read again.
 * Linux frees them at once (they read as zeros after); elsewhere the
 * system may take them when it wants, and they read as anything until
 * written.  A hint where there is no such call.
 */
#if VEK_LINUX
#define VEK_RELEASE_PAGES(addr, len) madvise(addr, len, MADV_DONTNEED)
#elif defined(MADV_FREE)
#define VEK_RELEASE_PAGES(addr, len) madvise(addr, len, MADV_FREE)
#else
#define VEK_RELEASE_PAGES(addr, len) ((void)(addr), (void)(len))
#endif

/* Ask for huge pages for a large mapping: one page fault, not hundreds.
 * FreeBSD gives them unasked. */
#if VEK_LINUX && defined(MADV_HUGEPAGE)
#define VEK_ADVISE_HUGE_PAGES(addr, len) madvise(addr, len, MADV_HUGEPAGE)
#else
#define VEK_ADVISE_HUGE_PAGES(addr, len) ((void)(addr), (void)(len))
#endif

/* Move a mapping to a new size, or give null where it must be copied. */
#if VEK_LINUX && defined(MREMAP_MAYMOVE)
static inline void *
vek_remap(void *addr, size_t old_len, size_t new_len)
{
	void *moved = mremap(addr, old_len, new_len, MREMAP_MAYMOVE);
	return moved == MAP_FAILED ? nullptr : moved;
}
#define VEK_REMAP(addr, old_len, new_len) vek_remap(addr, old_len, new_len)
#else
#define VEK_REMAP(addr, old_len, new_len)                                      \
	((void)(addr), (void)(old_len), (void)(new_len), nullptr)
#endif

/*
 * Whether PATH leads to a file without passing through a symbolic link:
 * one look at the whole path, where a readlink per component is the
 * portable way.  -1 where the system cannot answer (no openat2, or a
 * filter refusing it); the caller then takes the portable way.
 */
#if VEK_LINUX && defined(SYS_openat2)
static inline int
vek_free_of_links(const char *path)
{
	/* struct open_how and RESOLVE_NO_SYMLINKS, as the kernel has them. */
	struct {
		uint64_t flags, mode, resolve;
	} how = {O_PATH | O_CLOEXEC, 0, 0x04};
	long fd = syscall(SYS_openat2, AT_FDCWD, path, &how, sizeof how);
	if (fd >= 0)
		close(static_cast<int>(fd));
	return fd >= 0 ? 1 : errno == ELOOP ? 0 : -1;
}
#define VEK_FREE_OF_LINKS(path) vek_free_of_links(path)
#else
#define VEK_FREE_OF_LINKS(path) ((void)(path), -1)
#endif

/*
 * Read this process's uid map (the lines "inside outside count" of a user
 * namespace) into BUF: the bytes read, or -1 where the system cannot say,
 * for want of the file or of user namespaces.
 */
#if VEK_LINUX
static inline ssize_t
vek_read_uid_map(char *buf, size_t size)
{
	int fd = open("/proc/self/uid_map", O_RDONLY | O_CLOEXEC);
	if (fd < 0)
		return -1;
	ssize_t got = read(fd, buf, size);
	close(fd);
	return got;
}
#define VEK_READ_UID_MAP(buf, size) vek_read_uid_map(buf, size)
#else
#define VEK_READ_UID_MAP(buf, size) ((void)(buf), (void)(size), ssize_t{-1})
#endif

/*
 * The name the system started this program by, which no caller chooses,
 * or null where it does not say.  Read from what the kernel handed the
 * program at start: no file is opened.
 */
#if VEK_LINUX && defined(AT_EXECFN)
static inline const char *
vek_exec_name(void)
{
	/* The aux vector holds pointers as integers. */
	// NOLINTNEXTLINE(performance-no-int-to-ptr)
	return reinterpret_cast<const char *>(getauxval(AT_EXECFN));
}
#define VEK_EXEC_NAME() vek_exec_name()
#elif VEK_FREEBSD && defined(AT_EXECPATH)
static inline const char *
vek_exec_name(void)
{
	static char path[PATH_MAX];
	return elf_aux_info(AT_EXECPATH, path, sizeof path) == 0 ? path
	                                                         : nullptr;
}
#define VEK_EXEC_NAME() vek_exec_name()
#else
#define VEK_EXEC_NAME() static_cast<const char *>(nullptr)
#endif

/* One more than the highest signal number, real-time ones included. */
#if defined(_SIG_MAXSIG)
#define VEK_NSIG (_SIG_MAXSIG + 1)
#elif defined(_NSIG)
#define VEK_NSIG _NSIG
#elif defined(SIGRTMAX)
#define VEK_NSIG (SIGRTMAX + 1)
#else
#define VEK_NSIG NSIG
#endif

/*
 * Signal sets, masks and actions that may take every number the kernel
 * has.  Linux's C libraries keep the lowest real-time numbers for their
 * threads (glibc 32 and 33, musl 32 to 34): they refuse them to sigaddset,
 * sigprocmask and sigaction, and start every child of posix_spawn with
 * them ignored.  A program of one thread that never cancels one may block,
 * take and look at them all the same, through the kernel's own calls,
 * which read a set as its bits.  Elsewhere the C library's calls, which
 * may refuse some numbers.  Each gives 0, or -1 with errno
 * (VEK_SIGTIMEDWAIT the signal taken).
 */
#if VEK_LINUX
static inline unsigned long *
vek_sigword(sigset_t *set, int sig)
{
	return reinterpret_cast<unsigned long *>(set) +
	       (sig - 1) / (CHAR_BIT * sizeof(unsigned long));
}
static inline unsigned long
vek_sigbit(int sig)
{
	return 1UL << ((sig - 1) % (CHAR_BIT * sizeof(unsigned long)));
}
static inline int
vek_sigaddset(sigset_t *set, int sig)
{
	*vek_sigword(set, sig) |= vek_sigbit(sig);
	return 0;
}
static inline int
vek_sigdelset(sigset_t *set, int sig)
{
	*vek_sigword(set, sig) &= ~vek_sigbit(sig);
	return 0;
}
static inline int
vek_sigismember(const sigset_t *set, int sig)
{
	return (*vek_sigword(const_cast<sigset_t *>(set), sig) &
	        vek_sigbit(sig)) != 0;
}
#define VEK_SIGADDSET(set, sig) vek_sigaddset(set, sig)
#define VEK_SIGDELSET(set, sig) vek_sigdelset(set, sig)
#define VEK_SIGISMEMBER(set, sig) vek_sigismember(set, sig)
static inline int
vek_sigprocmask(int how, const sigset_t *set, sigset_t *old)
{
	return static_cast<int>(
	    syscall(SYS_rt_sigprocmask, how, set, old, _NSIG / 8));
}
static inline int
vek_sigtimedwait(const sigset_t *set, siginfo_t *info,
                 const struct timespec *timeout)
{
	return static_cast<int>(
	    syscall(SYS_rt_sigtimedwait, set, info, timeout, _NSIG / 8));
}
/* Whether SIG is ignored, which the C library will not say of its own
 * numbers.  The kernel's record of an action starts with the handler. */
static inline bool
vek_signal_ignored(int sig)
{
	struct {
		void (*handler)(int);
		unsigned long rest[8];
	} action;
	return syscall(SYS_rt_sigaction, sig, nullptr, &action, _NSIG / 8) ==
	           0 &&
	       action.handler == SIG_IGN;
}
#define VEK_SIGPROCMASK(how, set, old) vek_sigprocmask(how, set, old)
#define VEK_SIGTIMEDWAIT(set, info, timeout)                                   \
	vek_sigtimedwait(set, info, timeout)
#define VEK_SIGNAL_IGNORED(sig) vek_signal_ignored(sig)
/* The C library's own numbers: from the kernel's first real-time signal
 * up to the first it leaves to programs. */
#define VEK_LIBC_SIGNALS_FIRST 32
#define VEK_LIBC_SIGNALS_END SIGRTMIN
#else
#define VEK_SIGADDSET(set, sig) sigaddset(set, sig)
#define VEK_SIGDELSET(set, sig) sigdelset(set, sig)
#define VEK_SIGISMEMBER(set, sig) (sigismember(set, sig) == 1)
#define VEK_SIGPROCMASK(how, set, old) sigprocmask(how, set, old)
#define VEK_SIGTIMEDWAIT(set, info, timeout) sigtimedwait(set, info, timeout)
static inline bool
vek_signal_ignored(int sig)
{
	struct sigaction now;
	return sigaction(sig, nullptr, &now) == 0 && now.sa_handler == SIG_IGN;
}
#define VEK_SIGNAL_IGNORED(sig) vek_signal_ignored(sig)
/* None that the calls above could reach. */
#define VEK_LIBC_SIGNALS_FIRST 0
#define VEK_LIBC_SIGNALS_END 0
#endif

/*
 * Signals whose default action here is to ignore them, beyond those that
 * are so everywhere (SIGCHLD, SIGURG, SIGWINCH): on the BSDs SIGINFO, the
 * terminal's Ctrl-T, and SIGIO.
 */
static inline bool
vek_ignored_by_default(int sig)
{
#if defined(__FreeBSD__) || defined(__NetBSD__) || defined(__OpenBSD__) ||     \
    defined(__DragonFly__) || defined(__APPLE__)
	return sig == SIGINFO || sig == SIGIO;
#else
	return sig == 0;
#endif
}

/*
 * Whether the kernel sent the signal INFO tells of of its own accord, as a
 * terminal's keys and hang-up are sent: Linux and FreeBSD say so with
 * SI_KERNEL.  Elsewhere no signal is known to be the kernel's.
 */
#ifdef SI_KERNEL
#define VEK_SENT_BY_KERNEL(info) ((info)->si_code == SI_KERNEL)
#else
#define VEK_SENT_BY_KERNEL(info) ((void)(info), false)
#endif

/* Not every system defines the core-dump test of a wait status. */
#ifdef WCOREDUMP
#define VEK_WCOREDUMP(status) WCOREDUMP(status)
#else
#define VEK_WCOREDUMP(status) (((status)&0x80) != 0)
#endif

/*
 * AddressSanitizer's view of memory the program hands out itself: a region
 * marked off-limits is reported when touched, until it is opened again.
 * Nothing where the sanitizer is not built in.
 */
#if defined(__SANITIZE_ADDRESS__)
#define VEK_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define VEK_ASAN 1
#endif
#endif
#ifdef VEK_ASAN
#include <sanitizer/asan_interface.h>
#define VEK_POISON(addr, len) ASAN_POISON_MEMORY_REGION(addr, len)
#define VEK_UNPOISON(addr, len) ASAN_UNPOISON_MEMORY_REGION(addr, len)
/* How many of the LEN bytes from ADDR on are open before the first one
 * marked off-limits. */
static inline size_t
vek_open_length(const void *addr, size_t len)
{
	const void *closed =
	    __asan_region_is_poisoned(const_cast<void *>(addr), len);
	return closed == nullptr
	           ? len
	           : static_cast<size_t>(static_cast<const char *>(closed) -
	                                 static_cast<const char *>(addr));
}
#define VEK_OPEN_LENGTH(addr, len) vek_open_length(addr, len)
/*
 * The sanitizer's runtime hands out blocks of its own from some of the C
 * library's calls it stands in for (strdup, realpath), and serves every
 * call made before it has set itself up, which it does before any
 * constructor of the program runs: code built with the sanitizer must not
 * run until then.  A malloc of the program's own, not instrumented
 * itself, passes those to the runtime through the names it keeps for
 * exactly that.  (GCC ships no header declaring them.)
 */
// The runtime's own names: NOLINTBEGIN(bugprone-reserved-identifier)
// NOLINTBEGIN(cert-dcl37-c,cert-dcl51-cpp)
extern "C" int __sanitizer_get_ownership(const volatile void *);
extern "C" void *__interceptor_malloc(size_t);
extern "C" void *__interceptor_calloc(size_t, size_t);
extern "C" void *__interceptor_realloc(void *, size_t);
extern "C" void __interceptor_free(void *);
// NOLINTEND(cert-dcl37-c,cert-dcl51-cpp)
// NOLINTEND(bugprone-reserved-identifier)
#define VEK_NOT_INSTRUMENTED __attribute__((no_sanitize_address))
#define VEK_AT_SANITIZER_START __attribute__((constructor))
#define VEK_SANITIZER_OWNS(block) (__sanitizer_get_ownership(block) != 0)
#define VEK_SANITIZER_MALLOC(size) __interceptor_malloc(size)
#define VEK_SANITIZER_CALLOC(count, size) __interceptor_calloc(count, size)
#define VEK_SANITIZER_REALLOC(block, size) __interceptor_realloc(block, size)
#define VEK_SANITIZER_FREE(block) __interceptor_free(block)
#else
#define VEK_ASAN 0
#define VEK_POISON(addr, len) ((void)(addr), (void)(len))
#define VEK_UNPOISON(addr, len) ((void)(addr), (void)(len))
#define VEK_OPEN_LENGTH(addr, len) ((void)(addr), (len))
#define VEK_NOT_INSTRUMENTED
#define VEK_AT_SANITIZER_START [[maybe_unused]]
#define VEK_SANITIZER_OWNS(block) ((void)(block), false)
#define VEK_SANITIZER_MALLOC(size) ((void)(size), nullptr)
#define VEK_SANITIZER_CALLOC(count, size) ((void)(count), (void)(size), nullptr)
#define VEK_SANITIZER_REALLOC(block, size)                                     \
	((void)(block), (void)(size), nullptr)
#define VEK_SANITIZER_FREE(block) ((void)(block))
#endif

#endif
