// The simulated device set named by KVSDK_SIM: one interface per line,
//   <class> <path> [<key>=<value> ...]
// read afresh at every use. Shared by the engine (interface enumeration) and the device-I/O
// library (virtual devices).
#pragma once

#include <array>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "common/Win32Types.h"

namespace kvsdk::sim {

enum class InterfaceClass { Mouse, Keyboard, Usb };

using RegisterKey = std::array<uint8_t, 4>;

struct SimInterface {
    InterfaceClass interfaceClass = InterfaceClass::Mouse;
    std::wstring path;                         // exactly as written in the file
    HRESULT initResult = 0;                    // init=H
    HRESULT getResult = 0;                     // get=H
    HRESULT setResult = 0;                     // set=H
    bool connectResult = true;                 // connect=B
    int tunnelResult = 0;                      // tunnel=N
    uint32_t setDelayMs = 0;                   // setdelay=MS (decimal)
    std::map<RegisterKey, uint8_t> registers;  // reg.KKKKKKKK=VV
};

// Parses the text of a simulated device file. Lines that cannot be parsed are skipped; each
// skipped line is reported through 'warnings' (one message per line) when it is not null.
std::vector<SimInterface> ParseSimFile(const std::string& text,
                                       std::vector<std::string>* warnings = nullptr);

// Reads the file that KVSDK_SIM names. nullopt when KVSDK_SIM is not set. When it is set but
// the file cannot be read (missing, not a regular file, or larger than 4 MiB; a FIFO or a device
// there is refused without blocking), the simulated set is empty: no real device is listed then
// either.
// Unparsable lines are reported on standard error. 'sourcePath', when not null, receives the
// value of KVSDK_SIM that was read.
std::optional<std::vector<SimInterface>> LoadSimFile(std::wstring* sourcePath = nullptr);

// The interface class GUID for a simulated class, and back.
const GUID& ClassGuid(InterfaceClass cls);
std::optional<InterfaceClass> ClassFromGuid(const GUID& guid);

}  // namespace kvsdk::sim
