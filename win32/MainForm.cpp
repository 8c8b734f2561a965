#include "EngineHooks.h"
#include "LostMessages.h"
#include "MessagePath.h"
#include "RoutingDisplay.h"
#include "WindowKeys.h"

#include "Controls.h"
#include "MainForm.h"
#include "MessageLoop.h"
#include "Notices.h"
#include "Pictures.h"
#include "SetupForm.h"
#include "Text.h"

#include <commctrl.h>

TMainForm* MainForm = nullptr;

namespace {

constexpr wchar_t ClassName[] = L"TMainForm";
constexpr UINT_PTR TimerId = 1;
constexpr COLORREF Silver = RGB(192, 192, 192), Yellow = RGB(255, 255, 0);

// What the window paints itself, in creation (and painting) order.
enum class Kind { Lowered, Raised, Lamp, Caption, Digit, Socket, Hint };
struct Painted {
    Kind kind;
    Box box;
    const wchar_t* text = L"";
    int pixels = 0;
    int port = 0;  // lamps
    COLORREF background = 0;
};
constexpr COLORREF Black = RGB(0, 0, 0), Desktop = RGB(0, 128, 128);
const Painted Layout[] = {
    {Kind::Lowered, {16, 48, 225, 65}},
    {Kind::Raised, {8, 16, 241, 249}},
    {Kind::Raised, {8, 275, 241, 41}},
    {Kind::Lamp, {15, 295, 18, 17}, L"", 0, 0},
    {Kind::Lamp, {223, 295, 17, 17}, L"", 0, 5},
    {Kind::Lamp, {47, 295, 17, 17}, L"", 0, 1},
    {Kind::Lamp, {79, 295, 17, 17}, L"", 0, 2},
    {Kind::Lamp, {191, 295, 17, 17}, L"", 0, 4},
    {Kind::Lamp, {159, 295, 17, 17}, L"", 0, 3},
    {Kind::Caption, {16, 280, 81, 13}, L"INS 1-3", 11, 0, Black},
    {Kind::Caption, {160, 280, 81, 13}, L"OUTS 1-3", 11, 0, Black},
    {Kind::Caption, {16, 24, 225, 17}, L"Main MIDI Connections", 13, 0, Black},
    {Kind::Socket, {40, 64, 33, 33}},
    {Kind::Lowered, {16, 120, 225, 65}},
    {Kind::Digit, {22, 136, 16, 34}, L"2", 29},
    {Kind::Socket, {40, 136, 33, 33}},
    {Kind::Lowered, {16, 192, 225, 65}},
    {Kind::Digit, {22, 208, 16, 34}, L"3", 29},
    {Kind::Socket, {40, 208, 33, 33}},
    {Kind::Digit, {22, 64, 16, 34}, L"1", 29},
    {Kind::Raised, {8, 328, 241, 33}},
    // The classic desktop colour stands in for the system's.
    {Kind::Caption, {16, 336, 225, 17}, L"", 13, 0, Desktop},
    {Kind::Hint, {10, 3, 85, 13}, L"Press F2 for setup", 10},
};

const struct {
    Box box;
    const wchar_t* caption;
} CheckBoxes[15] = {{{168, 56, 65, 17}, L"To Out 1"},  {{168, 72, 65, 17}, L"To Out 2"},
                    {{168, 88, 65, 17}, L"To Out 3"},  {{168, 128, 65, 17}, L"To Out 1"},
                    {{168, 144, 65, 17}, L"To Out 2"}, {{168, 160, 65, 17}, L"To Out 3"},
                    {{168, 200, 65, 17}, L"To Out 1"}, {{168, 216, 65, 17}, L"To Out 2"},
                    {{168, 232, 65, 17}, L"To Out 3"}, {{88, 56, 65, 17}, L"AT to PB"},
                    {{88, 72, 65, 17}, L"ChV Only"},   {{88, 144, 65, 17}, L"ChV Only"},
                    {{88, 128, 65, 17}, L"AT to PB"},  {{88, 216, 65, 17}, L"ChV Only"},
                    {{88, 200, 65, 17}, L"AT to PB"}};

void Text(HDC dc, const Box& box, const wchar_t* text, HFONT font, COLORREF colour, UINT format)
{
    RECT rect = box.rect();
    HGDIOBJ old = SelectObject(dc, font);
    SetTextColor(dc, colour);
    SetBkMode(dc, TRANSPARENT);
    DrawTextW(dc, text, -1, &rect, format | DT_SINGLELINE | DT_NOPREFIX);
    SelectObject(dc, old);
}

void Fill(HDC dc, const Box& box, COLORREF colour)
{
    RECT rect = box.rect();
    HBRUSH brush = CreateSolidBrush(colour);
    FillRect(dc, &rect, brush);
    DeleteObject(brush);
}

// Drawn transparent: the white of the picture lets the face show through.
void Socket(HDC dc, const Box& box)
{
    HBITMAP picture = SocketPicture();
    if (!picture)
        return;
    BITMAP size{};
    GetObjectW(picture, sizeof size, &size);
    HDC source = CreateCompatibleDC(dc);
    HGDIOBJ old = SelectObject(source, picture);
    SetTextColor(dc, RGB(0, 0, 0));
    SetBkColor(dc, RGB(255, 255, 255));
    SetStretchBltMode(dc, COLORONCOLOR);
    StretchBlt(dc, box.x, box.y, box.width, box.height, source, 0, 0, size.bmWidth, size.bmHeight, SRCAND);
    SelectObject(source, old);
    DeleteDC(source);
}

void LampHook(int port, bool lit)
{
    if (MainForm)
        MainForm->setLamp(port, lit);
}

bool PreviewMainKey(int key)
{
    if (!IsWindowKey(key))
        return false;
    if (MainForm)
        MainForm->FormKeyDown(key);
    return true;
}

}  // namespace

TMainForm::TMainForm()
{
    RegisterWindowClass(ClassName, &TMainForm::WindowProc, ApplicationIcon(32), ApplicationIcon(16));
    m_window = TopLevelWindow(ClassName, L" Zozuruvav - Roraridov", WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU, 0, 257,
                              369, nullptr, this);
    build();
    SetTimer(m_window, TimerId, 300, nullptr);
    CentreOnScreen(m_window);

    MainForm = this;
    EngineHooks.SetLamp = &LampHook;
    SetKeyPreview(m_window, &PreviewMainKey);
    AttachWakeUp(m_window);
}

TMainForm::~TMainForm()
{
    AttachWakeUp(nullptr);
    SetKeyPreview(m_window, nullptr);
    EngineHooks.SetLamp = nullptr;
    if (MainForm == this)
        MainForm = nullptr;
    KillTimer(m_window, TimerId);
    DestroyWindow(m_toolTip);
    DestroyWindow(m_window);
}

void TMainForm::build()
{
    HFONT font = Font(L"MS Sans Serif", 10);
    SendMessageW(m_window, WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);
    for (size_t i = 0; i < m_checkBoxes.size(); ++i) {
        // Disabled, caption on the left of the box; only CheckBox10 to
        // CheckBox15 keep a tab stop, as the layout has it.
        m_checkBoxes[i] = Control(m_window, L"BUTTON", CheckBoxes[i].caption,
                                  BS_CHECKBOX | BS_LEFTTEXT | WS_DISABLED | (i < 9 ? 0 : WS_TABSTOP),
                                  CheckBoxes[i].box, font, static_cast<int>(i + 1));
    }
    // The lost message count: the window's tooltip wherever the mouse rests,
    // the disabled check boxes included, whose mouse messages the window gets.
    m_toolTip = CreateWindowExW(WS_EX_TOPMOST, TOOLTIPS_CLASSW, nullptr, WS_POPUP | TTS_ALWAYSTIP | TTS_NOPREFIX,
                                CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, m_window, nullptr,
                                GetModuleHandleW(nullptr), nullptr);
    TTTOOLINFOW tool{};
    tool.cbSize = sizeof tool;
    tool.uFlags = TTF_SUBCLASS;
    tool.hwnd = m_window;
    tool.uId = 1;
    GetClientRect(m_window, &tool.rect);
    tool.lpszText = const_cast<wchar_t*>(L"");
    SendMessageW(m_toolTip, TTM_ADDTOOLW, 0, reinterpret_cast<LPARAM>(&tool));
    showLostMessages();
}

void TMainForm::RefreshRoutingDisplay()
{
    const auto boxes = RoutingDisplay();
    for (size_t i = 0; i < boxes.size(); ++i)
        SendMessageW(m_checkBoxes[i], BM_SETCHECK, boxes[i] ? BST_CHECKED : BST_UNCHECKED, 0);
}

void TMainForm::FormKeyDown(int key)
{
    const KeyAction action = MainWindowKey(key);
    if (action == KeyAction::Close)
        SendMessageW(m_window, WM_CLOSE, 0, 0);
    else if (action == KeyAction::OpenSetup)
        ShowSetupDialog(this);
}

void TMainForm::TimerTimer()
{
    DecayActivity();
    showLostMessages();
}

void TMainForm::showLostMessages()
{
    const uint64_t lost = LostMessages();
    if (lost == m_lostShown)
        return;
    m_lostShown = lost;
    const std::wstring text = Wide(LostMessagesText(lost));
    TTTOOLINFOW tool{};
    tool.cbSize = sizeof tool;
    tool.hwnd = m_window;
    tool.uId = 1;
    tool.lpszText = const_cast<wchar_t*>(text.c_str());
    SendMessageW(m_toolTip, TTM_UPDATETIPTEXTW, 0, reinterpret_cast<LPARAM>(&tool));
}

void TMainForm::setLamp(int port, bool lit)
{
    if (m_lit[static_cast<size_t>(port)] == lit)
        return;
    m_lit[static_cast<size_t>(port)] = lit;
    for (const Painted& item : Layout) {
        if (item.kind == Kind::Lamp && item.port == port) {
            const RECT rect = item.box.rect();
            InvalidateRect(m_window, &rect, FALSE);
        }
    }
}

void TMainForm::paint()
{
    PAINTSTRUCT paint;
    HDC dc = BeginPaint(m_window, &paint);
    for (const Painted& item : Layout) {
        RECT rect = item.box.rect();
        switch (item.kind) {
        case Kind::Lowered:
            DrawEdge(dc, &rect, BDR_SUNKENOUTER, BF_RECT);
            break;
        case Kind::Raised:
            DrawEdge(dc, &rect, BDR_RAISEDINNER, BF_RECT);
            break;
        case Kind::Lamp: {
            HBRUSH brush = CreateSolidBrush(m_lit[static_cast<size_t>(item.port)] ? Yellow : Silver);
            HGDIOBJ oldBrush = SelectObject(dc, brush);
            HGDIOBJ oldPen = SelectObject(dc, GetStockObject(BLACK_PEN));
            Ellipse(dc, rect.left, rect.top, rect.right, rect.bottom);
            SelectObject(dc, oldPen);
            SelectObject(dc, oldBrush);
            DeleteObject(brush);
            break;
        }
        case Kind::Caption:
            Fill(dc, item.box, item.background);
            Text(dc, item.box, item.text, Font(L"MS Sans Serif", item.pixels, true), RGB(255, 255, 255), DT_CENTER | DT_TOP);
            break;
        case Kind::Digit:
            Text(dc, item.box, item.text, Font(L"Arial", item.pixels, true), RGB(0, 0, 0), DT_LEFT | DT_BOTTOM);
            break;
        case Kind::Socket:
            Socket(dc, item.box);
            break;
        case Kind::Hint:
            // Sized to its text.
            Text(dc, item.box, item.text, Font(L"MS Sans Serif", item.pixels), RGB(128, 128, 128),
                 DT_LEFT | DT_TOP | DT_NOCLIP);
            break;
        }
    }
    EndPaint(m_window, &paint);
}

LRESULT CALLBACK TMainForm::WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    auto* self = WindowObject<TMainForm>(window, message, lParam);
    switch (message) {
    case WM_PAINT:
        self->paint();
        return 0;
    case WM_TIMER:
        if (wParam == TimerId)
            self->TimerTimer();
        return 0;
    case WakeUpMessage:
        // The loops pass it to the engine before it gets here; inside a
        // message box it is only taken.
        WakeUpTaken();
        return 0;
    case WM_CTLCOLORSTATIC:
        return reinterpret_cast<LRESULT>(GetSysColorBrush(COLOR_BTNFACE));
    case WM_CLOSE:
        // Ends the main loop but stays on the screen while the ports close.
        PostQuitMessage(0);
        return 0;
    default:
        return DefWindowProcW(window, message, wParam, lParam);
    }
}
