/*
 * Signals that would end us while the tool runs.  None of them gets a
 * handler: from before our response file exists until the end they stay
 * blocked, and are taken at the points that can act on them (before the
 * tool starts, while it runs, after it ended), where no file of ours is
 * half made.  The tool starts with the mask we were given.
 */
#include "wrapper/interrupt.h"

#include <signal.h>
#include <sys/resource.h>
#include <time.h>
#include <unistd.h>

#include "pex/pex.h"
#include "support/portability.h"

static int first_caught = 0;
/* One flag per signal: real-time signals lie beyond any word's bits. */
static bool caught_flags[VEK_NSIG] = {};

/*
 * The signals we leave alone: those that cannot be caught, and those whose
 * default is to be ignored, stop or continue, which end nobody.  A fault of
 * our own is never taken here: the kernel ends us by it even while it is
 * blocked.  The same signal sent by another process is taken and passed on
 * like any other, and so is a broken pipe, ours on standard error included.
 */
static bool
passed_on(int sig)
{
	switch (sig) {
	case SIGKILL:
	case SIGSTOP:
	case SIGCHLD:
	case SIGCONT:
	case SIGTSTP:
	case SIGTTIN:
	case SIGTTOU:
	case SIGURG:
	case SIGWINCH:
		return false;
	default:
		return !vek_ignored_by_default(sig);
	}
}

/*
 * A terminal sends its keys (Ctrl-C, Ctrl-\) to the whole foreground
 * process group, and its hang-up to that group or, when we lead the
 * session, to us alone: sent to the tool again, the second could end it
 * inside its handler for the first.  The kernel sends these signals of
 * its own accord in no other way.
 */
static bool
from_the_terminal(const siginfo_t *info)
{
	int sig = info->si_signo;
	return VEK_SENT_BY_KERNEL(info) &&
	       (sig == SIGINT || sig == SIGQUIT ||
	        (sig == SIGHUP && getsid(0) != getpid()));
}

/*
 * Record a signal taken; whether the tool gets it from us too.  Blocked,
 * a signal ignored since we started (nohup) may be queued all the same
 * (Linux keeps it, FreeBSD drops it): it stays ignored, as the tool, which
 * inherits that, ignores it.
 */
static int
take(const siginfo_t *info)
{
	int sig = info->si_signo;
	if (VEK_SIGNAL_IGNORED(sig))
		return 0;
	if (first_caught == 0)
		first_caught = sig;
	caught_flags[sig] = true;
	return from_the_terminal(info) ? 0 : 1;
}

static struct pex_relay relay = {};

static void
keep_sigchld(int)
{
}

void
interrupt_catch(void)
{
	/*
	 * SIGCHLD gets a handler that never runs, for it stays blocked: a
	 * parent may have had it ignored, which would have the kernel reap
	 * the tool before its status could be read; and where its action is
	 * to ignore it, even by default, FreeBSD drops it though blocked,
	 * and our wait for it would never end.
	 */
	struct sigaction kept = {};
	kept.sa_handler = keep_sigchld;
	sigaction(SIGCHLD, &kept, nullptr);

	/* The numbers the C library keeps for itself too: sent to us, they
	 * would end us as any other would, the tool left running. */
	sigset_t block;
	sigemptyset(&block);
	for (int sig = 1; sig < VEK_NSIG; sig++)
		if (passed_on(sig))
			VEK_SIGADDSET(&block, sig);
	VEK_SIGADDSET(&block, SIGCHLD);
	sigemptyset(&relay.child_mask);
	VEK_SIGPROCMASK(SIG_BLOCK, &block, &relay.child_mask);
	/* What our parent kept blocked stays so, and is not ours to take. */
	relay.signals = block;
	VEK_SIGDELSET(&relay.signals, SIGCHLD);
	for (int sig = 1; sig < VEK_NSIG; sig++)
		if (VEK_SIGISMEMBER(&relay.child_mask, sig))
			VEK_SIGDELSET(&relay.signals, sig);
	/* The C library would start the tool ignoring its own numbers; it
	 * gets what we got, as from a plain exec. */
	sigemptyset(&relay.child_default);
	for (int sig = VEK_LIBC_SIGNALS_FIRST; sig < VEK_LIBC_SIGNALS_END;
	     sig++)
		if (!VEK_SIGNAL_IGNORED(sig))
			VEK_SIGADDSET(&relay.child_default, sig);
	relay.take = take;
	pex_set_relay(&relay);
}

/* Take what came since we last looked. */
static void
take_pending(void)
{
	const struct timespec no_wait = {0, 0};
	siginfo_t info;
	while (VEK_SIGTIMEDWAIT(&relay.signals, &info, &no_wait) > 0)
		take(&info);
}

int
interrupt_first(void)
{
	if (relay.take != nullptr)
		take_pending();
	return first_caught;
}

bool
interrupt_caught(int sig)
{
	return sig > 0 && sig < VEK_NSIG && caught_flags[sig];
}

void
interrupt_release(int sig)
{
	sigset_t only;
	sigemptyset(&only);
	VEK_SIGADDSET(&only, sig);
	if (!VEK_SIGISMEMBER(&relay.child_mask, sig))
		VEK_SIGPROCMASK(SIG_UNBLOCK, &only, nullptr);
}

void
interrupt_die(int sig, int otherwise)
{
	sigset_t only;
	/* The tool wrote its core, if any: ours would take its place.  We are
	 * about to end, so the hard limit may go too. */
	const struct rlimit no_core = {0, 0};
	setrlimit(RLIMIT_CORE, &no_core);

	struct sigaction by_default = {};
	by_default.sa_handler = SIG_DFL;
	sigaction(sig, &by_default, nullptr);
	sigemptyset(&only);
	VEK_SIGADDSET(&only, sig);
	VEK_SIGPROCMASK(SIG_UNBLOCK, &only, nullptr);
	/* Not raise, which refuses the C library's own numbers; in a
	 * program of one thread it comes to the same. */
	kill(getpid(), sig);
	/* Still here: on this system the signal ends nobody, and what the
	 * tool said stands. */
	_exit(otherwise);
}
