#include "kvsdkmod/sim/VirtualDevices.h"

#include <atomic>
#include <chrono>
#include <cstdio>
#include <map>
#include <mutex>
#include <new>
#include <thread>
#include <vector>

#include "common/SimFile.h"
#include "common/Strings.h"
#include "kvsdkmod/ForkChild.h"
#include "kvsdkmod/sim/Trace.h"

namespace kvsdkmod::sim {

namespace {

using kvsdk::sim::RegisterKey;
using kvsdk::sim::SimInterface;

std::atomic<KvSimCommandObserver> g_observer{nullptr};
std::atomic<void*> g_observerContext{nullptr};

void NotifyCommandObserver(const uint8_t* buffer, uint32_t length) {
    if (const KvSimCommandObserver observer = g_observer.load(std::memory_order_acquire)) {
        observer(g_observerContext.load(std::memory_order_relaxed), buffer, length);
    }
}

struct VirtualDevice {
    std::mutex mutex;
    std::map<RegisterKey, std::vector<uint8_t>> registers;
};

// Every virtual device of the process, by device file and upper-case path. Never destroyed, so
// that objects a host leaves open at exit still find their device.
class DeviceTable {
  public:
    static DeviceTable& Instance() {
        static DeviceTable* table = new DeviceTable;
        static const bool renewed = [] {
            // A forked child's virtual devices start again from the file.
            RunInForkedChild([] { new (table) DeviceTable; });
            return true;
        }();
        (void)renewed;
        return *table;
    }

    // The device of 'item' as listed by the file 'source'; created with the item's initial
    // registers the first time.
    VirtualDevice& Find(const std::wstring& source, const SimInterface& item) {
        std::lock_guard lock(m_mutex);
        auto& slot = m_devices[source + L'\n' + kvsdk::ToUpper(item.path)];
        if (!slot) {
            slot = std::make_unique<VirtualDevice>();
            for (const auto& [key, value] : item.registers) slot->registers[key] = {value};
        }
        return *slot;
    }

  private:
    std::mutex m_mutex;
    std::map<std::wstring, std::unique_ptr<VirtualDevice>> m_devices;
};

class SimDeviceConnection final : public DeviceConnection {
  public:
    SimDeviceConnection(VirtualDevice& device, std::string path, const SimInterface& item)
        : m_device(device),
          m_path(std::move(path)),
          m_getResult(item.getResult),
          m_setResult(item.setResult),
          m_setDelay(item.setDelayMs) {}

    ~SimDeviceConnection() override { TraceLine("close", m_path, "", HexResult(0)); }

    HRESULT Set(const uint8_t* buffer, uint32_t length) override {
        // A slow device: the call takes this long before the device takes the buffer.
        if (m_setDelay.count() > 0) std::this_thread::sleep_for(m_setDelay);
        NotifyCommandObserver(buffer, length);
        std::lock_guard lock(m_device.mutex);
        if (kvsdk::Succeeded(m_setResult) && length >= 5) {
            const RegisterKey key{buffer[0], buffer[1], buffer[2], buffer[3]};
            m_device.registers[key].assign(buffer + 4, buffer + length);
        }
        if (TraceWanted()) {
            TraceLine("set", m_path, HexBytes(buffer, length), HexResult(Code(m_setResult)));
        }
        return m_setResult;
    }

    HRESULT Get(uint8_t* buffer, uint32_t* length) override {
        const uint32_t count = *length;
        const bool traced = TraceWanted();
        const std::string request = traced ? HexBytes(buffer, count) : std::string();
        std::lock_guard lock(m_device.mutex);
        if (kvsdk::Succeeded(m_getResult)) {
            const RegisterKey key{buffer[0], buffer[1], buffer[2], buffer[3]};
            const auto found = m_device.registers.find(key);
            for (uint32_t i = 4; i < count; ++i) {
                const size_t index = i - 4;
                buffer[i] = found != m_device.registers.end() && index < found->second.size()
                                ? found->second[index]
                                : uint8_t{0};
            }
        }
        if (traced) {
            TraceLine("get", m_path, request + " -> " + HexBytes(buffer, count),
                      HexResult(Code(m_getResult)));
        }
        return m_getResult;
    }

  private:
    static uint32_t Code(HRESULT hr) { return static_cast<uint32_t>(hr); }

    VirtualDevice& m_device;
    const std::string m_path;
    const HRESULT m_getResult;
    const HRESULT m_setResult;
    const std::chrono::milliseconds m_setDelay;
};

class SimChannelConnection final : public ChannelConnection {
  public:
    SimChannelConnection(std::string path, int tunnelResult)
        : m_path(std::move(path)), m_tunnelResult(tunnelResult) {}

    ~SimChannelConnection() override { TraceLine("close", m_path, "", HexResult(0)); }

    int TunnelWrite(bool flag1, bool flag2, uint8_t command, uint8_t arg1, uint8_t arg2,
                    const uint8_t* data, int length) override {
        NotifyCommandObserver(data, static_cast<uint32_t>(length));
        if (!TraceWanted()) return m_tunnelResult;
        TraceLine("tunnel", m_path, TunnelDetails(flag1, flag2, command, arg1, arg2, data, length),
                  HexResult(static_cast<uint32_t>(m_tunnelResult)));
        return m_tunnelResult;
    }

  private:
    const std::string m_path;
    const int m_tunnelResult;
};

bool ContainsIgnoreCase(const std::wstring& text, const std::wstring& part) {
    return kvsdk::ToUpper(text).find(kvsdk::ToUpper(part)) != std::wstring::npos;
}

std::wstring IdTag(const wchar_t* prefix, int id) {
    wchar_t text[16];
    std::swprintf(text, 16, L"%ls%04X", prefix, static_cast<unsigned>(id));
    return text;
}

}  // namespace

std::optional<DeviceOpenResult> OpenSimDevice(const std::wstring& path) {
    std::wstring source;
    const auto items = kvsdk::sim::LoadSimFile(&source);
    if (!items) return std::nullopt;
    for (const auto& item : *items) {
        if (!kvsdk::EqualsIgnoreCase(item.path, path)) continue;
        auto& device = DeviceTable::Instance().Find(source, item);
        const std::string tracePath = kvsdk::ToUtf8(path);
        TraceLine("init", tracePath, "", HexResult(static_cast<uint32_t>(item.initResult)));
        DeviceOpenResult opened;
        opened.result = item.initResult;
        if (kvsdk::Succeeded(item.initResult)) {
            opened.connection = std::make_unique<SimDeviceConnection>(device, tracePath, item);
        }
        return opened;
    }
    // Not listed: absent, as a hardware path that names no device. While the simulated set is
    // in force no hardware node is opened.
    DeviceOpenResult absent;
    absent.result = kvsdk::HResultFromWin32(kvsdk::kErrorFileNotFound);
    return absent;
}

std::optional<ChannelOpenResult> ConnectSimChannel(int vendorId, int productId) {
    const auto items = kvsdk::sim::LoadSimFile();
    if (!items) return std::nullopt;
    if (vendorId < 0 || vendorId > 0xFFFF || productId < 0 || productId > 0xFFFF) {
        return ChannelOpenResult{};
    }
    const std::wstring vid = IdTag(L"VID_", vendorId);
    const std::wstring pid = IdTag(L"PID_", productId);
    for (const auto& item : *items) {
        if (!ContainsIgnoreCase(item.path, vid) || !ContainsIgnoreCase(item.path, pid)) continue;
        const std::string tracePath = kvsdk::ToUtf8(item.path);
        const std::string ids = kvsdk::ToUtf8(vid.substr(4) + L' ' + pid.substr(4));
        TraceLine("connect", tracePath, ids, item.connectResult ? "1" : "0");
        ChannelOpenResult opened;
        opened.connected = item.connectResult;
        if (item.connectResult) {
            opened.connection =
                std::make_unique<SimChannelConnection>(tracePath, item.tunnelResult);
        }
        return opened;
    }
    return ChannelOpenResult{};  // no such device in the simulated set: not connected
}

void SetCommandObserver(KvSimCommandObserver observer, void* context) {
    g_observerContext.store(context, std::memory_order_relaxed);
    g_observer.store(observer, std::memory_order_release);
}

}  // namespace kvsdkmod::sim
