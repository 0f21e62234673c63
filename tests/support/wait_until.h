// SPDX-License-Identifier: GPL-3.0-or-later
// Waiting for something another thread or process brings about, without a Qt event loop.
#pragma once

#include <chrono>
#include <functional>
#include <thread>

// Polls every millisecond until `condition` holds; false once `limit` has passed.
inline bool WaitUntil(const std::function<bool()>& condition,
                      std::chrono::steady_clock::duration limit = std::chrono::seconds(10)) {
    const auto start = std::chrono::steady_clock::now();
    while (!condition()) {
        if (std::chrono::steady_clock::now() - start > limit)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}
