// CDeviceVEXO::RestoreSettings: reads the stored setting of a fixed list of lights and writes
// each answer back as the live value. Failures are only traced; every step runs.
#include <algorithm>
#include <array>
#include <cstdint>
#include <string>

#include "common/Win32Types.h"
#include "devices/DeviceVEXO.h"
#include "devices/Products.h"
#include "diag/Log.h"
#include "effects/LightCommands.h"

namespace kvsdk {

namespace {

constexpr wchar_t kRestoreFunction[] = L"CDeviceVEXO::RestoreSettings";

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

        auto exchange = [&](const RestoreStep& step) {
            uint8_t* x = step.buffer == ExchangeBuffer::A ? bufferA.data() : bufferB.data();
            // Byte 4 keeps what the previous exchange on this buffer left in it.
            x[0] = cmd::kLightState;
            x[1] = cmd::kClassLight;
            x[2] = cmd::kStorageStored;
            x[3] = step.light;
            length = cmd::kExchangeLength;
            HRESULT hr = Get(x, &length);
            if (Failed(hr) && Trace(step.getLine, hr, 0) == 0) return;
            // The answer never grows past the exchange buffer.
            hr = Set(x, std::min(length, cmd::kExchangeLength));
            if (Failed(hr)) Trace(step.setLine, hr, 1);
        };

        // The product's steps; their traced line numbers are fixed values that logs key on.
        const Product* product = FindProduct(GetProductId());
        if (product == nullptr) return;
        for (const RestoreStep& step : product->restore) exchange(step);
    } catch (...) {
        // Runs inside the destructor: nothing may escape.
    }
}

}  // namespace kvsdk
