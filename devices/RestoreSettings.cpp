// CDeviceVEXO::RestoreSettings: reads the stored setting of a fixed list of lights and writes
// each answer back as the live value. Failures are only traced; every step runs.
#include <algorithm>
#include <array>
#include <chrono>
#include <cstdint>
#include <optional>
#include <string>

#include "catalogue/Products.h"
#include "common/Win32Types.h"
#include "devices/DeviceVEXO.h"
#include "diag/Log.h"
#include "effects/LightCommands.h"

namespace kvsdk {

namespace {

constexpr wchar_t kRestoreFunction[] = L"CDeviceVEXO::RestoreSettings";

// A call that failed this way ends the restore's talk with the device: it timed out (the
// device-I/O library bounds every call) or the device is gone. Other failures are the device's
// answer to one request, and the next exchange is still tried.
bool EndsTalk(HRESULT hr) {
    return hr == HResultFromWin32(kErrorTimeout) ||
           hr == HResultFromWin32(kErrorDeviceNotConnected);
}

uint32_t Trace(int line, HRESULT hr, uint32_t passThrough) {
    // The time is read before the date.
    const std::wstring time = LocalTimeText();
    const std::wstring date = LocalDateText();
    return TraceHResult(date, time, kRestoreFunction, line, hr, passThrough);
}

}  // namespace

void CDeviceVEXO::RestoreSettings() {
    try {
        std::array<uint8_t, cmd::kExchangeLength> bufferA{};
        std::array<uint8_t, cmd::kExchangeLength> bufferB{};
        uint32_t length = 0;
        // The exchanges share one deadline, and a device that timed out or went away is not
        // asked again: a device that does not answer holds its release up for a bounded time.
        const auto deadline = std::chrono::steady_clock::now() + kRestoreTime;
        bool talking = true;
        // One device call, or none (nullopt) once the talk has ended.
        const auto call = [&](auto&& io) -> std::optional<HRESULT> {
            if (!talking || std::chrono::steady_clock::now() >= deadline) {
                talking = false;
                return std::nullopt;
            }
            const HRESULT hr = io();
            if (EndsTalk(hr)) talking = false;
            return hr;
        };

        auto exchange = [&](const RestoreStep& step) {
            uint8_t* x = step.buffer == ExchangeBuffer::A ? bufferA.data() : bufferB.data();
            // Byte 4 keeps what the previous exchange on this buffer left in it.
            x[0] = cmd::kLightState;
            x[1] = cmd::kClassLight;
            x[2] = cmd::kStorageStored;
            x[3] = step.light;
            length = cmd::kExchangeLength;
            const std::optional<HRESULT> got = call([&] { return Get(x, &length); });
            if (!got || (Failed(*got) && Trace(step.getLine, *got, 0) == 0)) return;
            // The answer never grows past the exchange buffer.
            const std::optional<HRESULT> set =
                call([&] { return Set(x, std::min(length, cmd::kExchangeLength)); });
            if (set && Failed(*set)) Trace(step.setLine, *set, 1);
        };

        // The product's steps; their traced line numbers are fixed values that logs key on.
        const Product* product = GetProduct();
        if (product == nullptr) return;
        for (const RestoreStep& step : product->restore) {
            if (!talking) break;
            exchange(step);
        }
    } catch (...) {
        // Runs inside the destructor: nothing may escape.
    }
}

}  // namespace kvsdk
