// A host that loads the library at run time and unloads it again: once with KvSDKEngUninit
// first (the library must load and work again), once in the middle of a running effect without
// it (the host must live on). Each test runs in its own process: a crash fails the test.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <thread>

#include "KvSDKEng.h"
#include "tests/support/TestSupport.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <dlfcn.h>
#include <unistd.h>
#endif

namespace kvsdk::test {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

// The library loaded from beside this executable, with its four exports.
class HostLibrary {
  public:
    HostLibrary() {
#ifdef _WIN32
        m_handle = LoadLibraryW(L"KvSDKEng.dll");
#else
        const fs::path self = fs::read_symlink("/proc/self/exe");
        m_handle = dlopen((self.parent_path() / "libKvSDKEng.so").c_str(), RTLD_NOW | RTLD_LOCAL);
#endif
        if (m_handle == nullptr) return;
        init = Resolve<PFN_KvSDKEngInit>("KvSDKEngInit");
        uninit = Resolve<PFN_KvSDKEngUninit>("KvSDKEngUninit");
        setEffect = Resolve<PFN_KvSDKSetEffect>("KvSDKSetEffect");
    }
    ~HostLibrary() {
        Unload();
    }
    HostLibrary(const HostLibrary&) = delete;
    HostLibrary& operator=(const HostLibrary&) = delete;

    bool Loaded() const {
        return m_handle && init && uninit && setEffect;
    }
    void Unload() {
        if (m_handle == nullptr) return;
#ifdef _WIN32
        FreeLibrary(static_cast<HMODULE>(m_handle));
#else
        dlclose(m_handle);
#endif
        m_handle = nullptr;
        init = nullptr;
        uninit = nullptr;
        setEffect = nullptr;
    }

    PFN_KvSDKEngInit init = nullptr;
    PFN_KvSDKEngUninit uninit = nullptr;
    PFN_KvSDKSetEffect setEffect = nullptr;

  private:
    template <class F>
    F Resolve(const char* name) {
#ifdef _WIN32
        return reinterpret_cast<F>(
            reinterpret_cast<void (*)()>(GetProcAddress(static_cast<HMODULE>(m_handle), name)));
#else
        return reinterpret_cast<F>(dlsym(m_handle, name));
#endif
    }
    void* m_handle = nullptr;
};

const std::string kMouse = MousePath("0e59");

EffectParams MouseRecord() {
    EffectParams params{};
    params.size = sizeof params;
    params.productGuid = PRODUCT_PELL_MOUSE_0E59;
    params.lightSelector = 1;
    return params;
}

// Waits (bounded) until the device has received 'count' commands; answers how many it has.
size_t WaitForSets(const SimEnvironment& sim, size_t count) {
    const auto deadline = std::chrono::steady_clock::now() + 10s;
    size_t seen = 0;
    while ((seen = Filter(sim.Trace(), "set").size()) < count &&
           std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(10ms);
    }
    return seen;
}

// Runs first: it leaves no engine behind for the test after it when both share a process.
TEST(Unload, AfterUninitTheLibraryLoadsAgainAndWorks) {
    SimEnvironment sim("mouse " + kMouse + "\n");
    EffectParams params = MouseRecord();
    {
        HostLibrary library;
        ASSERT_TRUE(library.Loaded());
        ASSERT_EQ(library.init(PRODUCT_PELL_MOUSE_0E59), S_OK);
        ASSERT_EQ(library.setEffect(EFFECT_LED_ON, &params), S_OK);
        ASSERT_EQ(WaitForSets(sim, 1), 1u);
        EXPECT_EQ(library.uninit(), S_OK);
    }
    HostLibrary library;
    ASSERT_TRUE(library.Loaded());
    ASSERT_EQ(library.init(PRODUCT_PELL_MOUSE_0E59), S_OK);
    ASSERT_EQ(library.setEffect(EFFECT_LED_OFF, &params), S_OK);
    ASSERT_EQ(WaitForSets(sim, 2), 2u);
    EXPECT_EQ(library.uninit(), S_OK);

    const auto sets = Filter(sim.Trace(), "set");
    ASSERT_EQ(sets.size(), 2u);
    EXPECT_EQ(sets[0].details, "00 03 00 01 01");
    EXPECT_EQ(sets[1].details, "00 03 00 01 00");
}

TEST(Unload, WithoutUninitDuringAnEffectTheHostLivesOn) {
    SimEnvironment sim("mouse " + kMouse + "\n");
    HostLibrary library;
    ASSERT_TRUE(library.Loaded());
    ASSERT_EQ(library.init(PRODUCT_PELL_MOUSE_0E59), S_OK);
    EffectParams blink = MouseRecord();
    blink.count = 10000;  // about 200 s of commands, every 10 ms
    blink.offTime = 10;
    blink.onTime = 10;
    ASSERT_EQ(library.setEffect(EFFECT_LED_BLINK, &blink), S_OK);
    const size_t before = WaitForSets(sim, 4);
    ASSERT_GE(before, 4u);

    library.Unload();
    std::this_thread::sleep_for(2s);
    // Still alive, and the effect went on in the library that stayed mapped.
    EXPECT_GT(Filter(sim.Trace(), "set").size(), before);
    // The process now exits with the effect still running.
}

}  // namespace
}  // namespace kvsdk::test
