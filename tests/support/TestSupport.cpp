#include "tests/support/TestSupport.h"

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <future>
#include <memory>
#include <thread>
#include <random>
#include <sstream>

#ifdef _WIN32
#include <windows.h>
#endif

#include "common/Strings.h"

namespace kvsdk::test {

namespace fs = std::filesystem;

TempDir::TempDir() {
    static std::atomic<unsigned> counter{0};
    std::random_device rd;
    const auto stamp = std::chrono::steady_clock::now().time_since_epoch().count();
    for (int attempt = 0; attempt < 100; ++attempt) {
        std::ostringstream name;
        name << "kvsdk-test-" << rd() << "-" << stamp << "-" << counter++;
        fs::path candidate = fs::temp_directory_path() / name.str();
        std::error_code ec;
        if (fs::create_directory(candidate, ec)) {
            m_path = candidate;
            return;
        }
    }
    throw std::runtime_error("cannot create a scratch folder");
}

bool FinishesWithin(std::chrono::milliseconds limit, std::function<void()> action) {
    auto done = std::make_shared<std::promise<void>>();
    std::future<void> finished = done->get_future();
    std::thread([done, action = std::move(action)] {
        action();
        done->set_value();
    }).detach();
    return finished.wait_for(limit) == std::future_status::ready;
}

TempDir::~TempDir() {
    std::error_code ec;
    fs::remove_all(m_path, ec);
}

void SetEnv(const std::string& name, const std::optional<std::string>& value) {
#ifdef _WIN32
    const std::wstring wname = FromUtf8(name);
    if (value) {
        SetEnvironmentVariableW(wname.c_str(), FromUtf8(*value).c_str());
        _wputenv_s(wname.c_str(), FromUtf8(*value).c_str());
    } else {
        SetEnvironmentVariableW(wname.c_str(), nullptr);
        _wputenv_s(wname.c_str(), L"");
    }
#else
    if (value) {
        setenv(name.c_str(), value->c_str(), 1);
    } else {
        unsetenv(name.c_str());
    }
#endif
}

std::optional<std::string> GetEnv(const std::string& name) {
    auto value = GetEnvironmentString(FromUtf8(name).c_str());
    if (!value) return std::nullopt;
    return ToUtf8(*value);
}

ScopedEnv::ScopedEnv(const std::string& name, const std::optional<std::string>& value)
    : m_name(name), m_previous(GetEnv(name)) {
    SetEnv(name, value);
}

ScopedEnv::~ScopedEnv() {
    SetEnv(m_name, m_previous);
}

void WriteTextFile(const fs::path& path, const std::string& text) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << text;
}

std::string ReadTextFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return {};
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

std::string NativePath(const fs::path& path) {
#ifdef _WIN32
    return ToUtf8(path.wstring());
#else
    return path.string();
#endif
}

std::vector<TraceLine> ReadTrace(const fs::path& path) {
    std::vector<TraceLine> lines;
    std::istringstream in(ReadTextFile(path));
    std::string raw;
    while (std::getline(in, raw)) {
        if (!raw.empty() && raw.back() == '\r') raw.pop_back();
        if (raw.empty()) continue;
        TraceLine line;
        line.raw = raw;
        std::istringstream fields(raw);
        fields >> line.ms >> line.op >> line.path;
        const auto eq = raw.rfind(" = ");
        if (eq != std::string::npos) {
            line.result = raw.substr(eq + 3);
            const auto pathEnd = raw.find(line.path) + line.path.size();
            if (pathEnd < eq) {
                line.details = raw.substr(pathEnd + 1, eq - pathEnd - 1);
            }
        }
        lines.push_back(line);
    }
    return lines;
}

std::vector<TraceLine> Filter(const std::vector<TraceLine>& lines, const std::string& op,
                              const std::string& path) {
    std::vector<TraceLine> out;
    for (const auto& line : lines) {
        if (line.op != op) continue;
        if (!path.empty() && !EqualsIgnoreCase(line.path, path)) continue;
        out.push_back(line);
    }
    return out;
}

SimEnvironment::SimEnvironment(const std::string& simFileText)
    : m_sim(m_dir / "devices.sim"),
      m_trace(m_dir / "trace.txt"),
      m_simEnv("KVSDK_SIM", NativePath(m_dir / "devices.sim")),
      m_traceEnv("KVSDK_SIM_TRACE", NativePath(m_dir / "trace.txt")) {
    WriteTextFile(m_sim, simFileText);
}

SimEnvironment::~SimEnvironment() = default;

void SimEnvironment::Rewrite(const std::string& simFileText) {
    WriteTextFile(m_sim, simFileText);
}

std::string MousePath(const std::string& pid, const std::string& instance, const std::string& mi) {
    return "\\\\?\\hid#vid_7a3e&pid_" + pid + "&mi_" + mi + "#" + instance +
           "#{378de44c-56ef-11d1-bc8c-00a0c91405dd}";
}

std::string KeyboardPath(const std::string& pid, const std::string& mi,
                         const std::string& instance) {
    return "\\\\?\\hid#vid_7a3e&pid_" + pid + "&mi_" + mi + "#" + instance +
           "#{884b96c3-56ef-11d1-bc8c-00a0c91405dd}";
}

std::string UsbPath(const std::string& pid, const std::string& instance) {
    return "\\\\?\\usb#vid_7a3e&pid_" + pid + "#" + instance +
           "#{a5dcbf10-6530-11d2-901f-00c04fb951ed}";
}

}  // namespace kvsdk::test
