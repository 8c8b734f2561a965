#pragma once

#include "Controls.h"
#include "TypeToFind.h"

#include <windows.h>

// A device drop-down of the setup dialog: the engine's list for one port,
// long names cut in the middle (the whole name is the box's tooltip), no
// free text. Typing the start of a name picks that entry and Backspace
// re-chooses the entry shown; either tells the parent with WM_COMMAND and
// the code below, as the user's choice.
inline constexpr WORD DeviceListChosen = 0x7F02;

class DeviceList {
public:
    // Made in place: the list's window keeps the object's address.
    void create(HWND parent, int id, Box box, HFONT font, bool input, int n, TypeToFind& search);

    ComboBox box() const { return ComboBox(m_window); }
    bool input() const { return m_input; }
    int port() const { return m_n; }
    // Brings the entries up to the engine's list and shows the entry open now.
    void refresh() const;
    // The whole text of the entry shown.
    std::wstring shownName() const;
    // The parent's WM_DRAWITEM for this list.
    static void Draw(const DRAWITEMSTRUCT& item);

private:
    static LRESULT CALLBACK SubclassProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR id,
                                         DWORD_PTR data);

    HWND m_window = nullptr;
    bool m_input = true;
    int m_n = 1;
    TypeToFind* m_search = nullptr;
};
