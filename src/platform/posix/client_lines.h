/* The modem lines a pipe client sets, as zuvobox-run hands them to the pipe server: one
 * datagram per TIOCMSET, TIOCMBIS or TIOCMBIC on the client's pty, sent to a Unix datagram
 * socket beside the port's link in the runtime folder. Written in C so that zuvobox-run,
 * which uses the C library only, shares it with the server. */
#ifndef ZUVO_PLATFORM_POSIX_CLIENT_LINES_H
#define ZUVO_PLATFORM_POSIX_CLIENT_LINES_H

#include <stdint.h>

/* The socket's name is the link's name followed by this suffix ("OTRSP_DEVICE.lines"). */
#define ZUVO_CLIENT_LINES_SUFFIX ".lines"

#define ZUVO_CLIENT_LINES_MAGIC 0x314E4C5Au /* "ZLN1" */

struct ZuvoClientLines {
    uint32_t magic;  /* ZUVO_CLIENT_LINES_MAGIC */
    uint32_t lines;  /* TIOCM_RTS | TIOCM_DTR as the client last set them; nothing else */
    uint64_t device; /* st_rdev of the pty slave the client set them on */
};

#endif
