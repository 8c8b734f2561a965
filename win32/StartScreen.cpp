#include "StartScreen.h"

#include "Controls.h"
#include "Pictures.h"

TStartScreen* StartScreen = nullptr;

namespace {

constexpr wchar_t ClassName[] = L"TStartScreen";
constexpr Box Image1{4, 4, 304, 258};

}  // namespace

TStartScreen::TStartScreen()
{
    RegisterWindowClass(ClassName, &TStartScreen::WindowProc);
    // The caption is never seen: the window has no title bar.
    m_window = TopLevelWindow(ClassName, L"About", WS_POPUP, WS_EX_TOPMOST | WS_EX_TOOLWINDOW, 312, 266, nullptr, this);
}

TStartScreen::~TStartScreen()
{
    DestroyWindow(m_window);
}

void TStartScreen::Image1Click()
{
    ShowWindow(m_window, SW_HIDE);
}

void TStartScreen::paint()
{
    PAINTSTRUCT paint;
    HDC dc = BeginPaint(m_window, &paint);
    // Panel1: a raised edge, the picture inside its border of 3.
    RECT panel{0, 0, 312, 266};
    DrawEdge(dc, &panel, BDR_RAISEDINNER, BF_RECT);
    if (HBITMAP picture = StartPicture()) {
        BITMAP size{};
        GetObjectW(picture, sizeof size, &size);
        HDC source = CreateCompatibleDC(dc);
        HGDIOBJ old = SelectObject(source, picture);
        SetStretchBltMode(dc, HALFTONE);
        StretchBlt(dc, Image1.x, Image1.y, Image1.width, Image1.height, source, 0, 0, size.bmWidth, size.bmHeight,
                   SRCCOPY);
        SelectObject(source, old);
        DeleteDC(source);
    }
    EndPaint(m_window, &paint);
}

LRESULT CALLBACK TStartScreen::WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    auto* self = WindowObject<TStartScreen>(window, message, lParam);
    switch (message) {
    case WM_PAINT:
        self->paint();
        return 0;
    case WM_LBUTTONUP: {
        const POINT at{static_cast<short>(LOWORD(lParam)), static_cast<short>(HIWORD(lParam))};
        const RECT image = Image1.rect();
        if (PtInRect(&image, at))
            self->Image1Click();
        return 0;
    }
    default:
        return DefWindowProcW(window, message, wParam, lParam);
    }
}

void ShowStartScreen()
{
    StartScreen = new TStartScreen;
    CentreOnScreen(StartScreen->window());
    ShowWindow(StartScreen->window(), SW_SHOWNOACTIVATE);
    UpdateWindow(StartScreen->window());
}

void CloseStartScreen()
{
    if (!StartScreen)
        return;
    ShowWindow(StartScreen->window(), SW_HIDE);
    delete StartScreen;
    StartScreen = nullptr;
}
