#pragma once

#include <windows.h>

#include <array>
#include <cstdint>

// The main window: shows the routing read-only and the six lamps, puts the
// lamps out on its timer, takes Esc and F2, and is the target of the
// wake-ups. Closing it ends the main loop but leaves it on the screen until
// the program has shut down.
class TMainForm {
public:
    TMainForm();
    ~TMainForm();
    TMainForm(const TMainForm&) = delete;
    TMainForm& operator=(const TMainForm&) = delete;

    HWND window() const { return m_window; }

    // Sets the fifteen check boxes from the settings.
    void RefreshRoutingDisplay();
    // Virtual key codes: 27 Esc, 113 F2; modifiers are not looked at.
    void FormKeyDown(int key);
    void TimerTimer();
    void setLamp(int port, bool lit);

private:
    static LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    void build();
    void paint();
    void showLostMessages();

    HWND m_window = nullptr;
    HWND m_toolTip = nullptr;
    std::array<HWND, 15> m_checkBoxes{};  // CheckBox1 .. CheckBox15
    std::array<bool, 6> m_lit{};          // port order
    uint64_t m_lostShown = UINT64_MAX;
};

extern TMainForm* MainForm;
