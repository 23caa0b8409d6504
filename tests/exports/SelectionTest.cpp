// Which devices an effect call addresses: the product GUID of the record, the accepted effect
// kinds, and the per-product "GameControl" switch.
#include <gtest/gtest.h>

#include <chrono>
#include <map>
#include <string>
#include <thread>
#include <vector>

#ifdef _WIN32
#include <windows.h>
#endif

#include "KvSDKEng.h"
#include "tests/support/TestSupport.h"

namespace kvsdk::test {
namespace {

const std::string kVexo51 = MousePath("0e51");
const std::string kVexo52 = MousePath("0e52");
const std::string kMouse = MousePath("0e59");
const std::string kKeyboard = KeyboardPath("0e5a", "02");

EffectParams Record(const GUID& product) {
    EffectParams params{};
    params.size = sizeof(params);
    params.productGuid = product;
    params.lightSelector = 1;
    return params;
}

class SelectionTest : public ::testing::Test {
  protected:
    SelectionTest()
        : m_registry("KVSDK_REGISTRY", NativePath(m_dir / "registry.reg")),
          m_sim("mouse " + kVexo51 + "\nmouse " + kVexo52 + "\nmouse " + kMouse + "\nkeyboard " +
                kKeyboard + "\n") {
        SetSwitches({});
    }
    ~SelectionTest() override { SetSwitches({}); }
    void SetUp() override {
        ASSERT_EQ(KvSDKEngInit(PRODUCT_VEXO), S_OK);
        ASSERT_EQ(KvSDKEngInit(PRODUCT_PELL), S_OK);
    }
    void TearDown() override { EXPECT_EQ(KvSDKEngUninit(), S_OK); }

    // Sets "GameControl" for the given product ids ("0E59" -> "dword:00000000", as a .reg file
    // writes values) and removes it for every other product: the registry on Windows, the
    // KVSDK_REGISTRY file elsewhere.
    void SetSwitches(const std::map<std::string, std::string>& values) {
        m_switches = values;
#ifdef _WIN32
        for (const char* product : {"0E51", "0E52", "0E59", "0E5A"}) {
            const std::string key = std::string("SOFTWARE\\TOLVE\\7A3E") + product;
            RegDeleteKeyA(HKEY_CURRENT_USER, key.c_str());
        }
        for (const auto& [product, value] : values) {
            const std::string key = "SOFTWARE\\TOLVE\\7A3E" + product;
            HKEY handle = nullptr;
            ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, key.c_str(), 0, nullptr, 0, KEY_WRITE,
                                      nullptr, &handle, nullptr),
                      ERROR_SUCCESS);
            DWORD type = REG_BINARY;
            std::vector<BYTE> data;
            if (value.rfind("dword:", 0) == 0) {
                type = REG_DWORD;
                const DWORD number = std::stoul(value.substr(6), nullptr, 16);
                data.assign(reinterpret_cast<const BYTE*>(&number),
                            reinterpret_cast<const BYTE*>(&number) + sizeof(number));
            } else if (value.rfind("hex:", 0) == 0) {
                for (size_t i = 4; i + 1 < value.size(); i += 3) {
                    data.push_back(static_cast<BYTE>(std::stoul(value.substr(i, 2), nullptr, 16)));
                }
            } else {  // "text"
                type = REG_SZ;
                for (char c : value.substr(1, value.size() - 2))
                    data.push_back(static_cast<BYTE>(c));
                data.push_back(0);
            }
            RegSetValueExA(handle, "GameControl", 0, type, data.data(),
                           static_cast<DWORD>(data.size()));
            RegCloseKey(handle);
        }
#else
        std::string body = "Windows Registry Editor Version 5.00\n\n";
        for (const auto& [product, value] : values) {
            body += "[HKEY_CURRENT_USER\\SOFTWARE\\TOLVE\\7A3E" + product +
                    "]\n\"GameControl\"=" + value + "\n";
        }
        WriteTextFile(m_dir / "registry.reg", body);
#endif
    }
    // Sends one light-on to every Pell device and answers which of them received it. A light-off
    // sent to both devices with every switch on follows as a sentinel: a device runs its queue
    // in order, so once the sentinel has arrived the light-on has arrived too, or never will.
    std::string PellDevicesServed() {
        const size_t mouseBefore = Filter(m_sim.Trace(), "set", kMouse).size();
        const size_t keyboardBefore = Filter(m_sim.Trace(), "set", kKeyboard).size();
        EffectParams params = Record(PRODUCT_PELL);
        const HRESULT hr = KvSDKSetEffect(EFFECT_LED_ON, &params);

        const std::map<std::string, std::string> switches = m_switches;
        SetSwitches({});
        EffectParams sentinel = Record(PRODUCT_PELL);
        EXPECT_EQ(KvSDKSetEffect(EFFECT_LED_OFF, &sentinel), S_OK);
        SetSwitches(switches);
        const auto sentAfter = [this](const std::string& path, size_t before) {
            auto lines = Filter(m_sim.Trace(), "set", path);
            lines.erase(lines.begin(), lines.begin() + static_cast<std::ptrdiff_t>(before));
            return lines;
        };
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
        while ((!HasLightSet(sentAfter(kMouse, mouseBefore), kLightOff) ||
                !HasLightSet(sentAfter(kKeyboard, keyboardBefore), kLightOff)) &&
               std::chrono::steady_clock::now() < deadline) {
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        std::string served = hr == S_OK ? "" : "failed ";
        if (HasLightSet(sentAfter(kMouse, mouseBefore), kLightOn)) served += "mouse ";
        if (HasLightSet(sentAfter(kKeyboard, keyboardBefore), kLightOn)) served += "keyboard";
        return served;
    }

    static constexpr const char* kLightOn = "00 03 00 01 01";
    static constexpr const char* kLightOff = "00 03 00 01 00";
    static bool HasLightSet(const std::vector<TraceLine>& lines, const char* details) {
        for (const auto& line : lines) {
            if (line.details == details) return true;
        }
        return false;
    }

    std::map<std::string, std::string> m_switches;
    TempDir m_dir;
    ScopedEnv m_registry;
    SimEnvironment m_sim;
};

TEST_F(SelectionTest, EffectKindAndRecordAreCheckedFirst) {
    GUID unknown = EFFECT_LED_ON;
    unknown.Data1 ^= 0x100;
    EXPECT_EQ(KvSDKSetEffect(unknown, nullptr), E_FAIL);
    EXPECT_EQ(KvSDKSetEffect(EFFECT_LED_ON, nullptr), E_POINTER);
    EXPECT_EQ(KvSDKGetEffect(EFFECT_LED_STATE, nullptr), E_POINTER);
    EffectParams params = Record(PRODUCT_PELL);
    EXPECT_EQ(KvSDKSetEffect(unknown, &params), E_FAIL);
    EXPECT_TRUE(Filter(m_sim.Trace(), "set").empty());
}

TEST_F(SelectionTest, ProductGuidOfTheRecordPicksTheDevices) {
    EffectParams none = Record(GUID{});
    EXPECT_EQ(KvSDKSetEffect(EFFECT_LED_ON, &none), E_FAIL);
    EXPECT_EQ(KvSDKGetEffect(EFFECT_LED_STATE, &none), E_FAIL);

    EffectParams family = Record(PRODUCT_VEXO);
    EXPECT_EQ(KvSDKSetEffect(EFFECT_LED_ON, &family), S_OK);
    // Reading back needs one product: the family GUID reads nothing.
    EXPECT_EQ(KvSDKGetEffect(EFFECT_LED_STATE, &family), E_FAIL);
    EffectParams one = Record(PRODUCT_VEXO_0E52);
    EXPECT_EQ(KvSDKGetEffect(EFFECT_LED_STATE, &one), S_OK);

    EffectParams mouse = Record(PRODUCT_PELL_MOUSE_0E59);
    EXPECT_EQ(KvSDKSetEffect(EFFECT_LED_OFF, &mouse), S_OK);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (Filter(m_sim.Trace(), "set").size() < 5 && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    EXPECT_EQ(Filter(m_sim.Trace(), "set", kVexo51).size(), 2u);  // mode 0, on
    EXPECT_EQ(Filter(m_sim.Trace(), "set", kVexo52).size(), 2u);
    EXPECT_EQ(Filter(m_sim.Trace(), "set", kMouse).size(), 1u);
    EXPECT_TRUE(Filter(m_sim.Trace(), "set", kKeyboard).empty());
}

TEST_F(SelectionTest, GameControlOffOnlyForADwordZeroOfThatProduct) {
    EXPECT_EQ(PellDevicesServed(), "mouse keyboard");
    SetSwitches({{"0E59", "dword:00000000"}});
    EXPECT_EQ(PellDevicesServed(), "keyboard");
    // Read afresh at every call: anything but a DWORD 0 leaves the product served.
    for (const std::string value : {"dword:00000001", "\"0\"", "hex:00,00,00,00"}) {
        SetSwitches({{"0E59", value}});
        EXPECT_EQ(PellDevicesServed(), "mouse keyboard") << value;
    }
#ifndef _WIN32
    WriteTextFile(m_dir / "registry.reg", "not a registry file\n[HKEY_CURRENT_USER");
    EXPECT_EQ(PellDevicesServed(), "mouse keyboard");
#endif

    // Every addressed device switched off: nothing was done.
    SetSwitches({{"0E59", "dword:0"}, {"0E5A", "dword:0"}});
    EXPECT_EQ(PellDevicesServed(), "failed ");
}

TEST_F(SelectionTest, ReadingBackIgnoresTheSwitch) {
    SetSwitches({{"0E51", "dword:00000000"}});
    EffectParams params = Record(PRODUCT_VEXO_0E51);
    EXPECT_EQ(KvSDKSetEffect(EFFECT_LED_ON, &params), E_FAIL);
    EXPECT_EQ(KvSDKGetEffect(EFFECT_LED_BRIGHTNESS, &params), S_OK);
}

}  // namespace
}  // namespace kvsdk::test
