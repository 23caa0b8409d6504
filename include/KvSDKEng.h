/**
 * @file KvSDKEng.h
 * KvSDKEng: lighting control for VEXO and Pell USB gaming peripherals.
 *
 * Public interface, usable from C and C++. Four functions are exported:
 *
 *   KvSDKEngInit    (ordinal 1)  look for the attached devices of a product or family
 *   KvSDKEngUninit  (ordinal 2)  release every device; VEXO devices get their stored lighting back
 *   KvSDKSetEffect  (ordinal 3)  queue an effect on the addressed devices; returns at once
 *   KvSDKGetEffect  (ordinal 4)  read a light's state or brightness back from a VEXO device
 *
 * Every function answers a 32-bit HRESULT: S_OK (0) on success, a negative value on failure.
 */
#ifndef KVSDKENG_H
#define KVSDKENG_H

/* Version of this interface and of the library built with it (checked against the build). */
/** Major version: a new one may break hosts built against an older one. */
#define KVSDKENG_VERSION_MAJOR 1
/** Minor version: additions that keep every host of the same major version working. */
#define KVSDKENG_VERSION_MINOR 0
/** Patch version: fixes only. */
#define KVSDKENG_VERSION_PATCH 0

/* Including this header defines no macro of the host's own: <windows.h> comes as the host's
 * build configures it. */
#ifdef _WIN32
#include <windows.h>
/** The calling convention of the four functions: __stdcall on Windows (32-bit x86 included). */
#define KVSDK_CALL __stdcall
#else
#include <stdint.h>
/** The calling convention of the four functions: the platform's own elsewhere. */
#define KVSDK_CALL
#endif

#ifdef __cplusplus
#include <cstddef>
#include <cstdint>
#else
#include <stddef.h>
#include <stdint.h>
#endif

#if defined(KVSDKENG_BUILDING)
#if defined(_WIN32)
#define KVSDK_API __declspec(dllexport)
#else
#define KVSDK_API __attribute__((visibility("default")))
#endif
#else
#if defined(_WIN32)
#define KVSDK_API __declspec(dllimport)
#else
/** Marks the four functions as imported from the library (exported when it is built). */
#define KVSDK_API
#endif
#endif

#if defined(__GNUC__)
#define KVSDK_EXTENSION __extension__
#define KVSDK_MAYBE_UNUSED __attribute__((unused))
#else
#define KVSDK_EXTENSION
#define KVSDK_MAYBE_UNUSED
#endif

#ifndef _WIN32
/** A result code, 32 bits on every platform ('long' is 64 bits on Linux): negative on failure.
 * On Windows it is the system's own. */
typedef int32_t HRESULT;

#ifndef GUID_DEFINED
#define GUID_DEFINED
/** A 16-byte identifier in the Windows layout (the system's own on Windows). Two GUIDs are the
 * same when all 16 bytes are. */
typedef struct _GUID {
    uint32_t Data1;   /**< bytes 0 to 3 */
    uint16_t Data2;   /**< bytes 4 and 5 */
    uint16_t Data3;   /**< bytes 6 and 7 */
    uint8_t Data4[8]; /**< bytes 8 to 15 */
} GUID;
#endif

#ifndef S_OK
/** Success. */
#define S_OK ((HRESULT)0)
/** Success, nothing to do (the library never answers it). */
#define S_FALSE ((HRESULT)1)
/** Not implemented (the library never answers it). */
#define E_NOTIMPL ((HRESULT)0x80004001)
/** KvSDKSetEffect: the device family does not implement this effect kind. */
#define E_NOINTERFACE ((HRESULT)0x80004002)
/** KvSDKSetEffect, KvSDKGetEffect: a null record. */
#define E_POINTER ((HRESULT)0x80004003)
/** Unknown product or effect GUID, a device not found, or no device addressed. */
#define E_FAIL ((HRESULT)0x80004005)
/** Memory ran out. */
#define E_OUTOFMEMORY ((HRESULT)0x8007000E)
/** KvSDKEngInit: the null GUID. KvSDKSetEffect: a blink count above 10000. */
#define E_INVALIDARG ((HRESULT)0x80070057)
#endif
#ifndef SUCCEEDED
/** Whether a result code is a success (not negative). */
#define SUCCEEDED(hr) (((HRESULT)(hr)) >= 0)
/** Whether a result code is a failure (negative). */
#define FAILED(hr) (((HRESULT)(hr)) < 0)
#endif
#endif /* !_WIN32 */

/** Result of KvSDKGetEffect for an effect kind that cannot be read back, or a device that cannot
 * be opened or read (HRESULT_FROM_WIN32(ERROR_NOT_SUPPORTED)). */
#define KVSDK_E_NOT_SUPPORTED ((HRESULT)0x80070032)
/**
 * Result of KvSDKSetEffect when a device's queue cannot take the effect
 * (HRESULT_FROM_WIN32(ERROR_NOT_ENOUGH_QUOTA)): see KvSDKSetEffect.
 */
#define KVSDK_E_QUEUE_FULL ((HRESULT)0x80070718)

/* One definition per program from C++17 on; earlier C++ and C get one constant per unit. */
#if defined(__cplusplus) && \
    (__cplusplus >= 201703L || (defined(_MSVC_LANG) && _MSVC_LANG >= 201703L))
#define KVSDK_GUID(name, l, w1, w2, b1, b2, b3, b4, b5, b6, b7, b8) \
    inline constexpr GUID name = {l, w1, w2, {b1, b2, b3, b4, b5, b6, b7, b8}}
#elif defined(__cplusplus)
#define KVSDK_GUID(name, l, w1, w2, b1, b2, b3, b4, b5, b6, b7, b8) \
    static constexpr GUID name = {l, w1, w2, {b1, b2, b3, b4, b5, b6, b7, b8}}
#else
#define KVSDK_GUID(name, l, w1, w2, b1, b2, b3, b4, b5, b6, b7, b8) \
    static const GUID name KVSDK_MAYBE_UNUSED = {l, w1, w2, {b1, b2, b3, b4, b5, b6, b7, b8}}
#endif

/* Product GUIDs: one product, or a whole family. */
/** Every VEXO device: the mice 0E51 and 0E52. */
KVSDK_GUID(PRODUCT_VEXO, 0x358DF14A, 0xA055, 0x0DA7, 0xA7, 0x91, 0xDE, 0xD0, 0x4F, 0x2E, 0xE6,
           0x51);
/** The VEXO mouse 0E51. */
KVSDK_GUID(PRODUCT_VEXO_0E51, 0xA890A7CE, 0x24AD, 0x2223, 0xF3, 0xC0, 0x38, 0x17, 0x00, 0xD4, 0x1F,
           0x62);
/** The VEXO mouse 0E52. */
KVSDK_GUID(PRODUCT_VEXO_0E52, 0x67204284, 0x2EB9, 0x464E, 0xE0, 0x12, 0x53, 0x19, 0xBB, 0x26, 0x24,
           0x9F);
/** Every Pell device: the mouse 0E59, the keyboard 0E5A and the USB device 0E5B. */
KVSDK_GUID(PRODUCT_PELL, 0xA8270E2C, 0x072C, 0x5637, 0xBB, 0x27, 0xD3, 0x30, 0x16, 0xDA, 0x2B,
           0x07);
/** The Pell mouse 0E59. */
KVSDK_GUID(PRODUCT_PELL_MOUSE_0E59, 0x9912B7CC, 0x86FD, 0x284E, 0x0A, 0x76, 0xCA, 0xAD, 0x93, 0xEA,
           0xAA, 0x70);
/** The Pell keyboard 0E5A (its lighting interface, "MI_02"). */
KVSDK_GUID(PRODUCT_PELL_KEYBOARD_0E5A, 0x75B19680, 0xBC74, 0xBED9, 0x7E, 0x96, 0x92, 0x4A, 0xC5,
           0x03, 0x85, 0xDC);
/** The Pell USB device 0E5B. */
KVSDK_GUID(PRODUCT_PELL_USB_0E5B, 0x69413F01, 0xF145, 0xA652, 0xEC, 0x68, 0x53, 0x4C, 0xF8, 0x7C,
           0x25, 0x60);

/* Effect kinds. The four lighting-mode GUIDs also serve as mode values in modeGuid. */
/** Switches a light on (lightSelector; VEXO: then a pause of duration ms). */
KVSDK_GUID(EFFECT_LED_ON, 0x312F5071, 0xC37E, 0x7CE5, 0xF7, 0x9B, 0xAF, 0x82, 0x07, 0x04, 0x32,
           0x24);
/** Switches a light off (lightSelector; VEXO: then a pause of duration ms). */
KVSDK_GUID(EFFECT_LED_OFF, 0xE6281D2E, 0x245B, 0x6783, 0x02, 0x76, 0x24, 0xFD, 0xCF, 0x33, 0x54,
           0xC8);
/** Sets a light's brightness to level percent; read back with KvSDKGetEffect. */
KVSDK_GUID(EFFECT_LED_BRIGHTNESS, 0x530F7B5E, 0x05CA, 0xF73A, 0x13, 0x8C, 0x48, 0xEB, 0x51, 0x1E,
           0xE7, 0x6F);
/** Lighting mode 2 with its parameters param1, percent, param2, param3. */
KVSDK_GUID(EFFECT_LED_MODE_2_PARAMS, 0x8CFEE702, 0x866F, 0x760B, 0xBE, 0xD8, 0xEB, 0x94, 0xC1, 0x88,
           0x06, 0x95);
/** Sends nothing: read a light's state back with KvSDKGetEffect. */
KVSDK_GUID(EFFECT_LED_STATE, 0xE4694520, 0x6B92, 0xCFBD, 0x39, 0x2E, 0x94, 0x7B, 0x58, 0x5C, 0x25,
           0x69);
/** One flash: off for 300 ms, then on for 300 ms. */
KVSDK_GUID(EFFECT_LED_FLASH_1, 0x45F73C82, 0x2A7B, 0x1D36, 0x99, 0x2B, 0x1C, 0x87, 0x8A, 0x4B, 0x16,
           0x0A);
/** Two flashes of 300 ms off and 300 ms on. */
KVSDK_GUID(EFFECT_LED_FLASH_2, 0x47BEBBFA, 0x0F9E, 0x04B9, 0x50, 0x41, 0x34, 0x13, 0xD6, 0xB8, 0x2A,
           0xC1);
/** Three flashes of 300 ms off and 300 ms on. */
KVSDK_GUID(EFFECT_LED_FLASH_3, 0x2CEF8029, 0xFFD0, 0x3F5A, 0xEE, 0x6D, 0x5A, 0x09, 0x97, 0xAE, 0xB1,
           0xAF);
/** count blinks of offTime ms off and onTime ms on; count 0: the device blinks by itself. */
KVSDK_GUID(EFFECT_LED_BLINK, 0xCD70F6A9, 0x3A90, 0x53A3, 0x2A, 0x46, 0x8C, 0x01, 0xE5, 0x83, 0xAB,
           0x77);
/** Lighting mode 0 (Pell keyboard, lightSelector 7; the mode is the one modeGuid names). */
KVSDK_GUID(EFFECT_LED_MODE_0, 0xC62BFA4B, 0x2A17, 0x2E17, 0x91, 0xD5, 0x52, 0x27, 0x2E, 0x32, 0xA0,
           0xC4);
/** Lighting mode 1 (Pell keyboard, lightSelector 7; the mode is the one modeGuid names). */
KVSDK_GUID(EFFECT_LED_MODE_1, 0x4FE3FED7, 0xD966, 0xB474, 0x3D, 0x6F, 0xCE, 0xA6, 0x61, 0xF1, 0x78,
           0x3F);
/** Lighting mode 2 (Pell keyboard, lightSelector 7; the mode is the one modeGuid names). */
KVSDK_GUID(EFFECT_LED_MODE_2, 0x2BAFB847, 0x9BEC, 0xAAF0, 0x56, 0xA2, 0xB1, 0xB4, 0x5D, 0xD2, 0x89,
           0x6D);
/** Lighting mode 4 (Pell keyboard, lightSelector 7; the mode is the one modeGuid names). */
KVSDK_GUID(EFFECT_LED_MODE_4, 0x822AAC08, 0x89D6, 0xAC5D, 0x51, 0x1E, 0x9D, 0x72, 0x3B, 0x99, 0x84,
           0x87);
/** VEXO device mode: deviceMode 1 or 2 (EFFECT_VEXO_MODE_B alike). */
KVSDK_GUID(EFFECT_VEXO_MODE_A, 0x3204C5BD, 0x58F6, 0x5A1A, 0x3D, 0x24, 0xDC, 0x5F, 0xDF, 0x71, 0x99,
           0x04);
/** VEXO device mode: deviceMode 1 or 2 (EFFECT_VEXO_MODE_A alike). */
KVSDK_GUID(EFFECT_VEXO_MODE_B, 0x0E84347A, 0x20B7, 0x5417, 0xD9, 0xB1, 0x11, 0x72, 0xC6, 0x51, 0x97,
           0xB6);
/** Colour red, green, blue of a light, for a single Pell product's GUID (the USB device 0E5B:
 * lightSelector is the tunnel code 0x60 to 0x62). */
KVSDK_GUID(EFFECT_LED_COLOR, 0x99DCA5A7, 0x9E43, 0x92E1, 0x70, 0xE8, 0x97, 0xEF, 0xA1, 0x64, 0x5E,
           0x11);

/**
 * The host's parameter record. All integers little-endian. The library always reads it as its
 * full 40 bytes, whatever size holds (size itself is never read or checked): pass a whole
 * EffectParams. The fields from offset 24 on are shared by the effect kinds; each kind reads only
 * its own:
 *
 *   offset 24: level (brightness, state) | count (blink) | param1 (mode-2 parameters)
 *              | red, green, blue (colour) | deviceMode (VEXO device mode) | modeGuid (16 bytes)
 *   offset 28: duration (VEXO on/off) | percent (mode-2 parameters)
 *   offset 32: offTime (blink) | param2 (mode-2 parameters)
 *   offset 36: onTime (blink) | param3 (mode-2 parameters)
 *
 * level (EFFECT_LED_BRIGHTNESS): a percentage; a value above 100 counts as 100 (sent as 0xFF, and
 * 255 is written back into level). percent (EFFECT_LED_MODE_2_PARAMS): a percentage; a value
 * above 100 counts as 100 (sent as 0xFFFF).
 *
 * count (EFFECT_LED_BLINK): number of off/on cycles, at most 10000; a larger count is refused
 * with E_INVALIDARG and nothing is queued for that device. 0 lets the device blink on its own,
 * with the low 8 bits of offTime and onTime as its off and on timing bytes.
 */
#pragma pack(push, 4)
typedef struct EffectParams {
    uint32_t size;          /**< 0: size of the record in bytes */
    GUID productGuid;       /**< 4: which devices the call addresses */
    uint32_t lightSelector; /**< 20: light selector, 1 to 7 */
    KVSDK_EXTENSION union {
        KVSDK_EXTENSION struct {
            KVSDK_EXTENSION union {
                uint32_t level;     /**< 24: brightness in percent; a state read back */
                uint32_t count;     /**< 24: blink cycles, at most 10000 */
                uint32_t param1;    /**< 24: first mode-2 parameter, 0 to 65535 */
                uint8_t deviceMode; /**< 24: VEXO device mode, 1 or 2 */
                KVSDK_EXTENSION struct {
                    uint8_t red;   /**< 24: colour, red */
                    uint8_t green; /**< 25: colour, green */
                    uint8_t blue;  /**< 26: colour, blue */
                };
            };
            KVSDK_EXTENSION union {
                uint32_t duration; /**< 28: VEXO on/off, pause after the command in ms */
                uint32_t percent;  /**< 28: mode-2 percentage */
            };
            KVSDK_EXTENSION union {
                uint32_t offTime; /**< 32: blink, off time in ms */
                uint32_t param2;  /**< 32: second mode-2 parameter, 0 to 65535 */
            };
            KVSDK_EXTENSION union {
                uint32_t onTime; /**< 36: blink, on time in ms */
                uint32_t param3; /**< 36: third mode-2 parameter, 0 to 65535 */
            };
        };
        GUID modeGuid; /**< 24: lighting mode, one of EFFECT_LED_MODE_0/1/2/4 */
    };
} EffectParams;
#pragma pack(pop)

#ifdef __cplusplus
static_assert(offsetof(EffectParams, size) == 0, "EffectParams layout");
static_assert(offsetof(EffectParams, productGuid) == 4, "EffectParams layout");
static_assert(offsetof(EffectParams, lightSelector) == 20, "EffectParams layout");
static_assert(offsetof(EffectParams, level) == 24, "EffectParams layout");
static_assert(offsetof(EffectParams, count) == 24, "EffectParams layout");
static_assert(offsetof(EffectParams, param1) == 24, "EffectParams layout");
static_assert(offsetof(EffectParams, deviceMode) == 24, "EffectParams layout");
static_assert(offsetof(EffectParams, red) == 24, "EffectParams layout");
static_assert(offsetof(EffectParams, green) == 25, "EffectParams layout");
static_assert(offsetof(EffectParams, blue) == 26, "EffectParams layout");
static_assert(offsetof(EffectParams, modeGuid) == 24, "EffectParams layout");
static_assert(offsetof(EffectParams, duration) == 28, "EffectParams layout");
static_assert(offsetof(EffectParams, percent) == 28, "EffectParams layout");
static_assert(offsetof(EffectParams, offTime) == 32, "EffectParams layout");
static_assert(offsetof(EffectParams, param2) == 32, "EffectParams layout");
static_assert(offsetof(EffectParams, onTime) == 36, "EffectParams layout");
static_assert(offsetof(EffectParams, param3) == 36, "EffectParams layout");
static_assert(sizeof(EffectParams) == 40, "EffectParams layout");
static_assert(sizeof(GUID) == 16, "GUID layout");
static_assert(sizeof(HRESULT) == 4, "HRESULT is 32 bits");
#elif defined(__STDC_VERSION__) && __STDC_VERSION__ >= 201112L
_Static_assert(offsetof(EffectParams, lightSelector) == 20, "EffectParams layout");
_Static_assert(offsetof(EffectParams, level) == 24, "EffectParams layout");
_Static_assert(offsetof(EffectParams, onTime) == 36, "EffectParams layout");
_Static_assert(sizeof(EffectParams) == 40, "EffectParams layout");
#endif

#ifdef __cplusplus
extern "C" {
#endif

/**
 * Looks for the attached devices of a product or family and keeps them for the effect calls.
 * A device that is found but cannot take commands is not kept: for a single product the call
 * answers why (the device-I/O open failure, e.g. 0x80070005 access denied, or for the USB
 * device 0x8007048F when its channel does not connect); PRODUCT_VEXO and PRODUCT_PELL answer
 * S_OK whatever they found.
 */
KVSDK_API HRESULT KVSDK_CALL KvSDKEngInit(GUID productGuid);
/** Releases every device and stops every background thread. Always S_OK. */
KVSDK_API HRESULT KVSDK_CALL KvSDKEngUninit(void);
/**
 * Queues an effect on the devices that params->productGuid addresses; returns at once. E_FAIL
 * when no kept device is addressed. The first effect call after KvSDKEngInit starts the
 * library's background thread; when no thread can be started it answers 0x80070008 and the
 * devices wait for the next call.
 *
 * Each device holds at most 131072 command buffers not yet sent (light commands and pauses).
 * An effect that would take a device past that is not queued on that device, and the call
 * answers KVSDK_E_QUEUE_FULL even when other devices took it. An effect that would send a device
 * nothing is not queued (S_OK). The largest effect, a blink of 10000 cycles, sends 60000
 * buffers; the call builds only one cycle, so it costs the same whatever the count. Memory
 * running out while a device's effect is made answers E_OUTOFMEMORY for that device.
 */
KVSDK_API HRESULT KVSDK_CALL KvSDKSetEffect(GUID effectGuid, EffectParams* params);
/**
 * Reads a light's state (EFFECT_LED_STATE) or brightness (EFFECT_LED_BRIGHTNESS) into params.
 * When the device cannot be read, KVSDK_E_NOT_SUPPORTED and level is left as it was.
 */
KVSDK_API HRESULT KVSDK_CALL KvSDKGetEffect(GUID effectGuid, EffectParams* params);

/* For hosts that load the library at run time (LoadLibrary/GetProcAddress, dlopen/dlsym). */
/** KvSDKEngInit, as a host that loads the library at run time calls it. */
typedef HRESULT(KVSDK_CALL* PFN_KvSDKEngInit)(GUID productGuid);
/** KvSDKEngUninit, as a host that loads the library at run time calls it. */
typedef HRESULT(KVSDK_CALL* PFN_KvSDKEngUninit)(void);
/** KvSDKSetEffect, as a host that loads the library at run time calls it. */
typedef HRESULT(KVSDK_CALL* PFN_KvSDKSetEffect)(GUID effectGuid, EffectParams* params);
/** KvSDKGetEffect, as a host that loads the library at run time calls it. */
typedef HRESULT(KVSDK_CALL* PFN_KvSDKGetEffect)(GUID effectGuid, EffectParams* params);

#ifdef __cplusplus
}
#endif

#endif /* KVSDKENG_H */
