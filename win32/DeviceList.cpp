#include "DeviceLists.h"
#include "MiddleCut.h"

#include "DeviceList.h"
#include "Text.h"

#include <commctrl.h>

#include <algorithm>
#include <vector>

namespace {

// The widest entry a drop-down shows, about twice its box.
constexpr int WidestEntry = 420;

int Measure(HDC dc, const std::string& text)
{
    const std::wstring wide = Wide(text);
    SIZE size{};
    GetTextExtentPoint32W(dc, wide.c_str(), static_cast<int>(wide.size()), &size);
    return size.cx;
}

}  // namespace

void DeviceList::create(HWND parent, int id, Box box, HFONT font, bool input, int n, TypeToFind& search)
{
    m_input = input;
    m_n = n;
    m_search = &search;
    // The height given is that of the box and its drop-down together.
    box.height = 21 + 8 * 13;
    m_window = Control(parent, L"COMBOBOX", L"",
                       CBS_DROPDOWNLIST | CBS_OWNERDRAWFIXED | CBS_HASSTRINGS | WS_VSCROLL | WS_TABSTOP, box, font, id);
    SetWindowSubclass(m_window, &DeviceList::SubclassProc, 1, reinterpret_cast<DWORD_PTR>(this));
    refresh();
}

void DeviceList::refresh() const
{
    const auto count = static_cast<int32_t>(DeviceNames(m_input).size());
    int widest = 0;
    HDC dc = GetDC(m_window);
    HGDIOBJ old = SelectObject(dc, reinterpret_cast<HFONT>(SendMessageW(m_window, WM_GETFONT, 0, 0)));
    for (int32_t selection = 0; selection < count; ++selection) {
        const std::wstring text = Wide(DeviceEntryText(m_input, selection));
        if (selection < box().count()) {
            SendMessageW(m_window, CB_DELETESTRING, static_cast<WPARAM>(selection), 0);
            SendMessageW(m_window, CB_INSERTSTRING, static_cast<WPARAM>(selection), reinterpret_cast<LPARAM>(text.c_str()));
        } else {
            SendMessageW(m_window, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(text.c_str()));
        }
        widest = std::max(widest, std::min(WidestEntry, Measure(dc, Utf8(text))));
    }
    SelectObject(dc, old);
    ReleaseDC(m_window, dc);
    // The drop-down may be wider than its box, up to the widest entry.
    SendMessageW(m_window, CB_SETDROPPEDWIDTH, static_cast<WPARAM>(widest + GetSystemMetrics(SM_CXVSCROLL) + 8), 0);
    box().select(ShownDevice(m_input, m_n));
}

std::wstring DeviceList::shownName() const
{
    const int index = box().selected();
    if (index < 0)
        return {};
    const auto length = SendMessageW(m_window, CB_GETLBTEXTLEN, static_cast<WPARAM>(index), 0);
    std::wstring text(static_cast<size_t>(length > 0 ? length : 0) + 1, L'\0');
    SendMessageW(m_window, CB_GETLBTEXT, static_cast<WPARAM>(index), reinterpret_cast<LPARAM>(text.data()));
    text.resize(static_cast<size_t>(length > 0 ? length : 0));
    return text;
}

void DeviceList::Draw(const DRAWITEMSTRUCT& item)
{
    HDC dc = item.hDC;
    const bool selected = (item.itemState & ODS_SELECTED) != 0;
    FillRect(dc, &item.rcItem, GetSysColorBrush(selected ? COLOR_HIGHLIGHT : COLOR_WINDOW));
    if (item.itemID == static_cast<UINT>(-1))
        return;
    const auto length = SendMessageW(item.hwndItem, CB_GETLBTEXTLEN, item.itemID, 0);
    std::wstring text(static_cast<size_t>(length > 0 ? length : 0) + 1, L'\0');
    SendMessageW(item.hwndItem, CB_GETLBTEXT, item.itemID, reinterpret_cast<LPARAM>(text.data()));
    text.resize(static_cast<size_t>(length > 0 ? length : 0));
    RECT rect = item.rcItem;
    rect.left += 2;
    // In the box the entry is cut to the box; in the drop-down to its widest.
    const bool inBox = (item.itemState & ODS_COMBOBOXEDIT) != 0;
    const int width = inBox ? static_cast<int>(rect.right - rect.left - 2) : WidestEntry;
    const std::wstring shown = Wide(CutInTheMiddle(Utf8(text), width, [dc](const std::string& part) {
        return Measure(dc, part);
    }));
    SetBkMode(dc, TRANSPARENT);
    SetTextColor(dc, GetSysColor(selected ? COLOR_HIGHLIGHTTEXT : COLOR_WINDOWTEXT));
    DrawTextW(dc, shown.c_str(), -1, &rect, DT_SINGLELINE | DT_VCENTER | DT_NOPREFIX);
    if ((item.itemState & ODS_FOCUS) && inBox)
        DrawFocusRect(dc, &item.rcItem);
}

LRESULT CALLBACK DeviceList::SubclassProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR,
                                          DWORD_PTR data)
{
    auto* self = reinterpret_cast<DeviceList*>(data);
    const auto chosen = [window] {
        SendMessageW(GetParent(window), WM_COMMAND, MAKEWPARAM(GetDlgCtrlID(window), DeviceListChosen),
                     reinterpret_cast<LPARAM>(window));
    };
    switch (message) {
    case WM_CHAR:
        // Backspace re-chooses the entry shown: the port closes and opens again.
        if (wParam == L'\b') {
            chosen();
            return 0;
        }
        // Typed text belongs to the search alone, spaces included.
        if (wParam >= L' ' && !(wParam >= 0xD800 && wParam <= 0xDFFF)) {
            std::vector<std::string> entries;
            const auto count = static_cast<int32_t>(DeviceNames(self->m_input).size());
            for (int32_t selection = 0; selection < count; ++selection)
                entries.push_back(DeviceEntryText(self->m_input, selection));
            const int found = self->m_search->find(self, Utf8(std::wstring(1, static_cast<wchar_t>(wParam))),
                                                   self->box().selected(), entries);
            if (found >= 0) {
                self->box().select(found);
                chosen();
            }
            return 0;
        }
        break;
    case WM_NCDESTROY:
        RemoveWindowSubclass(window, &DeviceList::SubclassProc, 1);
        break;
    }
    return DefSubclassProc(window, message, wParam, lParam);
}
