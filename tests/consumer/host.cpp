// A C++ host that links KvSDKEng: it sets the brightness of light 2 of a VEXO 0E52 mouse to
// 50 % and reads it back (the device stores 0x7F of 255, which reads back as 49 %).
#include <chrono>
#include <cstdio>
#include <thread>

#include "KvSDKEng.h"

namespace {

EffectParams Record(const GUID& product, uint32_t light, uint32_t level) {
    EffectParams params = {};
    params.size = sizeof params;
    params.productGuid = product;
    params.lightSelector = light;
    params.level = level;
    return params;
}

}  // namespace

int main() {
    static_assert(KVSDKENG_VERSION_MAJOR == 1, "this host is written for KvSDKEng 1.x");
    HRESULT hr = KvSDKEngInit(PRODUCT_VEXO_0E52);
    std::printf("KvSDKEngInit: 0x%08lX\n", static_cast<unsigned long>(hr));
    if (FAILED(hr)) return 1;

    EffectParams params = Record(PRODUCT_VEXO_0E52, 2, 50);
    hr = KvSDKSetEffect(EFFECT_LED_BRIGHTNESS, &params);
    std::printf("KvSDKSetEffect: 0x%08lX\n", static_cast<unsigned long>(hr));
    if (FAILED(hr)) {
        KvSDKEngUninit();
        return 1;
    }

    for (int attempt = 0; attempt < 60; ++attempt) {
        params = Record(PRODUCT_VEXO_0E52, 2, 0);
        hr = KvSDKGetEffect(EFFECT_LED_BRIGHTNESS, &params);
        if (SUCCEEDED(hr) && params.level == 49) break;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    std::printf("KvSDKGetEffect: 0x%08lX, brightness %lu %%\n", static_cast<unsigned long>(hr),
                static_cast<unsigned long>(params.level));
    KvSDKEngUninit();
    if (FAILED(hr) || params.level != 49) return 1;
    std::printf("host_cpp: brightness of light 2 is 49 %%\n");
    return 0;
}
