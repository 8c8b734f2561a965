#pragma once

#include "MidiDeviceService.h"

#include <array>
#include <atomic>
#include <bit>
#include <cstddef>
#include <cstdint>

// Ports are numbered in one order everywhere: input 1, 2, 3, then output
// 1, 2, 3 (port index 0 to 5). Per-input and per-output arrays are indexed
// from 0, so input n and output n use element n-1.
inline constexpr int PortCount = 6;
inline constexpr int InputPort(int n) { return n - 1; }
inline constexpr int OutputPort(int n) { return n + 2; }

// The settings record. The options file is its byte image, so the fields,
// their widths and their order are fixed.
struct TRoutingOptions {
    int32_t InSelect[3];   // selection index saved per input
    int32_t OutSelect[3];  // selection index saved per output
    int32_t RouteMask[3];  // per input: bit k-1 routes to output k
    uint8_t AtToPb[3];     // per input: channel pressure becomes pitch bend
    uint8_t ChVoiceOnly[3];  // per input: system messages dropped at capture
    uint8_t Reserved[2];   // kept as loaded, written back unchanged
};

static_assert(sizeof(TRoutingOptions) == 44);
static_assert(offsetof(TRoutingOptions, InSelect) == 0);
static_assert(offsetof(TRoutingOptions, OutSelect) == 12);
static_assert(offsetof(TRoutingOptions, RouteMask) == 24);
static_assert(offsetof(TRoutingOptions, AtToPb) == 36);
static_assert(offsetof(TRoutingOptions, ChVoiceOnly) == 39);
static_assert(offsetof(TRoutingOptions, Reserved) == 42);
static_assert(std::endian::native == std::endian::little,
              "the options file is the little-endian image of the settings record");

extern TRoutingOptions RoutingOptions;

// Selection index open on each port, in port order; 0 means closed.
extern int32_t OpenSelection[PortCount];

// Device handle of each port, meaningful only while its OpenSelection is not 0.
extern MidiHandle DeviceHandles[PortCount];

// Routing is read on device threads (the flags at capture, and the whole
// rule where the service sends from its capture callback) while the setup
// dialog writes it, so every access goes through these: atomic views of the
// plain record. Sequentially consistent, so that a change made before the
// main thread waits for the capture callbacks is seen by every later one.
inline bool ChannelVoiceOnly(int input)
{
    return std::atomic_ref<uint8_t>(RoutingOptions.ChVoiceOnly[input - 1]).load() != 0;
}

inline void SetChannelVoiceOnly(int input, bool on)
{
    std::atomic_ref<uint8_t>(RoutingOptions.ChVoiceOnly[input - 1]).store(on ? 1 : 0);
}

inline int32_t RouteMaskOf(int input)
{
    return std::atomic_ref<int32_t>(RoutingOptions.RouteMask[input - 1]).load();
}

inline void SetRouteMask(int input, int32_t mask)
{
    std::atomic_ref<int32_t>(RoutingOptions.RouteMask[input - 1]).store(mask);
}

inline bool PressureToBend(int input)
{
    return std::atomic_ref<uint8_t>(RoutingOptions.AtToPb[input - 1]).load() != 0;
}

inline void SetPressureToBend(int input, bool on)
{
    std::atomic_ref<uint8_t>(RoutingOptions.AtToPb[input - 1]).store(on ? 1 : 0);
}

// Input n's five settings in the order the windows show them: routed to
// output 1, 2 and 3 (the low three bits of its mask), pressure to bend,
// channel voice only.
inline std::array<bool, 5> InputSettings(int n)
{
    const int32_t mask = RouteMaskOf(n);
    return {(mask & 1) != 0, (mask & 2) != 0, (mask & 4) != 0, PressureToBend(n),
            ChannelVoiceOnly(n)};
}
