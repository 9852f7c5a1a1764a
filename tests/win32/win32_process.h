#pragma once

// Runs the Windows programs of this project as separate processes with their own named
// objects (ZUVOBOX_OBJECT_SUFFIX) and settings folder (ALLUSERSPROFILE), standard output
// and error captured in files, for the tests under Wine.

#include <windows.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <random>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "platform/rtty_channel.h"

namespace zuvo::test {

using Clock = std::chrono::steady_clock;

inline std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

// Lines without their CR LF.
inline std::vector<std::string> ReadLines(const std::string& path) {
    std::vector<std::string> lines;
    std::ifstream in(path, std::ios::binary);
    for (std::string line; std::getline(in, line);) {
        if (!line.empty() && line.back() == '\r') {
            line.pop_back();
        }
        lines.push_back(line);
    }
    return lines;
}

// A suffix for the named objects of one test: tests run side by side in one Wine prefix,
// which hands out process ids again as soon as a process has ended.
inline std::string UniqueSuffix() {
    static const unsigned run = std::random_device{}();
    static std::atomic<int> counter{0};
    return "-test" + std::to_string(run) + "-" + std::to_string(counter++);
}

// A fresh folder under the temporary folder, removed with everything in it.
class TempFolder {
  public:
    TempFolder()
        : path_((std::filesystem::temp_directory_path() / ("zuvo-w" + UniqueSuffix())).string()) {
        std::filesystem::create_directories(path_);
    }
    ~TempFolder() {
        std::error_code ignored;
        std::filesystem::remove_all(path_, ignored);
    }
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;
    const std::string& Path() const { return path_; }
    std::string operator/(const std::string& name) const { return path_ + "\\" + name; }

  private:
    std::string path_;
};

// A program built beside the tests (the build's src\app folder).
inline std::string ProgramPath(const std::string& name) {
    char self[MAX_PATH];
    const DWORD n = ::GetModuleFileNameA(nullptr, self, MAX_PATH);
    std::filesystem::path dir = std::filesystem::path(std::string(self, n)).parent_path();
    return (dir.parent_path() / "src" / "app" / name).string();
}

class Process {
  public:
    // env: variables set (or replaced) for the child on top of this process's environment.
    Process(const std::string& program, const std::vector<std::string>& args,
            const std::map<std::string, std::string>& env, const std::string& stdoutPath,
            const std::string& stderrPath)
        : stdoutPath_(stdoutPath) {
        std::string command = Quote(program);
        for (const auto& a : args) {
            command += " " + Quote(a);
        }
        SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
        auto open = [&](const std::string& path) {
            return ::CreateFileA(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                 &inherit, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
        };
        HANDLE out = open(stdoutPath);
        HANDLE err = open(stderrPath);
        STARTUPINFOA startup{};
        startup.cb = sizeof startup;
        startup.dwFlags = STARTF_USESTDHANDLES;
        startup.hStdInput = nullptr;
        startup.hStdOutput = out;
        startup.hStdError = err;
        std::string block = EnvironmentBlock(env);
        PROCESS_INFORMATION info{};
        if (::CreateProcessA(nullptr, command.data(), nullptr, nullptr, TRUE, 0, block.data(),
                             nullptr, &startup, &info)) {
            process_ = info.hProcess;
            id_ = info.dwProcessId;
            ::CloseHandle(info.hThread);
        } else {
            startError_ = ::GetLastError();
        }
        ::CloseHandle(out);
        ::CloseHandle(err);
    }
    ~Process() {
        if (process_ != nullptr) {
            if (::WaitForSingleObject(process_, 0) == WAIT_TIMEOUT) {
                ::TerminateProcess(process_, 99);
                ::WaitForSingleObject(process_, 5000);
            }
            ::CloseHandle(process_);
        }
    }
    Process(const Process&) = delete;
    Process& operator=(const Process&) = delete;

    bool Started() const { return process_ != nullptr; }
    DWORD StartError() const { return startError_; }
    DWORD Id() const { return id_; }

    // The exit code, or -1 when it has not ended in time.
    int Wait(std::chrono::milliseconds timeout = std::chrono::seconds(20)) {
        if (process_ == nullptr ||
            ::WaitForSingleObject(process_, static_cast<DWORD>(timeout.count())) != WAIT_OBJECT_0) {
            return -1;
        }
        DWORD code = 0;
        ::GetExitCodeProcess(process_, &code);
        return static_cast<int>(code);
    }

    // Ends it at once, as a crash would.
    void Kill() {
        ::TerminateProcess(process_, 99);
        ::WaitForSingleObject(process_, 5000);
    }

    // Waits until standard output holds `line` `count` times.
    bool WaitForLine(const std::string& line, int count = 1,
                     std::chrono::milliseconds timeout = std::chrono::seconds(20)) const {
        const auto end = Clock::now() + timeout;
        do {
            int n = 0;
            for (const auto& l : ReadLines(stdoutPath_)) {
                n += l == line ? 1 : 0;
            }
            if (n >= count) {
                return true;
            }
            ::Sleep(20);
        } while (Clock::now() < end);
        return false;
    }

    std::vector<std::string> Output() const { return ReadLines(stdoutPath_); }

  private:
    static std::string Quote(const std::string& arg) {
        if (!arg.empty() && arg.find_first_of(" \t\"") == std::string::npos) {
            return arg;
        }
        std::string quoted = "\"";
        for (char c : arg) {
            if (c == '"') {
                quoted += '\\';
            }
            quoted += c;
        }
        return quoted + "\"";
    }

    static std::string EnvironmentBlock(const std::map<std::string, std::string>& env) {
        std::map<std::string, std::string> all;
        char* strings = ::GetEnvironmentStringsA();
        for (const char* p = strings; *p != '\0'; p += std::strlen(p) + 1) {
            const std::string entry(p);
            const size_t eq = entry.find('=', 1);  // "=C:=C:\" entries start with "="
            if (eq != std::string::npos) {
                all[entry.substr(0, eq)] = entry.substr(eq + 1);
            }
        }
        ::FreeEnvironmentStringsA(strings);
        for (const auto& [name, value] : env) {
            all[name] = value;
        }
        std::string block;
        for (const auto& [name, value] : all) {
            block += name + "=" + value;
            block += '\0';
        }
        block += '\0';
        return block;
    }

    std::string stdoutPath_;
    HANDLE process_ = nullptr;
    DWORD id_ = 0;
    DWORD startError_ = 0;
};

// Asks the interface program with the given object suffix to close, as another program
// would: WM_CLOSE to the window its shared block names. False when none runs.
inline bool CloseZuvoBox(const std::string& suffix) {
    const std::string name = platform::kRttyBlockName + suffix;
    HANDLE mapping = ::OpenFileMappingA(FILE_MAP_READ, FALSE, name.c_str());
    if (mapping == nullptr) {
        return false;
    }
    const auto* view =
        static_cast<const int32_t*>(::MapViewOfFile(mapping, FILE_MAP_READ, 0, 0, 8));
    // Handles are 32-bit values that 64-bit Windows sign-extends.
    HWND window =
        view != nullptr ? reinterpret_cast<HWND>(static_cast<intptr_t>(view[0])) : nullptr;
    if (view != nullptr) {
        ::UnmapViewOfFile(view);
    }
    ::CloseHandle(mapping);
    return window != nullptr && ::PostMessageA(window, WM_CLOSE, 0, 0);
}

}  // namespace zuvo::test
