#include "moviletta/capture/fake_capture_device.h"

#include "moviletta/common/error.h"

namespace moviletta {

void FakeCaptureDevice::Record(std::string call) {
  const std::string name = call.substr(0, call.find_first_of("=("));
  if (!fail_on.empty() && name == fail_on)
    throw Error(err::kComponentFailed, name + " failed", "FakeCaptureDevice");
  calls.push_back(std::move(call));
}

}  // namespace moviletta
