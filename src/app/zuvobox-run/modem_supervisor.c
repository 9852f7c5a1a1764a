#define _GNU_SOURCE
#include "modem_supervisor.h"

#include <errno.h>
#include <linux/audit.h>
#include <linux/filter.h>
#include <linux/seccomp.h>
#include <stddef.h>
#include <stdio.h>
#include <string.h>
#include <sys/ioctl.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/sysmacros.h>
#include <sys/uio.h>
#include <sys/un.h>
#include <unistd.h>

#include "platform/posix/client_lines.h"

#if defined(__x86_64__)
#define NATIVE_ARCH AUDIT_ARCH_X86_64
#elif defined(__aarch64__)
#define NATIVE_ARCH AUDIT_ARCH_AARCH64
#elif defined(__i386__)
#define NATIVE_ARCH AUDIT_ARCH_I386
#elif defined(__arm__)
#define NATIVE_ARCH AUDIT_ARCH_ARM
#elif defined(__riscv) && __riscv_xlen == 64
#define NATIVE_ARCH AUDIT_ARCH_RISCV64
#else
#error "zuvobox-run does not know this architecture's system-call ABI"
#endif

/* The kernel reads an ioctl request as a 32-bit number: compare only that half. */
#if __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
#define REQUEST_OFFSET (offsetof(struct seccomp_data, args[1]))
#else
#define REQUEST_OFFSET (offsetof(struct seccomp_data, args[1]) + 4)
#endif

/* Unix98 pty slaves; a real serial device is never answered for. */
#define PTY_SLAVE_MAJOR_FIRST 136u
#define PTY_SLAVE_MAJOR_LAST 143u

#define OUTPUT_LINES (TIOCM_RTS | TIOCM_DTR)
/* What a null-modem cable from a box that is always ready shows the client. */
#define INPUT_LINES (TIOCM_CTS | TIOCM_DSR | TIOCM_CAR)

/* A TIOCMIWAIT caller is looked at this often for a hung-up port. */
#define WAITER_CHECK_MS 250

static const char* const port_names[MODEM_PORT_COUNT] = {"WINKEY_DEVICE", "OTRSP_DEVICE"};

/* Large enough for the kernel's notification and reply, checked at init. */
static union {
    struct seccomp_notif notif;
    unsigned char bytes[512];
} notif_buf;
static union {
    struct seccomp_notif_resp resp;
    unsigned char bytes[512];
} resp_buf;

int modem_filter_install(void) {
    struct sock_filter code[] = {
        BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(struct seccomp_data, arch)),
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, NATIVE_ARCH, 0, 9),
        BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(struct seccomp_data, nr)),
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, __NR_ioctl, 0, 7),
        BPF_STMT(BPF_LD | BPF_W | BPF_ABS, REQUEST_OFFSET),
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, TIOCMGET, 4, 0),
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, TIOCMSET, 3, 0),
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, TIOCMBIS, 2, 0),
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, TIOCMBIC, 1, 0),
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, TIOCMIWAIT, 0, 1),
        BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_USER_NOTIF),
        BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ALLOW),
    };
    struct sock_fprog program = {(unsigned short)(sizeof code / sizeof code[0]), code};
    if (prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) != 0) {
        return -1;
    }
    return (int)syscall(__NR_seccomp, SECCOMP_SET_MODE_FILTER, SECCOMP_FILTER_FLAG_NEW_LISTENER,
                        &program);
}

int modem_supervisor_init(struct modem_supervisor* s, const char* folder) {
    memset(s, 0, sizeof *s);
    s->listener = -1;
    s->sender = -1;
    if (strlen(folder) >= sizeof s->folder) {
        errno = ENAMETOOLONG;
        return -1;
    }
    strcpy(s->folder, folder);
    struct seccomp_notif_sizes sizes;
    if (syscall(__NR_seccomp, SECCOMP_GET_NOTIF_SIZES, 0, &sizes) != 0) {
        return -1;
    }
    if (sizes.seccomp_notif > sizeof notif_buf || sizes.seccomp_notif_resp > sizeof resp_buf) {
        errno = EOVERFLOW;
        return -1;
    }
    s->notif_size = sizes.seccomp_notif;
    s->resp_size = sizes.seccomp_notif_resp;
    s->sender = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    return s->sender < 0 ? -1 : 0;
}

void modem_supervisor_close(struct modem_supervisor* s) {
    if (s->sender >= 0) {
        close(s->sender);
        s->sender = -1;
    }
}

/* The port whose link points at the pty the caller's descriptor refers to, or -1. The
 * device number is compared, not the name, so the link and /dev/pts/N are the same port;
 * the link is read at every call because ZuvoBox makes a new pty each time it starts. */
static int port_of(const struct modem_supervisor* s, pid_t pid, uint64_t fd, dev_t* device) {
    char path[64];
    struct stat st;
    if (fd > (uint64_t)INT32_MAX) {
        return -1;
    }
    snprintf(path, sizeof path, "/proc/%d/fd/%d", (int)pid, (int)fd);
    if (stat(path, &st) != 0 || !S_ISCHR(st.st_mode) || major(st.st_rdev) < PTY_SLAVE_MAJOR_FIRST ||
        major(st.st_rdev) > PTY_SLAVE_MAJOR_LAST) {
        return -1;
    }
    for (int port = 0; port < MODEM_PORT_COUNT; ++port) {
        char link[sizeof s->folder + 32];
        struct stat target;
        snprintf(link, sizeof link, "%s/%s", s->folder, port_names[port]);
        if (stat(link, &target) == 0 && S_ISCHR(target.st_mode) && target.st_rdev == st.st_rdev) {
            *device = st.st_rdev;
            return port;
        }
    }
    return -1;
}

static void reply(const struct modem_supervisor* s, uint64_t id, int error, uint32_t flags) {
    memset(&resp_buf, 0, s->resp_size);
    resp_buf.resp.id = id;
    resp_buf.resp.error = error == 0 ? 0 : -error;
    resp_buf.resp.val = 0;
    resp_buf.resp.flags = flags;
    /* ENOENT: the caller was interrupted or has gone; nothing is owed to it any more. */
    (void)ioctl(s->listener, SECCOMP_IOCTL_NOTIF_SEND, &resp_buf.resp);
}

static int still_waiting(const struct modem_supervisor* s, uint64_t id) {
    if (ioctl(s->listener, SECCOMP_IOCTL_NOTIF_ID_VALID, &id) == 0) {
        return 1;
    }
    /* Kernels before 5.9 know this request only under its first number. */
    return errno == EINVAL && ioctl(s->listener, SECCOMP_IOR(2, __u64), &id) == 0;
}

/* A system that forbids reaching the memory of one's own children (kernel.yama.ptrace_scope
 * 2 or 3) fails every answer; the operator is told once why, not left with EFAULT alone. */
static int memory_result(ssize_t n) {
    static int told;
    if (n < 0 && errno == EPERM && !told) {
        told = 1;
        fputs(
            "zuvobox-run: the system does not let it reach the program's memory "
            "(kernel.yama.ptrace_scope); modem-control calls on the ports fail\n",
            stderr);
    }
    return n == (ssize_t)sizeof(int);
}

static int read_int(pid_t pid, uint64_t address, int* value) {
    struct iovec local = {value, sizeof *value};
    struct iovec remote = {(void*)(uintptr_t)address, sizeof *value};
    return memory_result(process_vm_readv(pid, &local, 1, &remote, 1, 0));
}

static int write_int(pid_t pid, uint64_t address, int value) {
    struct iovec local = {&value, sizeof value};
    struct iovec remote = {(void*)(uintptr_t)address, sizeof value};
    return memory_result(process_vm_writev(pid, &local, 1, &remote, 1, 0));
}

/* Tells the pipe server, before the caller goes on, so that what the client writes next
 * cannot overtake its lines. A server that is not listening (an older one, or the keyer
 * port's) loses nothing it would have used. */
static void send_lines(const struct modem_supervisor* s, int port) {
    struct sockaddr_un to;
    struct ZuvoClientLines message;
    memset(&to, 0, sizeof to);
    to.sun_family = AF_UNIX;
    if ((size_t)snprintf(to.sun_path, sizeof to.sun_path, "%s/%s%s", s->folder, port_names[port],
                         ZUVO_CLIENT_LINES_SUFFIX) >= sizeof to.sun_path) {
        return;
    }
    message.magic = ZUVO_CLIENT_LINES_MAGIC;
    message.lines = (uint32_t)s->ports[port].lines;
    message.device = (uint64_t)s->ports[port].device;
    (void)sendto(s->sender, &message, sizeof message, MSG_DONTWAIT | MSG_NOSIGNAL,
                 (const struct sockaddr*)&to, sizeof to);
}

void modem_supervisor_handle(struct modem_supervisor* s) {
    memset(&notif_buf, 0, s->notif_size);
    if (ioctl(s->listener, SECCOMP_IOCTL_NOTIF_RECV, &notif_buf.notif) != 0) {
        return; /* the caller went away before it could be received */
    }
    const struct seccomp_notif* call = &notif_buf.notif;
    const unsigned request = (unsigned)call->data.args[1];
    const uint64_t argument = call->data.args[2];
    dev_t device = 0;
    const int port = call->data.nr == __NR_ioctl
                         ? port_of(s, (pid_t)call->pid, call->data.args[0], &device)
                         : -1;
    if (port < 0) {
        reply(s, call->id, 0, SECCOMP_USER_NOTIF_FLAG_CONTINUE);
        return;
    }
    /* Descriptor and memory are only trusted while the caller still waits for this reply. */
    if (!still_waiting(s, call->id)) {
        return;
    }
    struct modem_port_lines* lines = &s->ports[port];
    if (lines->device != device) {
        lines->device = device;
        lines->lines = 0; /* a new pty: no PTT from what was set on the last one */
    }
    int value = 0;
    switch (request) {
        case TIOCMGET:
            reply(s, call->id,
                  write_int((pid_t)call->pid, argument, INPUT_LINES | lines->lines) ? 0 : EFAULT,
                  0);
            return;
        case TIOCMSET:
        case TIOCMBIS:
        case TIOCMBIC:
            if (!read_int((pid_t)call->pid, argument, &value)) {
                reply(s, call->id, EFAULT, 0);
                return;
            }
            value &= OUTPUT_LINES;
            if (request == TIOCMSET) {
                lines->lines = value;
            } else if (request == TIOCMBIS) {
                lines->lines |= value;
            } else {
                lines->lines &= ~value;
            }
            send_lines(s, port);
            reply(s, call->id, 0, 0);
            return;
        case TIOCMIWAIT:
            /* The box side never changes CTS, DSR or CD: the call waits until the port
             * hangs up (EIO, as a serial port that is unplugged) or a signal interrupts it. */
            if (s->waiter_count == MODEM_MAX_WAITERS) {
                reply(s, call->id, EIO, 0);
                return;
            }
            s->waiters[s->waiter_count].id = call->id;
            s->waiters[s->waiter_count].pid = (pid_t)call->pid;
            s->waiters[s->waiter_count].fd = (int)call->data.args[0];
            ++s->waiter_count;
            return;
        default:
            reply(s, call->id, 0, SECCOMP_USER_NOTIF_FLAG_CONTINUE);
            return;
    }
}

/* True when the pty behind the descriptor has lost its master: ZuvoBox closed the port or
 * ended. The kernel then removes the slave's node, which the descriptor's link shows. The
 * caller's descriptor is only looked at, never held, so that the client's close is seen by
 * the server at once. */
static int hung_up(pid_t pid, int fd) {
    char path[64];
    char target[256];
    static const char deleted[] = " (deleted)";
    snprintf(path, sizeof path, "/proc/%d/fd/%d", (int)pid, fd);
    const ssize_t n = readlink(path, target, sizeof target - 1);
    if (n <= 0) {
        return 0; /* closed by another thread: the call waits on, as in the kernel */
    }
    target[n] = '\0';
    const size_t suffix = sizeof deleted - 1;
    return (size_t)n > suffix && strcmp(target + n - suffix, deleted) == 0;
}

int modem_supervisor_tick(struct modem_supervisor* s) {
    int kept = 0;
    for (int i = 0; i < s->waiter_count; ++i) {
        const struct modem_waiter w = s->waiters[i];
        if (!still_waiting(s, w.id)) {
            continue;
        }
        if (hung_up(w.pid, w.fd)) {
            reply(s, w.id, EIO, 0);
            continue;
        }
        s->waiters[kept++] = w;
    }
    s->waiter_count = kept;
    return kept > 0 ? WAITER_CHECK_MS : -1;
}
