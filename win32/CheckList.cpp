#include "CheckList.h"

#include "Controls.h"
#include "Text.h"

#include <commctrl.h>

namespace {

constexpr int ItemHeight = 13;

}  // namespace

CheckList::CheckList(HWND parent, int id, RECT box, HFONT font, const char* const (&items)[5],
                     const std::array<bool, 5>& checks)
{
    m_window = Control(parent, L"LISTBOX", L"",
                       LBS_OWNERDRAWFIXED | LBS_HASSTRINGS | LBS_NOTIFY | LBS_NOINTEGRALHEIGHT | WS_VSCROLL |
                           WS_TABSTOP,
                       {box.left, box.top, box.right - box.left, box.bottom - box.top}, font, id, WS_EX_CLIENTEDGE);
    SendMessageW(m_window, LB_SETITEMHEIGHT, 0, ItemHeight);
    for (size_t i = 0; i < 5; ++i) {
        const auto index = SendMessageW(m_window, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(Wide(items[i]).c_str()));
        SendMessageW(m_window, LB_SETITEMDATA, static_cast<WPARAM>(index), checks[i] ? 1 : 0);
    }
    SetWindowSubclass(m_window, &CheckList::SubclassProc, 1, 0);
}

bool CheckList::checked(int item) const
{
    return SendMessageW(m_window, LB_GETITEMDATA, static_cast<WPARAM>(item), 0) == 1;
}

RECT CheckList::CheckBoxRect(RECT item)
{
    return {item.left + 1, item.top, item.left + 1 + ItemHeight, item.top + ItemHeight};
}

void CheckList::Draw(const DRAWITEMSTRUCT& item)
{
    if (item.itemID == static_cast<UINT>(-1))
        return;
    HDC dc = item.hDC;
    const bool selected = (item.itemState & ODS_SELECTED) != 0;
    FillRect(dc, &item.rcItem, GetSysColorBrush(COLOR_WINDOW));
    RECT box = CheckBoxRect(item.rcItem);
    InflateRect(&box, -1, -1);
    DrawFrameControl(dc, &box, DFC_BUTTON,
                     DFCS_BUTTONCHECK | DFCS_FLAT | (item.itemData == 1 ? DFCS_CHECKED : 0));
    RECT text = item.rcItem;
    text.left += ItemHeight + 3;
    wchar_t buffer[64] = {};
    SendMessageW(item.hwndItem, LB_GETTEXT, item.itemID, reinterpret_cast<LPARAM>(buffer));
    SIZE size{};
    GetTextExtentPoint32W(dc, buffer, lstrlenW(buffer), &size);
    RECT highlight{text.left, text.top, text.left + size.cx + 4, text.bottom};
    FillRect(dc, &highlight, GetSysColorBrush(selected ? COLOR_HIGHLIGHT : COLOR_WINDOW));
    SetBkMode(dc, TRANSPARENT);
    SetTextColor(dc, GetSysColor(selected ? COLOR_HIGHLIGHTTEXT : COLOR_WINDOWTEXT));
    text.left += 2;
    DrawTextW(dc, buffer, -1, &text, DT_SINGLELINE | DT_VCENTER | DT_NOPREFIX);
    if (item.itemState & ODS_FOCUS)
        DrawFocusRect(dc, &highlight);
}

void CheckList::Toggle(HWND window, int item)
{
    const LRESULT state = SendMessageW(window, LB_GETITEMDATA, static_cast<WPARAM>(item), 0);
    SendMessageW(window, LB_SETITEMDATA, static_cast<WPARAM>(item), state == 1 ? 0 : 1);
    RECT rect{};
    SendMessageW(window, LB_GETITEMRECT, static_cast<WPARAM>(item), reinterpret_cast<LPARAM>(&rect));
    InvalidateRect(window, &rect, FALSE);
    const int id = GetDlgCtrlID(window);
    SendMessageW(GetParent(window), WM_COMMAND, MAKEWPARAM(id, CheckListClickCheck), reinterpret_cast<LPARAM>(window));
}

LRESULT CALLBACK CheckList::SubclassProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR, DWORD_PTR)
{
    switch (message) {
    case WM_LBUTTONDOWN:
    case WM_LBUTTONDBLCLK: {
        const LRESULT result = DefSubclassProc(window, WM_LBUTTONDOWN, wParam, lParam);
        const POINT at{static_cast<short>(LOWORD(lParam)), static_cast<short>(HIWORD(lParam))};
        const LRESULT hit = SendMessageW(window, LB_ITEMFROMPOINT, 0, lParam);
        const int item = LOWORD(hit);
        if (HIWORD(hit) == 0) {
            RECT rect{};
            SendMessageW(window, LB_GETITEMRECT, static_cast<WPARAM>(item), reinterpret_cast<LPARAM>(&rect));
            const RECT box = CheckBoxRect(rect);
            if (PtInRect(&box, at))
                Toggle(window, item);
        }
        return result;
    }
    case WM_CHAR:
        if (wParam == L' ') {
            const auto selected = static_cast<int>(SendMessageW(window, LB_GETCURSEL, 0, 0));
            if (selected >= 0)
                Toggle(window, selected);
            return 0;
        }
        break;
    case WM_NCDESTROY:
        RemoveWindowSubclass(window, &CheckList::SubclassProc, 1);
        break;
    }
    return DefSubclassProc(window, message, wParam, lParam);
}
