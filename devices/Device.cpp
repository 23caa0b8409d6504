#include "devices/Device.h"

#include <new>

#include "Strings.h"
#include "Win32Types.h"

namespace kvsdk {

CDevice::CDevice(const wchar_t* path) {
    const wchar_t* p = path != nullptr ? path : L"";
    m_strPath = ToUpper(p);
    OpenDeviceIO(p);
}

CDevice::~CDevice() {
    StopWorker();
    m_pDeviceIO.reset();
    m_effectQueue.Clear();
}

void CDevice::OpenDeviceIO(const wchar_t* path) {
    m_pDeviceIO.reset(new (std::nothrow) CKvDeviceIO());
    if (m_pDeviceIO) {
        // A device that fails to open stays listed; its Set and Get answer what the library
        // answers.
        (void)m_pDeviceIO->Init(path);
    }
}

void CDevice::Initialize(const wchar_t* path, GUID productGuid) {
    StopWorker();
    const wchar_t* p = path != nullptr ? path : L"";
    m_effectQueue.Restart();
    m_strPath = ToUpper(p);
    m_pDeviceIO.reset();
    OpenDeviceIO(p);
    m_guidProduct = productGuid;
}

HRESULT CDevice::Set(const uint8_t* buffer, uint32_t length) {
    if (!m_pDeviceIO) return kE_POINTER;
    return m_pDeviceIO->Set(buffer, length);
}

HRESULT CDevice::Get(uint8_t* buffer, uint32_t* length) {
    if (!m_pDeviceIO) return kE_POINTER;
    return m_pDeviceIO->Get(buffer, length);
}

HRESULT CDevice::AddEffect(std::unique_ptr<CEffect>& effect) {
    if (!effect) return kE_POINTER;
    const HRESULT hr = effect->Build();
    if (Failed(hr)) return hr;
    m_effectQueue.Add(std::move(effect));
    return kS_OK;
}

HRESULT CDevice::QueryEffect(CEffect* effect) {
    if (effect == nullptr) return kE_POINTER;
    return effect->QueryState(m_strPath);
}

bool CDevice::TakesWholeBlocks() const {
    return GuidEqual(m_guidProduct, PRODUCT_PELL_USB_0E5B);
}

}  // namespace kvsdk
