#pragma once

#include <string>

// How the engine reaches the windows without depending on them: start-up
// installs these; until then lamps and notices do nothing and wake-ups are
// skipped (entries wait in the ring for the next drain).

struct TEngineHooks {
    // Main thread: port index in port order; lit is yellow, out is silver.
    void (*SetLamp)(int port, bool lit) = nullptr;
    // Main thread: a modal notice that returns once the user dismisses it.
    void (*ShowErrorNotice)(const char* text, const char* caption) = nullptr;
    // Main thread: the device lists grew or a device came or went.
    void (*DevicesChanged)() = nullptr;
};

extern TEngineHooks EngineHooks;

// What a capture callback wakes: posting must not allocate, lock or block.
class WakeUpTarget {
public:
    virtual void Post() noexcept = 0;

protected:
    ~WakeUpTarget() = default;
};

// Main thread. Once it returns, no device thread will post to the old target
// after its current post (close the inputs first when taking a target away).
void SetWakeUpTarget(WakeUpTarget* target);

// Device thread.
void PostWakeUp() noexcept;

// An error the program detected itself: shown through the notice hook, the
// caller waits until it is dismissed.
void ErrorNotice(const char* text, const char* caption);
// The same, about one port: `subject` names it and its device ("output 2,
// device \"synth:in\"") for whoever shows the notice, while it is shown.
void ErrorNotice(const char* text, const char* caption, const std::string& subject);
// The subject of the notice being shown; empty when it is about no one port.
const std::string& NoticeSubject();

// Marks a notice as up for its lifetime. Wake-ups taken while any notice is
// up are consumed without a drain; when the last notice goes, one drain runs
// so that nothing captured meanwhile waits for the next message.
class NoticeScope {
public:
    NoticeScope();
    ~NoticeScope();
    NoticeScope(const NoticeScope&) = delete;
    NoticeScope& operator=(const NoticeScope&) = delete;
};

bool NoticeShowing();

// Back to no hooks, no wake-up target and no notice up.
void ResetEngineHooks();
