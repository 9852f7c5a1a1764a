/* A strict serial client, as some loggers and keyer daemons are: it sets the port's modem
 * lines before anything else and gives up at the first modem-control call that fails.
 *
 *   strict_serial_client [--raw] PORT STEP...
 *
 * --raw makes the modem-control calls as system calls of its own, without the C library's
 * ioctl(), as language runtimes that do not use the C library do.
 *
 * First, always: TIOCMGET, RTS and DTR off with TIOCMSET, TIOCMGET again (RTS and DTR must
 * be off, CTS, DSR and CD on), raw mode. Then the steps, in order:
 *   send:HEX       write bytes ("send:0002")
 *   text:TEXT      write text; "\r" in TEXT is a carriage return
 *   expect:HEX     read until these bytes have come, 10 s at most; prints "got HEX..." with
 *                  everything read since the last expect
 *   rts:1, rts:0   TIOCMBIS or TIOCMBIC with RTS, then TIOCMGET must show it
 *   thread:STEP    run the step in a thread of its own and join it
 *   others         modem-control calls on a pty of its own and on /dev/null must still fail
 *   wait-lines     a thread waits in TIOCMIWAIT for CTS, DSR or CD
 *   still-waiting  that thread must still be waiting
 *   hangup         prints "waiting for the hang-up", then waits 10 s at most for that thread
 *                  to return; prints "TIOCMIWAIT: " and the error
 *   die            ends the process with SIGKILL, leaving everything as it is
 *
 * Exit: 0 done, 2 a modem-control call failed, 3 an expect timed out, 4 the lines are not
 * as set, 5 usage, 6 a call that must fail succeeded, 7 the waiting thread returned early,
 * 8 the port cannot be opened or written. */
#define _GNU_SOURCE
#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <stdatomic.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/ioctl.h>
#include <sys/syscall.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

static int use_raw;
static int port = -1;
static unsigned char received[4096];
static size_t received_length;

static atomic_int waiter_done;
static atomic_int waiter_error;

static int modem_call(int fd, unsigned long request, void* argument) {
    if (use_raw) {
        const long r = syscall(SYS_ioctl, fd, request, argument);
        return r < 0 ? -1 : (int)r;
    }
    return ioctl(fd, request, argument);
}

static void fail(int code, const char* what) {
    fprintf(stderr, "%s: %s\n", what, strerror(errno));
    exit(code);
}

static int get_lines(void) {
    int lines = 0;
    if (modem_call(port, TIOCMGET, &lines) != 0) {
        fail(2, "TIOCMGET");
    }
    return lines;
}

static void set_rts(int on) {
    int bit = TIOCM_RTS;
    if (modem_call(port, on ? TIOCMBIS : TIOCMBIC, &bit) != 0) {
        fail(2, on ? "TIOCMBIS" : "TIOCMBIC");
    }
    if (((get_lines() & TIOCM_RTS) != 0) != on) {
        fprintf(stderr, "RTS is not %s\n", on ? "on" : "off");
        exit(4);
    }
}

static void set_up(void) {
    (void)get_lines();
    int lines = 0;
    if (modem_call(port, TIOCMSET, &lines) != 0) {
        fail(2, "TIOCMSET");
    }
    lines = get_lines();
    const int inputs = TIOCM_CTS | TIOCM_DSR | TIOCM_CAR;
    if ((lines & (TIOCM_RTS | TIOCM_DTR)) != 0 || (lines & inputs) != inputs) {
        fprintf(stderr, "lines 0x%x after TIOCMSET 0\n", (unsigned)lines);
        exit(4);
    }
    struct termios t;
    if (tcgetattr(port, &t) != 0) {
        fail(8, "tcgetattr");
    }
    cfmakeraw(&t);
    if (tcsetattr(port, TCSANOW, &t) != 0) {
        fail(8, "tcsetattr");
    }
}

static size_t parse_hex(const char* text, unsigned char* out, size_t size) {
    size_t n = 0;
    while (text[0] != '\0' && text[1] != '\0' && n < size) {
        char pair[3] = {text[0], text[1], '\0'};
        out[n++] = (unsigned char)strtoul(pair, NULL, 16);
        text += 2;
    }
    return n;
}

static void write_all(const unsigned char* data, size_t length) {
    while (length > 0) {
        const ssize_t n = write(port, data, length);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            fail(8, "write");
        }
        data += n;
        length -= (size_t)n;
    }
}

static long now_ms(void) {
    struct timespec t;
    clock_gettime(CLOCK_MONOTONIC, &t);
    return t.tv_sec * 1000L + t.tv_nsec / 1000000L;
}

static void expect(const unsigned char* wanted, size_t length) {
    const long end = now_ms() + 10000;
    for (;;) {
        if (received_length >= length) {
            for (size_t at = 0; at + length <= received_length; ++at) {
                if (memcmp(received + at, wanted, length) == 0) {
                    printf("got");
                    for (size_t i = 0; i < at + length; ++i) {
                        printf(" %02X", received[i]);
                    }
                    printf("\n");
                    fflush(stdout);
                    received_length -= at + length;
                    memmove(received, received + at + length, received_length);
                    return;
                }
            }
        }
        const long left = end - now_ms();
        if (left <= 0 || received_length == sizeof received) {
            fprintf(stderr, "expected bytes did not come (%zu bytes read)\n", received_length);
            exit(3);
        }
        struct pollfd p = {port, POLLIN, 0};
        if (poll(&p, 1, (int)left) > 0) {
            const ssize_t n =
                read(port, received + received_length, sizeof received - received_length);
            if (n > 0) {
                received_length += (size_t)n;
            }
        }
    }
}

/* Calls on files that are not our ports must fail as they always did. */
static void check_others(void) {
    int lines = 0;
    const int master = posix_openpt(O_RDWR | O_NOCTTY);
    if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0) {
        fail(8, "posix_openpt");
    }
    const int slave = open(ptsname(master), O_RDWR | O_NOCTTY);
    const int null = open("/dev/null", O_RDWR);
    if (slave < 0 || null < 0) {
        fail(8, "open");
    }
    if (modem_call(slave, TIOCMGET, &lines) == 0 || errno != ENOTTY ||
        modem_call(slave, TIOCMBIS, &lines) == 0 || errno != ENOTTY ||
        modem_call(null, TIOCMGET, &lines) == 0 || errno != ENOTTY) {
        fprintf(stderr, "a modem-control call on another file did not fail with ENOTTY\n");
        exit(6);
    }
    close(null);
    close(slave);
    close(master);
}

static void* wait_lines(void* unused) {
    (void)unused;
    const int r = modem_call(port, TIOCMIWAIT, (void*)(long)(TIOCM_CTS | TIOCM_DSR | TIOCM_CD));
    atomic_store(&waiter_error, r == 0 ? 0 : errno);
    atomic_store(&waiter_done, 1);
    return NULL;
}

static void run_step(const char* step);

static void* step_thread(void* step) {
    run_step((const char*)step);
    return NULL;
}

static void run_step(const char* step) {
    unsigned char bytes[256];
    if (strncmp(step, "send:", 5) == 0) {
        write_all(bytes, parse_hex(step + 5, bytes, sizeof bytes));
    } else if (strncmp(step, "text:", 5) == 0) {
        size_t n = 0;
        for (const char* c = step + 5; *c != '\0' && n < sizeof bytes; ++c) {
            if (c[0] == '\\' && c[1] == 'r') {
                bytes[n++] = '\r';
                ++c;
            } else {
                bytes[n++] = (unsigned char)*c;
            }
        }
        write_all(bytes, n);
    } else if (strncmp(step, "expect:", 7) == 0) {
        expect(bytes, parse_hex(step + 7, bytes, sizeof bytes));
    } else if (strcmp(step, "rts:1") == 0 || strcmp(step, "rts:0") == 0) {
        set_rts(step[4] == '1');
    } else if (strncmp(step, "thread:", 7) == 0) {
        pthread_t thread;
        if (pthread_create(&thread, NULL, step_thread, (void*)(step + 7)) != 0) {
            exit(8);
        }
        pthread_join(thread, NULL);
    } else if (strcmp(step, "others") == 0) {
        check_others();
    } else if (strcmp(step, "wait-lines") == 0) {
        pthread_t thread;
        if (pthread_create(&thread, NULL, wait_lines, NULL) != 0) {
            exit(8);
        }
        pthread_detach(thread);
    } else if (strcmp(step, "still-waiting") == 0) {
        if (atomic_load(&waiter_done)) {
            errno = atomic_load(&waiter_error);
            fail(7, "TIOCMIWAIT returned");
        }
    } else if (strcmp(step, "hangup") == 0) {
        printf("waiting for the hang-up\n");
        fflush(stdout);
        const long end = now_ms() + 10000;
        while (!atomic_load(&waiter_done) && now_ms() < end) {
            usleep(10000);
        }
        if (!atomic_load(&waiter_done)) {
            fprintf(stderr, "TIOCMIWAIT did not return at the hang-up\n");
            exit(7);
        }
        printf("TIOCMIWAIT: %s\n", strerror(atomic_load(&waiter_error)));
        fflush(stdout);
    } else if (strcmp(step, "die") == 0) {
        raise(SIGKILL);
    } else {
        fprintf(stderr, "unknown step %s\n", step);
        exit(5);
    }
}

int main(int argc, char** argv) {
    int first = 1;
    if (argc > 1 && strcmp(argv[1], "--raw") == 0) {
        use_raw = 1;
        first = 2;
    }
    if (first >= argc) {
        fprintf(stderr, "usage: strict_serial_client [--raw] PORT STEP...\n");
        return 5;
    }
    port = open(argv[first], O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (port < 0) {
        fail(8, argv[first]);
    }
    set_up();
    for (int i = first + 1; i < argc; ++i) {
        run_step(argv[i]);
    }
    return 0;
}
