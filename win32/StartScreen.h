#pragma once

#include <windows.h>

// The picture that stands in the middle of the screen while the program
// starts. A click on it closes it early.
class TStartScreen {
public:
    TStartScreen();
    ~TStartScreen();
    TStartScreen(const TStartScreen&) = delete;
    TStartScreen& operator=(const TStartScreen&) = delete;

    HWND window() const { return m_window; }
    void Image1Click();

private:
    static LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    void paint();

    HWND m_window = nullptr;
};

extern TStartScreen* StartScreen;

// Creates the start screen, centres it and paints it at once, so it shows
// while the start-up steps run without an event loop.
void ShowStartScreen();
void CloseStartScreen();
