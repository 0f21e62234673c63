#include "audio/output_route.h"

#include "audio/output_backend.h"

#include <atomic>
#include <mutex>

namespace {

std::mutex g_startRouteLock;
OutputRoute g_startRoute;
std::atomic<std::uint32_t> g_nForcedMixRate{0};

} // namespace

void SetStartRoute(const OutputRoute& route) {
    std::lock_guard<std::mutex> guard(g_startRouteLock);
    g_startRoute = route;
}

OutputRoute StartRoute() {
    std::lock_guard<std::mutex> guard(g_startRouteLock);
    return g_startRoute;
}

void SetForcedMixRate(std::uint32_t samplesPerSec) {
    g_nForcedMixRate.store(samplesPerSec);
}

std::uint32_t ForcedMixRate() {
    return g_nForcedMixRate.load();
}

std::uint32_t MixRateFor(std::uint32_t deviceRate) {
    const std::uint32_t forced = ForcedMixRate();
    return forced != 0 ? forced : deviceRate;
}

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
