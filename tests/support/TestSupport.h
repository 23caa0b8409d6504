// Helpers shared by the test suites: scratch folders, environment variables, simulated device
// files and the device trace.
#pragma once

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace kvsdk::test {

// A fresh folder under the system's temporary folder, removed with the object.
class TempDir {
  public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::filesystem::path& Path() const { return m_path; }
    std::filesystem::path operator/(const std::string& name) const { return m_path / name; }

  private:
    std::filesystem::path m_path;
};

// Sets (or with nullopt unsets) an environment variable for the process; on Windows both the
// process environment block and the C runtime's copy. Restores the previous value on destruction.
class ScopedEnv {
  public:
    ScopedEnv(const std::string& name, const std::optional<std::string>& value);
    ~ScopedEnv();
    ScopedEnv(const ScopedEnv&) = delete;
    ScopedEnv& operator=(const ScopedEnv&) = delete;

  private:
    std::string m_name;
    std::optional<std::string> m_previous;
};
void SetEnv(const std::string& name, const std::optional<std::string>& value);
std::optional<std::string> GetEnv(const std::string& name);

// Runs 'action' on a thread of its own and answers whether it finished within 'limit'. A hang
// fails the test instead of stalling the suite: the thread is then left behind, detached, so
// 'action' must own (copy) whatever it uses.
bool FinishesWithin(std::chrono::milliseconds limit, std::function<void()> action);

void WriteTextFile(const std::filesystem::path& path, const std::string& text);
std::string ReadTextFile(const std::filesystem::path& path);  // empty when missing

// The path as the platform's native file APIs take it (UTF-8).
std::string NativePath(const std::filesystem::path& path);

// One line of the device trace: "<ms> <op> <PATH> <details> = <result>".
struct TraceLine {
    uint64_t ms = 0;
    std::string op;
    std::string path;
    std::string details;  // everything between the path and " = "
    std::string result;
    std::string raw;
};
std::vector<TraceLine> ReadTrace(const std::filesystem::path& path);
// Only the lines of one operation ("set", "get", ...), optionally of one path (any case).
std::vector<TraceLine> Filter(const std::vector<TraceLine>& lines, const std::string& op,
                              const std::string& path = "");

// A simulated device set and trace in a scratch folder, wired through KVSDK_SIM and
// KVSDK_SIM_TRACE for the lifetime of the object.
class SimEnvironment {
  public:
    explicit SimEnvironment(const std::string& simFileText);
    ~SimEnvironment();
    void Rewrite(const std::string& simFileText);
    std::vector<TraceLine> Trace() const { return ReadTrace(m_trace); }
    const std::filesystem::path& SimFile() const { return m_sim; }
    const std::filesystem::path& TraceFile() const { return m_trace; }
    const TempDir& Dir() const { return m_dir; }

  private:
    TempDir m_dir;
    std::filesystem::path m_sim;
    std::filesystem::path m_trace;
    ScopedEnv m_simEnv;
    ScopedEnv m_traceEnv;
};

// Standard interface paths of the simulated devices, as Windows reports them.
std::string MousePath(const std::string& pid, const std::string& instance = "1",
                      const std::string& mi = "00");
std::string KeyboardPath(const std::string& pid, const std::string& mi,
                         const std::string& instance = "1");
std::string UsbPath(const std::string& pid, const std::string& instance = "1");

}  // namespace kvsdk::test
