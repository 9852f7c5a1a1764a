// zuvobox-rtty: an RTTY program on the command line. Finds the running ZuvoBox through its
// shared block, sets a station's speed, length and stop bits, keys PTT and sends text paced
// on the station's counter.

#include <atomic>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <iterator>
#include <optional>
#include <string>

#include "rtty/rtty_client.h"

#ifdef _WIN32
#include "platform/win32/rtty_client_win32.h"
using SystemRttyTransport = zuvo::platform::win32::Win32RttyTransport;
#else
#include "platform/posix/rtty_client_posix.h"
using SystemRttyTransport = zuvo::platform::posix::PosixRttyTransport;
#endif

namespace {

constexpr int kExitUsage = 1;
constexpr int kExitNotRunning = 2;
constexpr int kExitFailed = 3;

// Ctrl-C while text is going out must still release PTT, or the transmitter stays keyed.
std::atomic<bool> g_stop{false};
extern "C" void OnStopSignal(int) {
    g_stop = true;
}

void Usage(std::FILE* out) {
    std::fprintf(out,
                 "Usage: zuvobox-rtty [options]\n"
                 "  --station N       station 1..4 (default 1)\n"
                 "  --speed BAUD      22, 45, 50, 56, 75, 100, 110, 150, 200 or 300\n"
                 "  --length BITS     character length 5..8\n"
                 "  --stop CODE       stop bits: 0 = 1, 1 = 1.5, 2 = 2\n"
                 "  --ptt on|off      key or release PTT\n"
                 "  --text TEXT       key PTT, send TEXT (\"-\": standard input), release PTT\n"
                 "  --no-ptt          with --text: leave PTT alone\n"
                 "  --counter         print the station's character counter\n"
                 "  --raw WPARAM      send one message exactly as given (0x... allowed)\n"
                 "  --timeout MS      longest wait for one character to be taken (10000)\n"
                 "Settings are sent first, then --raw, --ptt, --text and --counter.\n"
                 "Exit status: 0 done, 1 usage, 2 no ZuvoBox running, 3 sending failed.\n");
}

struct Options {
    int station = 1;
    std::optional<unsigned> speed, length, stop;
    std::optional<bool> ptt;
    std::optional<std::string> text;
    std::optional<uint32_t> raw;
    bool noPtt = false;
    bool counter = false;
    long timeoutMs = 10000;
};

bool ParseNumber(const std::string& text, unsigned long& out) {
    if (text.empty()) {
        return false;
    }
    char* end = nullptr;
    errno = 0;
    out = std::strtoul(text.c_str(), &end, 0);
    return errno == 0 && *end == '\0' && text[0] != '-';
}

std::optional<Options> Parse(int argc, char** argv) {
    Options o;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        auto value = [&]() -> std::optional<std::string> {
            if (i + 1 >= argc) {
                std::fprintf(stderr, "zuvobox-rtty: %s needs a value\n", arg.c_str());
                return std::nullopt;
            }
            return std::string(argv[++i]);
        };
        auto number = [&](unsigned long max) -> std::optional<unsigned long> {
            const auto v = value();
            unsigned long n = 0;
            if (!v) {
                return std::nullopt;
            }
            if (!ParseNumber(*v, n) || n > max) {
                std::fprintf(stderr, "zuvobox-rtty: %s: bad number \"%s\"\n", arg.c_str(),
                             v->c_str());
                return std::nullopt;
            }
            return n;
        };
        std::optional<unsigned long> n;
        if (arg == "--station") {
            if (!(n = number(255))) {
                return std::nullopt;
            }
            o.station = static_cast<int>(*n);
        } else if (arg == "--speed") {
            if (!(n = number(0xFFFF))) {
                return std::nullopt;
            }
            o.speed = static_cast<unsigned>(*n);
        } else if (arg == "--length") {
            if (!(n = number(0xFFFF))) {
                return std::nullopt;
            }
            o.length = static_cast<unsigned>(*n);
        } else if (arg == "--stop") {
            if (!(n = number(0xFFFF))) {
                return std::nullopt;
            }
            o.stop = static_cast<unsigned>(*n);
        } else if (arg == "--raw") {
            if (!(n = number(0xFFFFFFFFul))) {
                return std::nullopt;
            }
            o.raw = static_cast<uint32_t>(*n);
        } else if (arg == "--timeout") {
            if (!(n = number(3600000))) {
                return std::nullopt;
            }
            o.timeoutMs = static_cast<long>(*n);
        } else if (arg == "--ptt") {
            const auto v = value();
            if (!v || (*v != "on" && *v != "off")) {
                std::fprintf(stderr, "zuvobox-rtty: --ptt takes on or off\n");
                return std::nullopt;
            }
            o.ptt = *v == "on";
        } else if (arg == "--text") {
            const auto v = value();
            if (!v) {
                return std::nullopt;
            }
            o.text = *v;
        } else if (arg == "--no-ptt") {
            o.noPtt = true;
        } else if (arg == "--counter") {
            o.counter = true;
        } else if (arg == "--help" || arg == "-h") {
            Usage(stdout);
            std::exit(0);
        } else {
            std::fprintf(stderr, "zuvobox-rtty: unknown option %s\n", arg.c_str());
            Usage(stderr);
            return std::nullopt;
        }
    }
    return o;
}

int Fail(const zuvo::RttyClient& client) {
    std::fprintf(stderr, "zuvobox-rtty: %s\n", client.Error().c_str());
    return kExitFailed;
}

}  // namespace

int main(int argc, char** argv) {
    std::optional<Options> options = Parse(argc, argv);
    if (!options) {
        return kExitUsage;
    }
    Options& o = *options;
    if (o.text && *o.text == "-") {
        o.text = std::string(std::istreambuf_iterator<char>(std::cin), {});
    }

    SystemRttyTransport transport;
    zuvo::RttyClient client(transport);
    client.SetStopFlag(&g_stop);
    std::signal(SIGINT, OnStopSignal);
    std::signal(SIGTERM, OnStopSignal);
    if (!client.Connect()) {
        std::fprintf(stderr, "zuvobox-rtty: %s\n", client.Error().c_str());
        return kExitNotRunning;
    }
    const int s = o.station;
    if ((o.speed && !client.SetSpeed(s, *o.speed)) ||
        (o.length && !client.SetLength(s, *o.length)) ||
        (o.stop && !client.SetStopBits(s, *o.stop))) {
        return Fail(client);
    }
    if (o.raw && !client.SendRaw(*o.raw)) {
        return Fail(client);
    }
    if (o.ptt && !client.SetPtt(s, *o.ptt)) {
        return Fail(client);
    }
    if (o.text) {
        const bool keyPtt = !o.noPtt;
        if (keyPtt && !client.SetPtt(s, true)) {
            return Fail(client);
        }
        const bool sent = client.SendText(s, *o.text, std::chrono::milliseconds(o.timeoutMs));
        const std::string sendError = client.Error();
        // Release PTT even after a failure; the bridge holds the release until the box has
        // finished keying what it has.
        if (keyPtt && !client.SetPtt(s, false) && sent) {
            return Fail(client);
        }
        if (!sent) {
            std::fprintf(stderr, "zuvobox-rtty: %s\n", sendError.c_str());
            return kExitFailed;
        }
    }
    if (o.counter) {
        std::printf("%u\n", client.Counter(s));
    }
    return 0;
}
