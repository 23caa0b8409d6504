// The exported classes: argument checks, then the simulated or the hardware connection. No
// exception leaves these functions.
#include "KvSDKMod.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "kvsdkmod/Connection.h"
#include "kvsdkmod/sim/VirtualDevices.h"
#include "kvsdkmod/transport/Probe.h"
#include "kvsdkmod/transport/Transport.h"

using kvsdkmod::ChannelConnection;
using kvsdkmod::DeviceConnection;

namespace {

kvsdkmod::DeviceOpenResult OpenDevice(const std::wstring& path) {
    if (auto simulated = kvsdkmod::sim::OpenSimDevice(path)) return std::move(*simulated);
    return kvsdkmod::transport::OpenHardwareDevice(path);
}

kvsdkmod::ChannelOpenResult OpenChannel(int vendorId, int productId) {
    if (auto simulated = kvsdkmod::sim::ConnectSimChannel(vendorId, productId)) {
        return std::move(*simulated);
    }
    return kvsdkmod::transport::ConnectHardwareChannel(vendorId, productId);
}

constexpr int kTunnelFailed = -1;

}  // namespace

CKvDeviceIO::CKvDeviceIO() : m_pConnection(nullptr) {}

CKvDeviceIO::~CKvDeviceIO() {
    delete m_pConnection;
}

HRESULT CKvDeviceIO::Init(const wchar_t* path) {
    if (path == nullptr) return kvsdk::kE_POINTER;
    try {
        std::unique_ptr<DeviceConnection> previous(m_pConnection);
        m_pConnection = nullptr;
        previous.reset();
        auto opened = OpenDevice(path);
        m_pConnection = opened.connection.release();
        return opened.result;
    } catch (const std::bad_alloc&) {
        return kvsdk::kE_OUTOFMEMORY;
    } catch (...) {
        return kvsdk::kE_FAIL;
    }
}

HRESULT CKvDeviceIO::Set(const uint8_t* buffer, uint32_t length) {
    if (buffer == nullptr) return kvsdk::kE_POINTER;
    if (m_pConnection == nullptr) return kvsdkmod::kInvalidHandle;
    try {
        return m_pConnection->Set(buffer, length);
    } catch (const std::bad_alloc&) {
        return kvsdk::kE_OUTOFMEMORY;
    } catch (...) {
        return kvsdk::kE_FAIL;
    }
}

HRESULT CKvDeviceIO::Get(uint8_t* buffer, uint32_t* length) {
    if (buffer == nullptr || length == nullptr) return kvsdk::kE_POINTER;
    if (*length < 4) return kvsdk::kE_INVALIDARG;
    if (m_pConnection == nullptr) return kvsdkmod::kInvalidHandle;
    try {
        return m_pConnection->Get(buffer, length);
    } catch (const std::bad_alloc&) {
        return kvsdk::kE_OUTOFMEMORY;
    } catch (...) {
        return kvsdk::kE_FAIL;
    }
}

ChannelHID::ChannelHID() : m_pConnection(nullptr) {}

ChannelHID::~ChannelHID() {
    delete m_pConnection;
}

bool ChannelHID::Connect(int vendorId, int productId) {
    try {
        std::unique_ptr<ChannelConnection> previous(m_pConnection);
        m_pConnection = nullptr;
        previous.reset();
        auto opened = OpenChannel(vendorId, productId);
        if (!opened.connected || !opened.connection) return false;
        m_pConnection = opened.connection.release();
        return true;
    } catch (...) {
        return false;
    }
}

int ChannelHID::I2CTunnelWrite(bool flag1, bool flag2, uint8_t command, uint8_t arg1, uint8_t arg2,
                               const uint8_t* data, int length) {
    if (m_pConnection == nullptr) return kTunnelFailed;
    if (length < 0 || (data == nullptr && length > 0)) return kTunnelFailed;
    try {
        return m_pConnection->TunnelWrite(flag1, flag2, command, arg1, arg2, data, length);
    } catch (...) {
        return kTunnelFailed;
    }
}

extern "C" KVSDKMOD_API void KvSDKModSetSimCommandObserver(KvSimCommandObserver observer,
                                                           void* context) {
    kvsdkmod::sim::SetCommandObserver(observer, context);
}

extern "C" KVSDKMOD_API uint32_t KvSDKModProbe(int json, char* buffer, uint32_t size) {
    try {
        const std::string report =
            kvsdkmod::transport::ProbeReport(kvsdkmod::transport::PlatformBackend(), json != 0);
        if (buffer != nullptr && size > 0) {
            const size_t copied = std::min<size_t>(report.size(), size - 1);
            std::memcpy(buffer, report.data(), copied);
            buffer[copied] = '\0';
        }
        return static_cast<uint32_t>(report.size() + 1);
    } catch (...) {
        return 0;
    }
}
