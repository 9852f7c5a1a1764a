#include "platform/posix/signal_watcher.h"

#include <poll.h>
#include <signal.h>
#include <sys/eventfd.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include <cstdint>

namespace zuvo::platform::posix {

SignalWatcher::SignalWatcher(IMessagePoster& poster) {
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGINT);
    sigaddset(&set, SIGTERM);
    sigaddset(&set, SIGHUP);  // the terminal was closed
    pthread_sigmask(SIG_BLOCK, &set, nullptr);
    // A reader of our output that has gone (`ZuvoBox --headless | grep ...`, its terminal
    // closed) must not end the program before its closing sequence: the write just fails.
    signal(SIGPIPE, SIG_IGN);
    signalFd_ = signalfd(-1, &set, SFD_CLOEXEC);
    stopFd_ = eventfd(0, EFD_CLOEXEC);
    if (signalFd_ >= 0 && stopFd_ >= 0) {
        thread_ = std::thread(&SignalWatcher::Run, this, &poster);
    }
}

SignalWatcher::~SignalWatcher() {
    if (thread_.joinable()) {
        const uint64_t one = 1;
        [[maybe_unused]] ssize_t n = write(stopFd_, &one, sizeof one);
        thread_.join();
    }
    if (signalFd_ >= 0) {
        close(signalFd_);
    }
    if (stopFd_ >= 0) {
        close(stopFd_);
    }
}

void SignalWatcher::Run(IMessagePoster* poster) {
    pollfd fds[2] = {{stopFd_, POLLIN, 0}, {signalFd_, POLLIN, 0}};
    for (;;) {
        if (poll(fds, 2, -1) < 0) {
            continue;  // EINTR
        }
        if (fds[0].revents != 0) {
            break;
        }
        if ((fds[1].revents & POLLIN) != 0) {
            signalfd_siginfo info;
            if (read(signalFd_, &info, sizeof info) == static_cast<ssize_t>(sizeof info)) {
                poster->Post({kMsgClose, 0, 0, {}, 0});
            }
        }
    }
}

}  // namespace zuvo::platform::posix
