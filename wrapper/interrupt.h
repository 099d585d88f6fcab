/*
 * What the wrappers do with the signals that would end them: every signal
 * whose default action ends the process, but for those that report a fault
 * of our own, is passed on to the running tool and remembered, so that the
 * wrapper can wait for the tool, remove its response file and then end by
 * the same signal.
 */
#ifndef VEK_WRAPPER_INTERRUPT_H
#define VEK_WRAPPER_INTERRUPT_H

/*
 * Give SIGCHLD its default action back, so that the tool can be waited for
 * even when our parent ignored it.  Then catch the signals above, except
 * those ignored when we started (the tool inherits that).  From here on
 * each is relayed to a tool started with PEX_RELAY_SIGNALS and recorded;
 * nothing else happens until the caller asks.
 */
void interrupt_catch(void);

/* The first signal caught, or 0. */
int interrupt_first(void);

/* Whether SIG was caught at least once. */
bool interrupt_caught(int sig);

/*
 * End the process by SIG with its default action, as the tool would, but
 * without a core dump of ours in place of the tool's.
 */
[[noreturn]] void interrupt_die(int sig);

#endif
