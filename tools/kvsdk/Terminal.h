// The terminal 'kvsdk watch' draws on: the alternate screen without a cursor, keys read one at a
// time. Everything is put back as it was when the object goes, also after Ctrl-C (which
// arrives as a key) and after a hang-up or termination signal.
#pragma once

#include <chrono>
#include <memory>
#include <string>
#include <string_view>

namespace kvsdk::tool {

class CTerminal {
  public:
    // nullptr, with the reason in 'error', when standard input and output are not a terminal
    // that takes control sequences.
    static std::unique_ptr<CTerminal> Open(std::string& error);
    ~CTerminal();
    CTerminal(const CTerminal&) = delete;
    CTerminal& operator=(const CTerminal&) = delete;

    struct Size {
        int cols = 80;
        int rows = 24;
    };
    Size GetSize() const;

    enum class Input { Nothing, Quit, Resized };
    // Waits at most 'timeout' for a key or a resize: q, Q, Ctrl-C and Ctrl-D quit.
    Input Wait(std::chrono::milliseconds timeout);
    void Write(std::string_view text);

  private:
    struct Saved;
    explicit CTerminal(std::unique_ptr<Saved> saved);
    std::unique_ptr<Saved> m_saved;
};

}  // namespace kvsdk::tool
