#pragma once

#include <windows.h>

#include <string>

// Positions and sizes in pixels, as the layouts state them.
struct Box {
    int x, y, width, height;
    RECT rect() const { return {x, y, x + width, y + height}; }
};

// A font by its face and its character height in pixels, made once and kept
// for the whole run.
HFONT Font(const wchar_t* face, int pixels, bool bold = false);

// A child control of `parent` at `box`, in `font`; `id` is what its
// notifications carry.
HWND Control(HWND parent, const wchar_t* className, const std::wstring& text, DWORD style, Box box, HFONT font,
             int id = 0, DWORD extendedStyle = 0);

// The width `text` takes in `font`.
int TextWidth(HWND window, HFONT font, const std::wstring& text);

// Centres a top-level window on the screen's work area.
void CentreOnScreen(HWND window);

// Registers a window class with the button-face background and the arrow
// cursor, once per class however often it is called.
void RegisterWindowClass(const wchar_t* className, WNDPROC procedure, HICON icon = nullptr,
                         HICON smallIcon = nullptr);

// A top-level window whose client area is `width` by `height`.
HWND TopLevelWindow(const wchar_t* className, const wchar_t* caption, DWORD style, DWORD extendedStyle, int width,
                    int height, HWND owner, void* self);

// The object a window procedure belongs to, stored at WM_NCCREATE.
template <typename T>
T* WindowObject(HWND window, UINT message, LPARAM lParam)
{
    if (message == WM_NCCREATE) {
        auto* self = static_cast<T*>(reinterpret_cast<CREATESTRUCTW*>(lParam)->lpCreateParams);
        SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(self));
        return self;
    }
    return reinterpret_cast<T*>(GetWindowLongPtrW(window, GWLP_USERDATA));
}

// A drop-down list, typed.
class ComboBox {
public:
    explicit ComboBox(HWND window = nullptr) : m_window(window) {}
    HWND window() const { return m_window; }
    int count() const { return static_cast<int>(SendMessageW(m_window, CB_GETCOUNT, 0, 0)); }
    int selected() const { return static_cast<int>(SendMessageW(m_window, CB_GETCURSEL, 0, 0)); }
    void select(int index) const { SendMessageW(m_window, CB_SETCURSEL, static_cast<WPARAM>(index), 0); }
    bool dropped() const { return SendMessageW(m_window, CB_GETDROPPEDSTATE, 0, 0) != 0; }

private:
    HWND m_window;
};
