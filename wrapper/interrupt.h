/*
 * What the wrappers do with the signals that would end them: every signal
 * whose default action ends the process is passed on to the running tool
 * and remembered, so that the wrapper can wait for the tool, remove its
 * response file and then end by the same signal.  A fault of the wrapper's
 * own still ends it where it happened.
 */
#ifndef VEK_WRAPPER_INTERRUPT_H
#define VEK_WRAPPER_INTERRUPT_H

/*
 * Give SIGCHLD a handler that never runs, so that the tool can be waited
 * for even when our parent ignored it.  Then block the signals above (but
 * for those our parent blocked) and SIGCHLD, and have a tool started with
 * PEX_RELAY_SIGNALS start with our parent's mask and get each of them that
 * comes while it runs, unless a terminal sent it to the tool too.  One
 * ignored when we started is neither recorded nor passed on; the tool
 * inherits that.
 */
void interrupt_catch(void);

/* The first signal taken so far, looking at those that came meanwhile; 0
 * when none. */
int interrupt_first(void);

/* Whether SIG was taken at least once. */
bool interrupt_caught(int sig);

/* Let SIG act on us again as it did before interrupt_catch; one that came
 * meanwhile acts at once. */
void interrupt_release(int sig);

/*
 * End the process by SIG with its default action, as the tool would, but
 * without a core dump of ours in place of the tool's.  Where that action
 * ends nobody, exit with OTHERWISE instead.
 */
[[noreturn]] void interrupt_die(int sig, int otherwise);

#endif
