// The built kvsdk executable, run as a user runs it: the demo end to end, and set, get,
// devices and timeline on a simulated device set.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "KvSDKEng.h"
#include "tests/tool/MiniXml.h"
#include "tests/support/TestSupport.h"
#include "tools/kvsdk/Timeline.h"
#include "tools/kvsdk/ToolPlatform.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>
extern char** environ;
#endif

namespace kvsdk::tool {
namespace {

namespace fs = std::filesystem;

struct RunResult {
    int exitCode = -1;
    std::string output;  // standard output and standard error together
};

// Runs the kvsdk built beside this test executable; the child inherits our environment.
RunResult RunTool(const std::vector<std::string>& args, const fs::path& scratch) {
    const fs::path outFile = scratch / "tool-output.txt";
    RunResult result;
#ifdef _WIN32
    const fs::path tool = ExecutableFolder() / "kvsdk.exe";
    std::wstring command = L"\"" + tool.wstring() + L"\"";
    for (const std::string& arg : args) {
        std::wstring quoted;
        for (wchar_t c : PathFromUtf8(arg).wstring()) {
            if (c == L'"') quoted += L'\\';
            quoted += c;
        }
        command += L" \"" + quoted + L"\"";
    }
    SECURITY_ATTRIBUTES inherit{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
    HANDLE out = CreateFileW(outFile.wstring().c_str(), GENERIC_WRITE, FILE_SHARE_READ, &inherit,
                             CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (out == INVALID_HANDLE_VALUE) return result;
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    startup.hStdOutput = out;
    startup.hStdError = out;
    PROCESS_INFORMATION process{};
    if (CreateProcessW(tool.wstring().c_str(), command.data(), nullptr, nullptr, TRUE, 0, nullptr,
                       nullptr, &startup, &process)) {
        WaitForSingleObject(process.hProcess, INFINITE);
        DWORD code = 0;
        GetExitCodeProcess(process.hProcess, &code);
        result.exitCode = static_cast<int>(code);
        CloseHandle(process.hThread);
        CloseHandle(process.hProcess);
    }
    CloseHandle(out);
#else
    const std::string tool = (ExecutableFolder() / "kvsdk").string();
    std::vector<char*> argv{const_cast<char*>(tool.c_str())};
    for (const std::string& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, outFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                     0644);
    posix_spawn_file_actions_adddup2(&actions, 1, 2);
    pid_t pid = 0;
    if (posix_spawn(&pid, tool.c_str(), &actions, nullptr, argv.data(), environ) == 0) {
        int status = 0;
        waitpid(pid, &status, 0);
        result.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }
    posix_spawn_file_actions_destroy(&actions);
#endif
    result.output = test::ReadTextFile(outFile);
    return result;
}

bool Contains(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

// The <rect class="seg"> elements of an SVG file.
std::vector<test::XmlElement> Segments(const fs::path& svg) {
    const test::XmlElement root = test::XmlReader::Parse(test::ReadTextFile(svg));
    std::vector<const test::XmlElement*> rects;
    test::CollectElements(root, "rect", rects);
    std::vector<test::XmlElement> segments;
    for (const auto* rect : rects) {
        if (rect->Attr("class") == "seg") segments.push_back(*rect);
    }
    return segments;
}

std::vector<std::string> Values(const std::vector<test::XmlElement>& segments,
                                const std::string& device, const std::string& light,
                                const std::string& kind) {
    std::vector<std::string> values;
    for (const auto& s : segments) {
        if (s.Attr("data-device") == device && s.Attr("data-light") == light &&
            s.Attr("data-kind") == kind) {
            values.push_back(s.Attr("data-value"));
        }
    }
    return values;
}

TEST(ToolProcess, DemoRunsEveryEffectAndDrawsTheTimeline) {
    test::TempDir dir;
    test::ScopedEnv noSim("KVSDK_SIM", std::nullopt);
    test::ScopedEnv noTrace("KVSDK_SIM_TRACE", std::nullopt);
    const fs::path svg = dir / "demo.svg";
    const fs::path trace = dir / "demo-trace.txt";
    const RunResult run = RunTool(
        {"demo", "--svg", test::NativePath(svg), "--trace", test::NativePath(trace)}, dir.Path());
    ASSERT_EQ(run.exitCode, 0) << run.output;
    for (const char* expected :
         {"VEXO 0E51", "VEXO 0E52", "Pell mouse 0E59", "Pell keyboard 0E5A", "Pell USB 0E5B",
          "E_NOINTERFACE", "read state", "tunnel 0x60", "device mode 1", "SVG timeline: "}) {
        EXPECT_TRUE(Contains(run.output, expected)) << expected << "\n" << run.output;
    }
    EXPECT_EQ(BuildTimeline(test::ReadTextFile(trace)).devices.size(), 5u);

    std::vector<test::XmlElement> segments;
    ASSERT_NO_THROW(segments = Segments(svg));
    // Flashes and blinks: lights go on and off again.
    for (const char* device : {"0E51", "0E52", "0E59", "0E5A"}) {
        const auto states = Values(segments, device, "light 0x01", "state");
        EXPECT_GE(states.size(), 4u) << device;
        EXPECT_EQ(states.back(), "off") << device;
    }
    EXPECT_EQ(Values(segments, "0E52", "light 0x05", "state").back(), "on");
    EXPECT_EQ(Values(segments, "0E5A", "light 0x0B", "mode"),
              (std::vector<std::string>{"0", "4", "1", "2", "0"}));
    EXPECT_EQ(Values(segments, "0E59", "light 0x01", "colour"),
              std::vector<std::string>{"#FF5000"});
    EXPECT_EQ(Values(segments, "0E5B", "tunnel 0x60", "colour"),
              std::vector<std::string>{"#00C850"});
    EXPECT_EQ(Values(segments, "0E51", "light 0x01", "brightness"),
              std::vector<std::string>{"153"});
}

class ToolOnSimulatedDevices : public ::testing::Test {
  protected:
    ToolOnSimulatedDevices()
        : m_sim("mouse " + test::MousePath("0e51") + " reg.00030001=01\n" + "mouse " +
                test::MousePath("0e59") + "\n" + "mouse \\\\?\\hid#vid_045e&pid_0040#1#x\n" +
                "keyboard " + test::KeyboardPath("0e5a", "02") + "\n") {}

    RunResult Run(const std::vector<std::string>& args) {
        return RunTool(args, m_sim.Dir().Path());
    }

    test::SimEnvironment m_sim;
};

TEST_F(ToolOnSimulatedDevices, SetWaitsUntilTheEffectHasRun) {
    const RunResult run = Run({"set", "flash_2", "--product", "pell_mouse_0e59", "--light", "1"});
    ASSERT_EQ(run.exitCode, 0) << run.output;
    EXPECT_TRUE(Contains(run.output, "KvSDKSetEffect: S_OK (0x00000000)")) << run.output;
    // Both cycles reached the device before the tool let go of the library.
    const Timeline t = BuildTimeline(test::ReadTextFile(m_sim.TraceFile()));
    const DeviceTimeline* mouse = t.Find("0E59");
    ASSERT_NE(mouse, nullptr);
    ASSERT_NE(mouse->Find(0x01), nullptr);
    const auto& states = mouse->Find(0x01)->Of(Attribute::State);
    ASSERT_EQ(states.size(), 4u);
    EXPECT_EQ(states.back().value, 1u);
}

TEST_F(ToolOnSimulatedDevices, ResultsAndExitCodes) {
    RunResult run =
        Run({"set", "color", "--product", "vexo_0e51", "--light", "1", "--rgb", "1,2,3"});
    EXPECT_EQ(run.exitCode, 1) << run.output;
    EXPECT_TRUE(Contains(run.output, "E_NOINTERFACE (0x80004002)")) << run.output;

    run = Run({"set", "on", "--product", "pell_usb_0e5b", "--light", "1"});  // not attached
    EXPECT_EQ(run.exitCode, 1) << run.output;
    EXPECT_TRUE(Contains(run.output, "KvSDKEngInit: E_FAIL")) << run.output;

    run = Run({"get", "state", "--product", "vexo_0e51", "--light", "1"});
    EXPECT_EQ(run.exitCode, 0) << run.output;
    EXPECT_TRUE(Contains(run.output, "state of light 1: 100 (on)")) << run.output;

    const size_t traced = test::ReadTrace(m_sim.TraceFile()).size();
    run = Run({"set", "brightness", "--product", "vexo_0e51", "--light", "1", "--level", "150"});
    EXPECT_EQ(run.exitCode, 2) << run.output;
    EXPECT_TRUE(Contains(run.output, "--level must be from 0 to 100")) << run.output;
    EXPECT_EQ(test::ReadTrace(m_sim.TraceFile()).size(), traced);  // nothing reached a device

    run = Run({"--help"});
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_TRUE(Contains(run.output, "waits for the")) << run.output;
}

TEST_F(ToolOnSimulatedDevices, DevicesListsTheMakersInterfaces) {
    const RunResult run = Run({"devices"});
    ASSERT_EQ(run.exitCode, 0) << run.output;
    EXPECT_TRUE(
        Contains(run.output, "mouse     0E51    VEXO   simulated  \\\\?\\hid#vid_7a3e&pid_0e51"))
        << run.output;
    EXPECT_TRUE(Contains(run.output, "mouse     0E59    Pell")) << run.output;
    EXPECT_TRUE(Contains(run.output, "keyboard  0E5A    Pell")) << run.output;
    EXPECT_FALSE(Contains(run.output, "vid_045e")) << run.output;
}

TEST_F(ToolOnSimulatedDevices, ProbeShowsTheSimulatedSetOrSaysNoDevice) {
    RunResult run = Run({"probe"});
    ASSERT_EQ(run.exitCode, 0) << run.output;
    EXPECT_TRUE(Contains(run.output, test::MousePath("0e51"))) << run.output;
    EXPECT_TRUE(Contains(run.output, "framing: set output 0x00 64 bytes, get feature"))
        << run.output;
    EXPECT_FALSE(Contains(run.output, "vid_045e")) << run.output;
    EXPECT_TRUE(Contains(Run({"probe", "--json"}).output, "{\"simulated\":true,\"devices\":["));
    const test::ScopedEnv noSim("KVSDK_SIM", std::nullopt);
    const test::ScopedEnv noSysfs("KVSDK_SYSFS_ROOT", test::NativePath(m_sim.Dir().Path()));
    run = Run({"probe"});
    EXPECT_EQ(run.exitCode, 0) << run.output;
    EXPECT_TRUE(Contains(run.output, "No device of vendor 7A3E is attached.")) << run.output;
}

TEST_F(ToolOnSimulatedDevices, VersionIsTheLibrarys) {
    const RunResult run = Run({"--version"});
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_TRUE(Contains(run.output, "kvsdk " + std::to_string(KVSDKENG_VERSION_MAJOR) + "." +
                                         std::to_string(KVSDKENG_VERSION_MINOR) + "." +
                                         std::to_string(KVSDKENG_VERSION_PATCH)))
        << run.output;
}

TEST_F(ToolOnSimulatedDevices, TimelineOfAHostsTrace) {
    ASSERT_EQ(Run({"set", "on", "--product", "vexo_0e51", "--light", "1"}).exitCode, 0);
    const fs::path svg = m_sim.Dir() / "host.svg";
    const RunResult run =
        Run({"timeline", test::NativePath(m_sim.TraceFile()), "--svg", test::NativePath(svg)});
    ASSERT_EQ(run.exitCode, 0) << run.output;
    EXPECT_TRUE(Contains(run.output, "VEXO 0E51")) << run.output;
    const auto segments = Segments(svg);
    EXPECT_EQ(Values(segments, "0E51", "light 0x01", "state"), std::vector<std::string>{"on"});

    EXPECT_EQ(Run({"timeline", test::NativePath(m_sim.Dir() / "missing.txt")}).exitCode, 2);
}

}  // namespace
}  // namespace kvsdk::tool
