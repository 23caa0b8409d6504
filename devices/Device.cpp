#include "devices/Device.h"

#include <new>
#include <thread>
#include <vector>

#include "catalogue/Products.h"
#include "common/Strings.h"
#include "common/Win32Types.h"

namespace kvsdk {

CDevice::CDevice(const wchar_t* path) {
    const wchar_t* p = path != nullptr ? path : L"";
    SetPath(p);
    OpenDeviceIO(p);
}

void CDevice::SetPath(const wchar_t* path) {
    m_strPath = ToUpper(path);
    m_product = ProductOfPath(m_strPath);
}

void CDevice::SetProductGuid(const GUID& productGuid) {
    m_guidProduct = productGuid;
    m_wholeBlocks = kvsdk::TakesWholeBlocks(productGuid);
}

CDevice::~CDevice() {
    StopWorker();
    m_pDeviceIO.reset();
    m_effectQueue.Clear();
}

void CDevice::OpenDeviceIO(const wchar_t* path) {
    m_pDeviceIO.reset(new (std::nothrow) CKvDeviceIO());
    // The object stays even when it fails to open (its Set and Get answer what the library
    // answers); discovery looks at the result and does not keep such a device.
    m_openResult = m_pDeviceIO ? m_pDeviceIO->Init(path) : kE_OUTOFMEMORY;
}

void CDevice::Initialize(const wchar_t* path, GUID productGuid) {
    StopWorker();
    const wchar_t* p = path != nullptr ? path : L"";
    m_effectQueue.Restart();
    SetPath(p);
    m_pDeviceIO.reset();
    OpenDeviceIO(p);
    SetProductGuid(productGuid);
}

HRESULT CDevice::Set(const uint8_t* buffer, uint32_t length) {
    if (!m_pDeviceIO) return kE_POINTER;
    return m_pDeviceIO->Set(buffer, length);
}

HRESULT CDevice::Get(uint8_t* buffer, uint32_t* length) {
    if (!m_pDeviceIO) return kE_POINTER;
    return m_pDeviceIO->Get(buffer, length);
}

HRESULT CDevice::AddEffect(std::unique_ptr<CEffect>& effect, bool* needsWorker) {
    if (!effect) return kE_POINTER;
    const HRESULT hr = effect->Build();
    if (Failed(hr)) return hr;
    if (!m_effectQueue.Add(std::move(effect), needsWorker)) return kE_QUEUE_FULL;
    return kS_OK;
}

HRESULT CDevice::QueryEffect(CEffect* effect) {
    if (effect == nullptr) return kE_POINTER;
    return effect->QueryState(m_strPath);
}

void ReleaseDevices(CList<CDevice>& devices) {
    for (const auto& device : devices) device->RequestStop();
    std::vector<std::jthread> releasers;
    while (std::unique_ptr<CDevice> device = devices.RemoveHead()) {
        if (devices.IsEmpty()) break;  // the last one goes on this thread
        try {
            CDevice* owned = device.get();
            releasers.emplace_back([owned] { delete owned; });
            device.release();  // the thread owns it now
        } catch (...) {
            device.reset();  // no thread to give: released here
        }
    }
    // 'releasers' joins its threads on the way out, after the last device went here.
}

}  // namespace kvsdk
