#pragma once

// The router over a real JACK server of the test's own: small JACK clients
// play keyboards and synths; the test's loop takes the wake-ups the way the
// main loop does.

#include "EngineHooks.h"
#include "EngineReset.h"
#include "JackDeviceService.h"
#include "JackPeer.h"
#include "JackServer.h"
#include "MessagePath.h"
#include "MidiPorts.h"
#include "Patience.h"
#include "RoutingSettings.h"
#include "SynthModel.h"

#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

using Bytes = std::vector<uint8_t>;

inline std::vector<std::pair<std::string, std::string>> Notices;

class OverJack : public ::testing::Test {
protected:
    void SetUp() override { startServer(256); }

    // Each test starts with a server of its own; one that needs another
    // period starts it again before its first client. jackd runs realtime,
    // so that a machine busy with other work does not make the clients miss
    // cycles (and their messages).
    void startServer(int period)
    {
        server.reset();
        server = std::make_unique<JackServer>(period, true);
        ASSERT_TRUE(server->running()) << server->failure();
        ResetEngine();
        Notices.clear();
        EngineHooks.ShowErrorNotice = [](const char* text, const char* caption) { Notices.emplace_back(text, caption); };
    }

    void TearDown() override
    {
        if (DeviceService)
            CloseAllDevices();
        DeviceService = nullptr;
        router.reset();
        ResetEngine();
        peers.clear();
        server.reset();
    }

    JackPeer& peer(const std::string& name, bool keyboard, bool synth, const std::string& suffix = "")
    {
        peers.push_back(std::make_unique<JackPeer>(name, keyboard, synth, suffix));
        EXPECT_TRUE(peers.back()->ok()) << name;
        return *peers.back();
    }

    void startRouter()
    {
        router.reset(OpenJackDeviceService("Roraridov"));
        ASSERT_NE(nullptr, router);
        DeviceService = router.get();
        EnumerateDevices();
    }

    // Opens the keyboard on input n and the synth on output k, and routes
    // the one to the other.
    static void Route(const JackPeer& keyboard, int n, const JackPeer& synth, int k)
    {
        SelectInput(n, InputOf(keyboard));
        SelectOutput(k, OutputOf(synth));
        SetRouteMask(n, RouteMaskOf(n) | 1 << (k - 1));
    }
    static int32_t InputOf(const JackPeer& keyboard) { return PositionIn(InDeviceNames, keyboard.keyboardPort()); }
    static int32_t OutputOf(const JackPeer& synth) { return PositionIn(OutDeviceNames, synth.synthPort()); }

    // Takes wake-ups, as the main loop would, until the condition holds.
    template <typename Condition>
    static bool WaitFor(Condition done, int deadlineMs = PatienceMs)
    {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(deadlineMs);
        while (!done()) {
            if (std::chrono::steady_clock::now() > deadline)
                return false;
            bool handled = false;
            ApplicationMessage(WakeUpMessage, handled);
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        return true;
    }

    // Lets whatever is still on its way to the synth arrive: takes wake-ups
    // until nothing has come for a while.
    static void Settle(JackPeer& synth)
    {
        size_t seen = SIZE_MAX;
        while (seen != synth.received().size()) {
            seen = synth.received().size();
            WaitFor([] { return false; }, 100);
        }
    }

    static bool Prime(JackPeer& keyboard, std::initializer_list<JackPeer*> synths)
    {
        return PrimePath(keyboard, synths, [](const std::function<bool()>& done, int ms) { return WaitFor(done, ms); });
    }

    // The notes and pedals still held by what the synth heard so far.
    static std::string LeftSounding(JackPeer& synth)
    {
        SynthModel model;
        for (const auto& event : synth.received())
            model.hear(event.bytes);
        return model.leftSounding();
    }

    static std::vector<Bytes> BytesOf(JackPeer& synth)
    {
        std::vector<Bytes> result;
        for (const auto& event : synth.received())
            result.push_back(event.bytes);
        return result;
    }

    std::unique_ptr<JackServer> server;
    std::vector<std::unique_ptr<JackPeer>> peers;
    std::unique_ptr<MidiDeviceService> router;
};
