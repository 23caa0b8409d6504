#include "tools/kvsdk/Terminal.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#endif

namespace kvsdk::tool {
namespace {

constexpr char kEnter[] = "\x1b[?1049h\x1b[?25l\x1b[H\x1b[2J";  // alternate screen, no cursor
constexpr char kLeave[] = "\x1b[0m\x1b[?25h\x1b[?1049l";

bool IsQuitKey(unsigned ch) {
    return ch == 'q' || ch == 'Q' || ch == 3 || ch == 4;
}

#ifndef _WIN32
// Signals reach the waiting loop through a pipe: 'w' a resize, 'q' a request to end.
int g_signalPipe[2] = {-1, -1};
constexpr int kQuitSignals[] = {SIGINT, SIGTERM, SIGHUP};

void OnSignal(int signal) {
    const int saved = errno;
    const char note = signal == SIGWINCH ? 'w' : 'q';
    [[maybe_unused]] const ssize_t ignored = ::write(g_signalPipe[1], &note, 1);
    errno = saved;
}
#endif

}  // namespace

#ifdef _WIN32

struct CTerminal::Saved {
    HANDLE in = nullptr;
    HANDLE out = nullptr;
    DWORD inMode = 0;
    DWORD outMode = 0;
};

std::unique_ptr<CTerminal> CTerminal::Open(std::string& error) {
    auto saved = std::make_unique<Saved>();
    saved->in = GetStdHandle(STD_INPUT_HANDLE);
    saved->out = GetStdHandle(STD_OUTPUT_HANDLE);
    if (!GetConsoleMode(saved->in, &saved->inMode) ||
        !GetConsoleMode(saved->out, &saved->outMode)) {
        error = "watch needs a console for its input and output";
        return nullptr;
    }
    if (!SetConsoleMode(saved->out, saved->outMode | ENABLE_PROCESSED_OUTPUT |
                                        ENABLE_VIRTUAL_TERMINAL_PROCESSING)) {
        error = "this console does not take control sequences (Windows 10 or later does)";
        return nullptr;
    }
    // No processed input: Ctrl-C arrives as a key.
    SetConsoleMode(saved->in, ENABLE_WINDOW_INPUT | ENABLE_EXTENDED_FLAGS);
    std::unique_ptr<CTerminal> terminal(new CTerminal(std::move(saved)));
    terminal->Write(kEnter);
    return terminal;
}

CTerminal::~CTerminal() {
    Write(kLeave);
    SetConsoleMode(m_saved->in, m_saved->inMode);
    SetConsoleMode(m_saved->out, m_saved->outMode);
}

CTerminal::Size CTerminal::GetSize() const {
    CONSOLE_SCREEN_BUFFER_INFO info{};
    if (!GetConsoleScreenBufferInfo(m_saved->out, &info)) return {};
    return {info.srWindow.Right - info.srWindow.Left + 1,
            info.srWindow.Bottom - info.srWindow.Top + 1};
}

CTerminal::Input CTerminal::Wait(std::chrono::milliseconds timeout) {
    if (WaitForSingleObject(m_saved->in, static_cast<DWORD>(timeout.count())) != WAIT_OBJECT_0) {
        return Input::Nothing;
    }
    INPUT_RECORD records[32];
    DWORD count = 0;
    if (!ReadConsoleInputW(m_saved->in, records, 32, &count)) return Input::Quit;
    Input input = Input::Nothing;
    for (DWORD i = 0; i < count; ++i) {
        const INPUT_RECORD& r = records[i];
        if (r.EventType == KEY_EVENT && r.Event.KeyEvent.bKeyDown &&
            IsQuitKey(r.Event.KeyEvent.uChar.UnicodeChar)) {
            return Input::Quit;
        }
        if (r.EventType == WINDOW_BUFFER_SIZE_EVENT) input = Input::Resized;
    }
    return input;
}

void CTerminal::Write(std::string_view text) {
    DWORD written = 0;
    WriteFile(m_saved->out, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
}

#else

struct CTerminal::Saved {
    termios mode{};
    struct sigaction actions[4]{};
};

std::unique_ptr<CTerminal> CTerminal::Open(std::string& error) {
    auto saved = std::make_unique<Saved>();
    if (!::isatty(0) || !::isatty(1) || ::tcgetattr(0, &saved->mode) != 0) {
        error = "watch needs a terminal for its input and output";
        return nullptr;
    }
    if (::pipe(g_signalPipe) != 0) {
        error = "cannot create a pipe";
        return nullptr;
    }
    for (int fd : g_signalPipe) ::fcntl(fd, F_SETFL, O_NONBLOCK), ::fcntl(fd, F_SETFD, FD_CLOEXEC);
    struct sigaction action {};
    action.sa_handler = OnSignal;
    sigemptyset(&action.sa_mask);
    ::sigaction(SIGWINCH, &action, &saved->actions[0]);
    for (int i = 0; i < 3; ++i) ::sigaction(kQuitSignals[i], &action, &saved->actions[i + 1]);

    // Keys one at a time, without echo; Ctrl-C arrives as a key.
    termios raw = saved->mode;
    raw.c_lflag &= ~static_cast<tcflag_t>(ICANON | ECHO | ISIG | IEXTEN);
    raw.c_iflag &= ~static_cast<tcflag_t>(IXON | ICRNL);
    raw.c_cc[VMIN] = 1;
    raw.c_cc[VTIME] = 0;
    ::tcsetattr(0, TCSANOW, &raw);
    std::unique_ptr<CTerminal> terminal(new CTerminal(std::move(saved)));
    terminal->Write(kEnter);
    return terminal;
}

CTerminal::~CTerminal() {
    Write(kLeave);
    ::tcsetattr(0, TCSANOW, &m_saved->mode);
    ::sigaction(SIGWINCH, &m_saved->actions[0], nullptr);
    for (int i = 0; i < 3; ++i) ::sigaction(kQuitSignals[i], &m_saved->actions[i + 1], nullptr);
    for (int& fd : g_signalPipe) ::close(fd), fd = -1;
}

CTerminal::Size CTerminal::GetSize() const {
    winsize size{};
    if (::ioctl(1, TIOCGWINSZ, &size) != 0 || size.ws_col == 0 || size.ws_row == 0) return {};
    return {size.ws_col, size.ws_row};
}

CTerminal::Input CTerminal::Wait(std::chrono::milliseconds timeout) {
    pollfd fds[2] = {{0, POLLIN, 0}, {g_signalPipe[0], POLLIN, 0}};
    if (::poll(fds, 2, static_cast<int>(timeout.count())) <= 0) return Input::Nothing;
    Input input = Input::Nothing;
    char buffer[64];
    if (fds[1].revents & POLLIN) {
        const ssize_t got = ::read(g_signalPipe[0], buffer, sizeof buffer);
        for (ssize_t i = 0; i < got; ++i) {
            if (buffer[i] == 'q') return Input::Quit;
            input = Input::Resized;
        }
    }
    if (fds[0].revents & (POLLIN | POLLHUP | POLLERR)) {
        const ssize_t got = ::read(0, buffer, sizeof buffer);
        if (got == 0 || (got < 0 && errno != EINTR && errno != EAGAIN)) return Input::Quit;
        for (ssize_t i = 0; i < got; ++i) {
            if (IsQuitKey(static_cast<unsigned char>(buffer[i]))) return Input::Quit;
        }
    }
    return input;
}

void CTerminal::Write(std::string_view text) {
    while (!text.empty()) {
        const ssize_t written = ::write(1, text.data(), text.size());
        if (written < 0 && errno == EINTR) continue;
        if (written <= 0) return;
        text.remove_prefix(static_cast<size_t>(written));
    }
}

#endif

CTerminal::CTerminal(std::unique_ptr<Saved> saved) : m_saved(std::move(saved)) {}

}  // namespace kvsdk::tool
