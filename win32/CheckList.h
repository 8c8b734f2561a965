#pragma once

#include <windows.h>

#include <array>

// A check list: an owner-drawn list box whose items carry a check box. A
// left click on an item's check box toggles it (each click of a
// double-click too), a click on its text only selects it, and Space toggles
// the selected item. A toggle tells the parent with WM_COMMAND and the code
// below, the new state already stored.
inline constexpr WORD CheckListClickCheck = 0x7F01;

class CheckList {
public:
    CheckList() = default;
    CheckList(HWND parent, int id, RECT box, HFONT font, const char* const (&items)[5], const std::array<bool, 5>& checks);

    HWND window() const { return m_window; }
    bool checked(int item) const;
    // The parent's WM_DRAWITEM for this list.
    static void Draw(const DRAWITEMSTRUCT& item);
    // The item's check box, in the list's client coordinates.
    static RECT CheckBoxRect(RECT item);

private:
    static LRESULT CALLBACK SubclassProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR id,
                                         DWORD_PTR data);
    static void Toggle(HWND window, int item);

    HWND m_window = nullptr;
};
