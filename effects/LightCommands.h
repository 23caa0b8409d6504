// Device command bytes. Every light command starts with the command id, the command class, the
// storage byte and the light id; multi-byte data go high byte first.
#pragma once

#include <cstdint>

namespace kvsdk::cmd {

// Command classes.
inline constexpr uint8_t kClassLight = 0x03;
inline constexpr uint8_t kClassDevice = 0x08;

// Storage byte: the live value, or the setting stored in the device.
inline constexpr uint8_t kStorageLive = 0x00;
inline constexpr uint8_t kStorageStored = 0x01;

// Light command ids (class 0x03).
inline constexpr uint8_t kLightState = 0x00;       // + state (1 on, 0 off)          5 bytes
inline constexpr uint8_t kLightColor = 0x01;       // + red, green, blue             7 bytes
inline constexpr uint8_t kLightMode = 0x02;        // + mode (0, 1, 2, 4)            5 bytes
inline constexpr uint8_t kLightBrightness = 0x03;  // + brightness 0..255            5 bytes
inline constexpr uint8_t kLightBlink = 0x04;       // + off time, on time            6 bytes
inline constexpr uint8_t kLightModeParams = 0x05;  // + param1, percent, param2, param3 (16-bit)

// Device command ids (class 0x08).
inline constexpr uint8_t kDeviceMode = 0x01;  // + device mode (1 or 2), 0x02    4 bytes
inline constexpr uint8_t kDeviceModeTail = 0x02;

// Device modes selected by the device-mode command.
inline constexpr uint8_t kDeviceMode1 = 1;
inline constexpr uint8_t kDeviceMode2 = 2;

// Device blink timing: payload byte 4 is the low 8 bits of the off time, byte 5 the low 8 bits
// of the on time, each as the host gave it in milliseconds.

// Light state values.
inline constexpr uint8_t kStateOff = 0x00;
inline constexpr uint8_t kStateOn = 0x01;

// Lighting modes.
inline constexpr uint8_t kMode0 = 0;
inline constexpr uint8_t kMode1 = 1;
inline constexpr uint8_t kMode2 = 2;
inline constexpr uint8_t kMode4 = 4;

// Length of the read-back exchange: a light command head (id, class, storage, light id) and
// its value.
inline constexpr uint32_t kExchangeLength = 5;

// Tunnel writes of the USB device 0E5B.
inline constexpr uint8_t kTunnelCode60 = 0x60;
inline constexpr uint8_t kTunnelCode61 = 0x61;
inline constexpr uint8_t kTunnelCode62 = 0x62;
inline constexpr uint8_t kTunnelArg = 2;
inline constexpr int kTunnelDataLength = 3;

}  // namespace kvsdk::cmd
