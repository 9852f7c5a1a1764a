// A Windows logger's use of its two serial ports, as loggers do it: open COMn, set the line
// (1200 8N2 for the keyer, DTR on and RTS off), set read time-outs, ask for the modem
// status, then speak WinKeyer on the keyer port and OTRSP on the switching port. Run under
// Wine against ports that are links to the ptys of the Linux ZuvoBox.
//
//   zuvo_wine_serial_logger KEYER_COM SWITCHING_COM TEXT
//
// Prints one line per step ("step: ok" or "step: failed <error>") and what came back; exits
// 0 when every step worked. The modem-line calls work on the ptys only under zuvobox-run
// (a pty has no modem lines; Wine gets "not supported" from the kernel otherwise).

#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

int g_failures = 0;

bool Step(const char* what, BOOL ok) {
    if (ok) {
        std::printf("%s: ok\n", what);
    } else {
        std::printf("%s: failed %lu\n", what, ::GetLastError());
        ++g_failures;
    }
    return ok != FALSE;
}

HANDLE OpenPort(int number, DWORD baud, BYTE stopBits) {
    const std::string name = "\\\\.\\COM" + std::to_string(number);
    HANDLE port = ::CreateFileA(name.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                OPEN_EXISTING, 0, nullptr);
    if (!Step("open", port != INVALID_HANDLE_VALUE)) {
        return INVALID_HANDLE_VALUE;
    }
    DCB dcb{};
    dcb.DCBlength = sizeof dcb;
    Step("GetCommState", ::GetCommState(port, &dcb));
    dcb.BaudRate = baud;
    dcb.ByteSize = 8;
    dcb.Parity = NOPARITY;
    dcb.StopBits = stopBits;
    dcb.fBinary = TRUE;
    dcb.fDtrControl = DTR_CONTROL_ENABLE;
    dcb.fRtsControl = RTS_CONTROL_DISABLE;
    dcb.fOutxCtsFlow = FALSE;
    dcb.fOutxDsrFlow = FALSE;
    dcb.fOutX = FALSE;
    dcb.fInX = FALSE;
    Step("SetCommState", ::SetCommState(port, &dcb));
    COMMTIMEOUTS timeouts{};
    timeouts.ReadIntervalTimeout = 50;
    timeouts.ReadTotalTimeoutConstant = 1000;
    timeouts.WriteTotalTimeoutConstant = 1000;
    Step("SetCommTimeouts", ::SetCommTimeouts(port, &timeouts));
    DWORD status = 0;
    Step("GetCommModemStatus", ::GetCommModemStatus(port, &status));
    Step("EscapeCommFunction SETDTR", ::EscapeCommFunction(port, SETDTR));
    Step("PurgeComm", ::PurgeComm(port, PURGE_RXCLEAR | PURGE_TXCLEAR));
    return port;
}

void Write(HANDLE port, const std::string& bytes) {
    DWORD written = 0;
    Step("WriteFile",
         ::WriteFile(port, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) &&
             written == bytes.size());
}

// Everything that arrives until `end` is in it, or a read times out.
std::string ReadUntil(HANDLE port, char end) {
    std::string got;
    for (int reads = 0; reads < 64; ++reads) {
        char buf[64];
        DWORD n = 0;
        if (!::ReadFile(port, buf, sizeof buf, &n, nullptr) || n == 0) {
            break;
        }
        got.append(buf, n);
        if (got.find(end) != std::string::npos) {
            break;
        }
    }
    return got;
}

std::string Hex(const std::string& bytes) {
    std::string out;
    char b[4];
    for (unsigned char c : bytes) {
        std::snprintf(b, sizeof b, "%02X ", c);
        out += b;
    }
    return out;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 4) {
        std::fprintf(stderr, "usage: %s KEYER_COM SWITCHING_COM TEXT\n", argv[0]);
        return 2;
    }
    std::setvbuf(stdout, nullptr, _IONBF, 0);
    HANDLE keyer = OpenPort(std::atoi(argv[1]), CBR_1200, TWOSTOPBITS);
    HANDLE switching = OpenPort(std::atoi(argv[2]), CBR_9600, ONESTOPBIT);
    if (keyer == INVALID_HANDLE_VALUE || switching == INVALID_HANDLE_VALUE) {
        return 1;
    }
    // WinKeyer: host open answers the version byte; then the text, sent at 60 WPM with its
    // echo on, as a logger keys a message.
    Write(keyer, std::string("\x00\x02", 2));
    const std::string version = ReadUntil(keyer, '\x0A');
    std::printf("version: %s\n", Hex(version).c_str());
    if (version.empty()) {
        ++g_failures;
    }
    Write(keyer, std::string("\x0E\x04\x02\x3C", 4) + argv[3]);
    const std::string echoes = ReadUntil(keyer, argv[3][std::string(argv[3]).size() - 1]);
    std::printf("keyer: %s\n", Hex(echoes).c_str());

    // OTRSP: the device name, then transmit on radio 2 and ask for it back.
    Write(switching, "?NAME\r");
    std::string name = ReadUntil(switching, '\r');
    std::printf("name: %s\n", name.substr(0, name.find('\r')).c_str());
    if (name.rfind("NAME", 0) != 0) {
        ++g_failures;
    }
    Write(switching, "TX2\r?TX\r");
    const std::string tx = ReadUntil(switching, '\r');
    std::printf("tx: %s\n", tx.substr(0, tx.find('\r')).c_str());
    if (tx != "TX2\r") {
        ++g_failures;
    }
    ::CloseHandle(keyer);
    ::CloseHandle(switching);
    return g_failures == 0 ? 0 : 1;
}
