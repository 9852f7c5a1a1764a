/* zuvobox-run PROGRAM [ARGUMENTS...]: runs a logger so that the keyer and switching ports'
 * ptys accept the modem-control calls of a serial port (see modem_supervisor.h). The
 * program and everything it starts are served; zuvobox-run ends when the last of them has
 * ended, with the program's exit status. */
#define _GNU_SOURCE
#include <errno.h>
#include <poll.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/prctl.h>
#include <sys/signalfd.h>
#include <sys/socket.h>
#include <sys/utsname.h>
#include <sys/wait.h>
#include <unistd.h>

#include "modem_supervisor.h"

/* Exit statuses of the wrapper itself, as env(1) and nice(1) use them. */
enum { EXIT_WRAPPER = 125, EXIT_CANNOT_RUN = 126, EXIT_NOT_FOUND = 127 };

static void usage(FILE* out) {
    fputs(
        "Usage: zuvobox-run PROGRAM [ARGUMENTS...]\n"
        "Runs PROGRAM (a logger, and whatever it starts) so that the ZuvoBox keyer and\n"
        "switching ports accept the modem-control calls of a serial port: TIOCMGET shows\n"
        "CTS, DSR and CD on, RTS and DTR can be set, and RTS on the switching port keys\n"
        "PTT. Needs Linux 5.5 or newer.\n",
        out);
}

/* Handing a call back to the kernel (SECCOMP_USER_NOTIF_FLAG_CONTINUE) came with Linux
 * 5.5; before it, every modem-control call on any file would have to be answered here. */
static int kernel_supported(void) {
    struct utsname name;
    unsigned major = 0;
    unsigned minor = 0;
    if (uname(&name) != 0 || sscanf(name.release, "%u.%u", &major, &minor) != 2) {
        return 0;
    }
    return major > 5 || (major == 5 && minor >= 5);
}

/* The runtime folder, chosen as ZuvoBox chooses it. */
static int runtime_folder(char* out, size_t size) {
    const char* xdg = getenv("XDG_RUNTIME_DIR");
    if (xdg != NULL && xdg[0] == '/') {
        size_t length = strlen(xdg);
        while (length > 1 && xdg[length - 1] == '/') {
            --length;
        }
        if (length == 1) {
            length = 0; /* "/" itself */
        }
        return (size_t)snprintf(out, size, "%.*s/zuvobox", (int)length, xdg) < size ? 0 : -1;
    }
    return (size_t)snprintf(out, size, "/tmp/zuvobox-%u", (unsigned)geteuid()) < size ? 0 : -1;
}

static int send_fd(int socket_fd, int fd) {
    char byte = 0;
    struct iovec io = {&byte, 1};
    union {
        struct cmsghdr header;
        char space[CMSG_SPACE(sizeof(int))];
    } control;
    struct msghdr message;
    memset(&message, 0, sizeof message);
    memset(&control, 0, sizeof control);
    message.msg_iov = &io;
    message.msg_iovlen = 1;
    message.msg_control = control.space;
    message.msg_controllen = sizeof control.space;
    struct cmsghdr* c = CMSG_FIRSTHDR(&message);
    c->cmsg_level = SOL_SOCKET;
    c->cmsg_type = SCM_RIGHTS;
    c->cmsg_len = CMSG_LEN(sizeof(int));
    memcpy(CMSG_DATA(c), &fd, sizeof fd);
    return sendmsg(socket_fd, &message, MSG_NOSIGNAL) == 1 ? 0 : -1;
}

static int receive_fd(int socket_fd) {
    char byte = 0;
    struct iovec io = {&byte, 1};
    union {
        struct cmsghdr header;
        char space[CMSG_SPACE(sizeof(int))];
    } control;
    struct msghdr message;
    memset(&message, 0, sizeof message);
    message.msg_iov = &io;
    message.msg_iovlen = 1;
    message.msg_control = control.space;
    message.msg_controllen = sizeof control.space;
    ssize_t n;
    do {
        n = recvmsg(socket_fd, &message, MSG_CMSG_CLOEXEC);
    } while (n < 0 && errno == EINTR);
    struct cmsghdr* c = n == 1 ? CMSG_FIRSTHDR(&message) : NULL;
    if (c == NULL || c->cmsg_level != SOL_SOCKET || c->cmsg_type != SCM_RIGHTS ||
        c->cmsg_len != CMSG_LEN(sizeof(int))) {
        return -1;
    }
    int fd = -1;
    memcpy(&fd, CMSG_DATA(c), sizeof fd);
    return fd;
}

/* The child: installs the filter, hands its listener to the parent, becomes the program. */
static void run_program(int socket_fd, char** argv) {
    const int listener = modem_filter_install();
    if (listener < 0) {
        fprintf(stderr, "zuvobox-run: cannot take over the modem-control calls: %s\n",
                strerror(errno));
        _exit(EXIT_WRAPPER);
    }
    if (send_fd(socket_fd, listener) != 0) {
        _exit(EXIT_WRAPPER); /* the parent is gone */
    }
    close(listener);
    close(socket_fd);
    execvp(argv[0], argv);
    const int error = errno;
    fprintf(stderr, "zuvobox-run: cannot run %s: %s\n", argv[0], strerror(error));
    _exit(error == ENOENT ? EXIT_NOT_FOUND : EXIT_CANNOT_RUN);
}

static int exit_status(int status) {
    if (WIFEXITED(status)) {
        return WEXITSTATUS(status);
    }
    return WIFSIGNALED(status) ? 128 + WTERMSIG(status) : EXIT_WRAPPER;
}

/* Reaps the program and the orphans left to us. False once there is nobody left. */
static int reap(pid_t program, int* status, int* program_done) {
    for (;;) {
        int s = 0;
        const pid_t pid = waitpid(-1, &s, WNOHANG);
        if (pid > 0) {
            if (pid == program) {
                *status = exit_status(s);
                *program_done = 1;
            }
            continue;
        }
        return !(pid < 0 && errno == ECHILD);
    }
}

int main(int argc, char** argv) {
    int first = 1;
    if (argc > 1 && (strcmp(argv[1], "--help") == 0 || strcmp(argv[1], "-h") == 0)) {
        usage(stdout);
        return 0;
    }
    if (argc > 1 && strcmp(argv[1], "--") == 0) {
        first = 2;
    }
    if (first >= argc) {
        usage(stderr);
        return EXIT_WRAPPER;
    }
    if (!kernel_supported()) {
        fputs("zuvobox-run: Linux 5.5 or newer is needed\n", stderr);
        return EXIT_WRAPPER;
    }
    char folder[4096];
    if (runtime_folder(folder, sizeof folder) != 0) {
        fputs("zuvobox-run: the runtime folder's path is too long\n", stderr);
        return EXIT_WRAPPER;
    }
    /* Before the program starts: once its filter is in, a supervisor that fails would turn
     * its modem-control calls on every file, real serial ports included, into errors. */
    struct modem_supervisor supervisor;
    if (modem_supervisor_init(&supervisor, folder) != 0) {
        fprintf(stderr, "zuvobox-run: cannot answer modem-control calls: %s\n", strerror(errno));
        return EXIT_WRAPPER;
    }

    /* Signals are taken through a descriptor; the program gets the default handling back. */
    sigset_t handled;
    sigset_t previous;
    sigemptyset(&handled);
    sigaddset(&handled, SIGCHLD);
    sigaddset(&handled, SIGTERM);
    sigaddset(&handled, SIGHUP);
    sigaddset(&handled, SIGINT);
    sigaddset(&handled, SIGQUIT);
    sigprocmask(SIG_BLOCK, &handled, &previous);
    /* Orphans of the program stay ours, so they are served and reaped too. */
    prctl(PR_SET_CHILD_SUBREAPER, 1, 0, 0, 0);

    int pair[2];
    if (socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0, pair) != 0) {
        perror("zuvobox-run: socketpair");
        return EXIT_WRAPPER;
    }
    const pid_t program = fork();
    if (program < 0) {
        perror("zuvobox-run: fork");
        modem_supervisor_close(&supervisor);
        return EXIT_WRAPPER;
    }
    if (program == 0) {
        close(pair[0]);
        sigprocmask(SIG_SETMASK, &previous, NULL);
        run_program(pair[1], argv + first);
    }
    close(pair[1]);
    /* None when the child could not install the filter: it has said why and exits. */
    const int listener = receive_fd(pair[0]);
    close(pair[0]);
    supervisor.listener = listener;
    const int serving = listener >= 0;
    const int signals = signalfd(-1, &handled, SFD_CLOEXEC | SFD_NONBLOCK);

    int status = EXIT_WRAPPER;
    int program_done = 0;
    /* Without the signal descriptor, the program's end is looked for every 100 ms. */
    const int idle = signals >= 0 ? -1 : 100;
    int timeout = idle;
    while (reap(program, &status, &program_done)) {
        struct pollfd p[2] = {{signals, POLLIN, 0}, {serving ? listener : -1, POLLIN, 0}};
        if (poll(p, 2, timeout) < 0 && errno != EINTR) {
            perror("zuvobox-run: poll");
            break;
        }
        if (p[1].revents & POLLIN) {
            modem_supervisor_handle(&supervisor);
        }
        if (serving) {
            const int next = modem_supervisor_tick(&supervisor);
            timeout = next < 0 ? idle : next;
        }
        struct signalfd_siginfo info;
        while (read(signals, &info, sizeof info) == (ssize_t)sizeof info) {
            /* A terminal's Ctrl+C or hang-up reaches the program itself; a signal sent to
             * zuvobox-run alone is passed on. */
            if (info.ssi_signo != SIGCHLD && info.ssi_code != SI_KERNEL && !program_done) {
                kill(program, (int)info.ssi_signo);
            }
        }
    }
    modem_supervisor_close(&supervisor);
    if (serving) {
        close(listener);
    }
    return status;
}
