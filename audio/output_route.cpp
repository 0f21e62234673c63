// SPDX-License-Identifier: GPL-3.0-or-later
#include "audio/output_route.h"

#include "audio/output_backend.h"

bool SetOutputRoute(const SoundDevicePtr& device, const OutputRoute& route) {
    std::shared_ptr<OutputBackend> backend = BackendOf(device);
    return backend != nullptr && backend->SetRoute(route);
}

bool GetOutputStatus(const SoundDevicePtr& device, OutputStatus* status) {
    std::shared_ptr<OutputBackend> backend = BackendOf(device);
    if (backend == nullptr || status == nullptr) {
        return false;
    }
    *status = backend->Status();
    return true;
}

std::vector<std::string> OutputDeviceNames(const SoundDevicePtr& device) {
    std::shared_ptr<OutputBackend> backend = BackendOf(device);
    return backend != nullptr ? backend->DeviceNames() : std::vector<std::string>{};
}
