#pragma once

#include <string>

#include "platform/host_port.h"

namespace zuvo::platform::posix {

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
