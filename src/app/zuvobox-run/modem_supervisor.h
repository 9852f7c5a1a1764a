/* Modem lines for the programs run under zuvobox-run.
 *
 * A pty has no modem lines: TIOCMGET, TIOCMSET, TIOCMBIS, TIOCMBIC and TIOCMIWAIT fail with
 * ENOTTY, and strict serial programs give up on the port. A seccomp filter installed in the
 * program (and inherited by every process it starts) hands exactly these five ioctls to the
 * supervisor in zuvobox-run. On one of our ports' ptys (the slave a link in the runtime
 * folder points at) the supervisor answers them as a serial port behind a null-modem cable
 * would; everything else goes back to the kernel untouched. The filter sees the system
 * call itself, so programs that call the kernel without the C library are served too. */
#ifndef ZUVO_APP_ZUVOBOX_RUN_MODEM_SUPERVISOR_H
#define ZUVO_APP_ZUVOBOX_RUN_MODEM_SUPERVISOR_H

#include <stdint.h>
#include <sys/types.h>

/* Called in the child before it runs the program: sets no-new-privileges and installs the
 * filter. Returns the listening descriptor for the supervisor, or -1 with errno set. */
int modem_filter_install(void);

enum { MODEM_PORT_COUNT = 2, MODEM_MAX_WAITERS = 64 };

struct modem_port_lines {
    dev_t device; /* the pty the lines were set on; a new pty starts with its lines off */
    int lines;    /* TIOCM_RTS | TIOCM_DTR as last set */
};

struct modem_waiter {
    uint64_t id; /* the notification, answered when the port hangs up */
    pid_t pid;
    int fd;
};

struct modem_supervisor {
    int listener;
    int sender; /* datagram socket towards the pipe server */
    char folder[4096];
    struct modem_port_lines ports[MODEM_PORT_COUNT];
    struct modem_waiter waiters[MODEM_MAX_WAITERS];
    int waiter_count;
    unsigned notif_size;
    unsigned resp_size;
};

/* folder: the runtime folder holding the port links. Called before the program starts, so
 * that a supervisor that cannot work stops zuvobox-run before the filter is installed;
 * listener is set once the program has handed it over. Returns 0, or -1 with errno set. */
int modem_supervisor_init(struct modem_supervisor* s, const char* folder);
void modem_supervisor_close(struct modem_supervisor* s);

/* Answers one call waiting on the listener (does not block when there is none). */
void modem_supervisor_handle(struct modem_supervisor* s);

/* Ends the TIOCMIWAIT calls whose port has hung up and forgets those that were interrupted.
 * Returns the poll timeout until the next check in ms, -1 when nothing waits. */
int modem_supervisor_tick(struct modem_supervisor* s);

#endif
