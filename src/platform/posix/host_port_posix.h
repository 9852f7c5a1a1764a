#pragma once

#include <string>

#include "platform/host_port.h"

namespace zuvo::platform::posix {

// Removes every symbolic link in folder (empty: RuntimeDir()): the pty links a run that
// ended without closing its ports left behind. Once its pty number is reused, such a link
// would lead a logger into another program's terminal. Call it only while holding the
// single-instance lock, when no program of ours can be using the folder.
void RemoveStalePipeLinks(const std::string& folder = {});

// Host ports on Linux: pty pipe servers linked from the runtime folder, and serial devices.
class PosixHostPortSystem final : public IHostPortSystem {
  public:
    // folder: where the pipe links go; empty means RuntimeDir(), looked up at each open.
    explicit PosixHostPortSystem(std::string folder = {}) : folder_(std::move(folder)) {}

    std::unique_ptr<IHostPortHandle> CreatePipeServer(const std::string& name) override;
    std::unique_ptr<IHostPortHandle> OpenSerialDevice(const std::string& path) override;
    std::string ComDeviceName(int number) const override;

  private:
    std::string folder_;
};

}  // namespace zuvo::platform::posix
