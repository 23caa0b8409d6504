/*
 * A C host that links KvSDKEng: it switches light 4 of a VEXO 0E51 mouse on and reads the
 * light's state back. The library sends the command on its own thread, so the host asks
 * again until the state arrives (up to about 3 s).
 *
 * Without hardware, run it on a simulated mouse:
 *   printf 'mouse \\\\?\\hid#vid_7a3e&pid_0e51&mi_00#1#{378de44c-56ef-11d1-bc8c-00a0c91405dd}\n' >
 * sim.txt KVSDK_SIM=sim.txt ./host_c
 */
#ifdef _WIN32
#include <windows.h>
static void PauseMs(unsigned ms) {
    Sleep(ms);
}
#else
#define _POSIX_C_SOURCE 199309L
#include <time.h>
static void PauseMs(unsigned ms) {
    struct timespec pause;
    pause.tv_sec = (time_t)(ms / 1000u);
    pause.tv_nsec = (long)(ms % 1000u) * 1000000L;
    nanosleep(&pause, NULL);
}
#endif
#include <stdio.h>
#include <string.h>

#include "KvSDKEng.h"

static EffectParams Record(GUID product, uint32_t light) {
    EffectParams params;
    memset(&params, 0, sizeof params);
    params.size = sizeof params;
    params.productGuid = product;
    params.lightSelector = light;
    return params;
}

int main(void) {
    EffectParams params;
    HRESULT hr;
    int attempt;

    printf("KvSDKEng %d.%d.%d\n", KVSDKENG_VERSION_MAJOR, KVSDKENG_VERSION_MINOR,
           KVSDKENG_VERSION_PATCH);
    hr = KvSDKEngInit(PRODUCT_VEXO_0E51);
    printf("KvSDKEngInit: 0x%08lX\n", (unsigned long)hr);
    if (FAILED(hr)) return 1;

    params = Record(PRODUCT_VEXO_0E51, 4);
    hr = KvSDKSetEffect(EFFECT_LED_ON, &params);
    printf("KvSDKSetEffect: 0x%08lX\n", (unsigned long)hr);
    if (FAILED(hr)) {
        KvSDKEngUninit();
        return 1;
    }

    for (attempt = 0; attempt < 60; ++attempt) {
        params = Record(PRODUCT_VEXO_0E51, 4);
        hr = KvSDKGetEffect(EFFECT_LED_STATE, &params);
        if (SUCCEEDED(hr) && params.level == 100) break;
        PauseMs(50);
    }
    printf("KvSDKGetEffect: 0x%08lX, state %lu\n", (unsigned long)hr, (unsigned long)params.level);
    KvSDKEngUninit();
    if (FAILED(hr) || params.level != 100) return 1;
    printf("host_c: light 4 is on\n");
    return 0;
}
