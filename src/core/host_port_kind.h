#pragma once

namespace zuvo {

// The two host ports the interface program offers.
enum class HostPortKind { kKeyer, kSwitching };

}  // namespace zuvo
