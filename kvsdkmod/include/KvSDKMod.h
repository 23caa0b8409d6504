// KvSDKMod: the device-I/O library through which every byte reaches a device.
//
// CKvDeviceIO opens one device interface by its path and exchanges command buffers with it;
// ChannelHID is the tunnel channel of the USB device 0E5B. Both talk to a virtual device when
// their path is listed in the simulated device set (KVSDK_SIM), and to the hardware otherwise.
#pragma once

#include <cstdint>

#include "KvSDKEng.h"

#if defined(KVSDKMOD_BUILDING)
#if defined(_WIN32)
#define KVSDKMOD_API __declspec(dllexport)
#else
#define KVSDKMOD_API __attribute__((visibility("default")))
#endif
#else
#if defined(_WIN32)
#define KVSDKMOD_API __declspec(dllimport)
#else
#define KVSDKMOD_API
#endif
#endif

namespace kvsdkmod {
class DeviceConnection;
class ChannelConnection;
}  // namespace kvsdkmod

class KVSDKMOD_API CKvDeviceIO {
  public:
    // Opens nothing.
    CKvDeviceIO();
    // Releases whatever Init opened.
    ~CKvDeviceIO();
    CKvDeviceIO(const CKvDeviceIO&) = delete;
    CKvDeviceIO& operator=(const CKvDeviceIO&) = delete;

    // Opens the device interface 'path' (null-terminated). Negative: the device is not usable.
    HRESULT Init(const wchar_t* path);
    // Sends 'length' bytes as one output buffer: command id, command class, data.
    HRESULT Set(const uint8_t* buffer, uint32_t length);
    // 'buffer' holds a request (command id, class, storage byte, light id, value) of '*length'
    // bytes; on success it holds the answer and '*length' a length that Set accepts for writing
    // the buffer back.
    HRESULT Get(uint8_t* buffer, uint32_t* length);

  private:
    kvsdkmod::DeviceConnection* m_pConnection;
};

class KVSDKMOD_API ChannelHID {
  public:
    ChannelHID();
    // Closes the channel.
    ~ChannelHID();
    ChannelHID(const ChannelHID&) = delete;
    ChannelHID& operator=(const ChannelHID&) = delete;

    // Connects to the first device with this vendor and product id. True: writes may follow.
    bool Connect(int vendorId, int productId);
    // Writes 'length' data bytes through the device's I2C tunnel. 0: written.
    int I2CTunnelWrite(bool flag1, bool flag2, uint8_t command, uint8_t arg1, uint8_t arg2,
                       const uint8_t* data, int length);

  private:
    kvsdkmod::ChannelConnection* m_pConnection;
};

// Observation seam for measurements: when set, every Set and tunnel write that reaches a virtual
// device of the simulated set calls 'observer' on the calling thread, before the device handles
// the buffer. Off (nullptr) by default; nothing of the library sets it. Set it while no device
// is in use.
typedef void (*KvSimCommandObserver)(void* context, const uint8_t* buffer, uint32_t length);
extern "C" KVSDKMOD_API void KvSDKModSetSimCommandObserver(KvSimCommandObserver observer,
                                                           void* context);

// The device report of `kvsdk probe`: every attached device of the vendor with its HID nodes and
// collections, whether this user can open them, which one the library uses and the framing in
// force; under KVSDK_SIM the simulated interfaces. Text, or one JSON object when 'json' is not 0.
// Copies at most 'size' bytes of it, null-terminated, into 'buffer' (may be null when 'size' is
// 0) and answers the bytes the whole report needs, terminator included (0 on failure).
extern "C" KVSDKMOD_API uint32_t KvSDKModProbe(int json, char* buffer, uint32_t size);
