// CDeviceVEXO::RestoreSettings: reads the stored setting of a fixed list of lights and writes
// each answer back as the live value. Failures are only traced; every step runs.
#include <algorithm>
#include <array>
#include <cstdint>
#include <string>

#include "devices/DeviceFinder.h"
#include "Win32Types.h"
#include "devices/DeviceVEXO.h"
#include "diag/Log.h"
#include "effects/LightCommands.h"

namespace kvsdk {

namespace {

constexpr wchar_t kRestoreFunction[] = L"CDeviceVEXO::RestoreSettings";

enum class ExchangeBuffer { A, B };

// One row of a restore table: the buffer used, the light id and the line numbers traced for a
// failed read (g) and a failed write (s).
struct RestoreStep {
    ExchangeBuffer buffer;
    uint8_t light;
    int getLine;
    int setLine;
};

constexpr std::array<RestoreStep, 4> kRestore0E51 = {{
    {ExchangeBuffer::B, 0x01, 342, 345},
    {ExchangeBuffer::B, 0x0B, 356, 359},
    {ExchangeBuffer::B, 0x0A, 370, 373},
    {ExchangeBuffer::A, 0x0B, 384, 387},
}};

constexpr std::array<RestoreStep, 4> kRestore0E52 = {{
    {ExchangeBuffer::B, 0x05, 401, 404},
    {ExchangeBuffer::B, 0x0B, 415, 418},
    {ExchangeBuffer::A, 0x0B, 429, 432},
    {ExchangeBuffer::A, 0x05, 443, 446},
}};

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

        const std::wstring productId = ProductIdFromPath(m_strPath);
        if (productId == L"0E51") {
            for (const RestoreStep& step : kRestore0E51) exchange(step);
        }
        if (productId == L"0E52") {
            for (const RestoreStep& step : kRestore0E52) exchange(step);
        }
    } catch (...) {
        // Runs inside the destructor: nothing may escape.
    }
}

}  // namespace kvsdk
