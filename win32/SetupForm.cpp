#include "DeviceLists.h"
#include "OptionsFile.h"
#include "RoutingDisplay.h"
#include "WindowKeys.h"

#include "Controls.h"
#include "MainForm.h"
#include "MessageLoop.h"
#include "Notices.h"
#include "SetupForm.h"
#include "Text.h"

#include <commctrl.h>

#include <algorithm>
#include <string>
#include <vector>

TSetupForm* SetupForm = nullptr;

namespace {

constexpr wchar_t ClassName[] = L"TSetupForm";
constexpr int Input1Id = 101, Out1Id = 104, CheckList1Id = 201, Button1Id = 301;
constexpr int ListItemHeight = 13, BoxFieldHeight = 15;

// The two group boxes' origins: their controls are the dialog's own
// children, placed by the group's position plus theirs.
constexpr POINT Devices{8, 8}, Thru{248, 8};

Box In(POINT group, Box box)
{
    return {group.x + box.x, group.y + box.y, box.width, box.height};
}

bool PreviewDialogKey(int key)
{
    if (!IsWindowKey(key))
        return false;
    if (SetupForm)
        SetupForm->FormKeyDown(key);
    return true;
}

}  // namespace

TSetupForm::TSetupForm(HWND owner) : m_owner(owner)
{
    RegisterWindowClass(ClassName, &TSetupForm::WindowProc);
    // A title bar with no buttons at all, always on top.
    m_window = TopLevelWindow(ClassName, L" MIDI Setup Dialog", WS_POPUP | WS_CAPTION, WS_EX_TOPMOST | WS_EX_DLGMODALFRAME,
                              377, 361, owner, this);
    build();
}

TSetupForm::~TSetupForm()
{
    if (SetupForm == this)
        SetupForm = nullptr;
    DestroyWindow(m_toolTip);
    DestroyWindow(m_window);
}

void TSetupForm::build()
{
    HFONT font = Font(L"MS Sans Serif", 11);
    SendMessageW(m_window, WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);
    const auto label = [&](POINT group, Box box, const wchar_t* text) {
        // Sized to its text, so a wider substitute font does not cut it.
        box.width = std::max(box.width, TextWidth(m_window, font, text));
        return Control(m_window, L"STATIC", text, SS_LEFT | SS_NOPREFIX, In(group, box), font);
    };
    std::vector<HWND> labels = {
        label(Devices, {8, 16, 59, 13}, L"MIDI Input 1"),  label(Devices, {8, 56, 59, 13}, L"MIDI Input 2"),
        label(Devices, {8, 96, 59, 13}, L"MIDI Input 3"),  label(Devices, {8, 176, 67, 13}, L"MIDI Output 1"),
        label(Devices, {8, 216, 67, 13}, L"MIDI Output 2"), label(Devices, {8, 256, 67, 13}, L"MIDI Output 3"),
        label(Thru, {8, 16, 33, 13}, L"Input 1"),           label(Thru, {8, 112, 33, 13}, L"Input 2"),
        label(Thru, {8, 208, 33, 13}, L"Input 3"),
    };
    labels.push_back(Control(m_window, L"STATIC", L"", SS_ETCHEDHORZ, In(Devices, {8, 160, 217, 2}), font));  // Bevel1

    const Box inputBoxes[3] = {{8, 32, 217, 21}, {8, 72, 217, 21}, {8, 112, 217, 21}};
    const Box outputBoxes[3] = {{8, 192, 217, 21}, {8, 232, 217, 21}, {8, 272, 217, 21}};
    for (int n = 1; n <= 3; ++n) {
        m_inputs[n - 1].create(m_window, Input1Id + n - 1, In(Devices, inputBoxes[n - 1]), font, true, n, m_typeToFind);
        m_outputs[n - 1].create(m_window, Out1Id + n - 1, In(Devices, outputBoxes[n - 1]), font, false, n,
                                m_typeToFind);
    }
    HWND save = Control(m_window, L"BUTTON", L"Save as \"Deffault\"", BS_PUSHBUTTON | WS_TABSTOP, {8, 328, 361, 25},
                        Font(L"MS Sans Serif", 11, true), Button1Id);
    const RoutingChecks checks = CurrentRoutingChecks();
    const int listTops[3] = {32, 128, 224};
    for (size_t i = 0; i < 3; ++i) {
        const Box box = In(Thru, {8, listTops[i], 105, 73});
        m_checkLists[i] = CheckList(m_window, CheckList1Id + static_cast<int>(i), box.rect(), font, CheckListItems,
                                    checks[i]);
    }
    HWND devices = Control(m_window, L"BUTTON", L"MIDI In/Out Devices Setup", BS_GROUPBOX | WS_CLIPSIBLINGS,
                           {Devices.x, Devices.y, 233, 305}, font);
    HWND thru = Control(m_window, L"BUTTON", L"MIDI THRU Settings", BS_GROUPBOX | WS_CLIPSIBLINGS,
                        {Thru.x, Thru.y, 121, 305}, font);

    // Tab order is the order from the top: the devices group's lists in
    // their own order, the save button, the thru group's lists; then what
    // takes no focus, the group boxes at the bottom so they paint first.
    std::vector<HWND> order = {m_inputs[0].box().window(),  m_outputs[0].box().window(), m_outputs[1].box().window(),
                               m_inputs[1].box().window(),  m_inputs[2].box().window(),  m_outputs[2].box().window(),
                               save,
                               m_checkLists[0].window(),    m_checkLists[1].window(),    m_checkLists[2].window()};
    order.insert(order.end(), labels.begin(), labels.end());
    order.push_back(devices);
    order.push_back(thru);
    HWND above = HWND_TOP;
    for (HWND control : order) {
        SetWindowPos(control, above, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
        above = control;
    }

    // The whole name of the device shown, on hover.
    m_toolTip = CreateWindowExW(WS_EX_TOPMOST, TOOLTIPS_CLASSW, nullptr, WS_POPUP | TTS_ALWAYSTIP | TTS_NOPREFIX,
                                CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, m_window, nullptr,
                                GetModuleHandleW(nullptr), nullptr);
    for (const auto* lists : {&m_inputs, &m_outputs}) {
        for (const DeviceList& list : *lists) {
            TTTOOLINFOW tool{};
            tool.cbSize = sizeof tool;
            tool.uFlags = TTF_IDISHWND | TTF_SUBCLASS;
            tool.hwnd = m_window;
            tool.uId = reinterpret_cast<UINT_PTR>(list.box().window());
            tool.lpszText = LPSTR_TEXTCALLBACKW;
            SendMessageW(m_toolTip, TTM_ADDTOOLW, 0, reinterpret_cast<LPARAM>(&tool));
        }
    }
}

void TSetupForm::deviceChange(DeviceList& list)
{
    list.box().select(ChooseDevice(list.input(), list.port(), list.box().selected()));
}

void TSetupForm::RefreshDeviceLists()
{
    for (const auto* lists : {&m_inputs, &m_outputs}) {
        for (const DeviceList& list : *lists)
            list.refresh();
    }
}

void FollowDeviceChanges()
{
    if (SetupForm)
        SetupForm->RefreshDeviceLists();
}

void TSetupForm::ApplyRoutingChecks()
{
    RoutingChecks checks{};
    for (size_t n = 0; n < 3; ++n) {
        for (int item = 0; item < 5; ++item)
            checks[n][static_cast<size_t>(item)] = m_checkLists[n].checked(item);
    }
    ::ApplyRoutingChecks(checks);
    if (MainForm)
        MainForm->RefreshRoutingDisplay();
}

void TSetupForm::Button1Click()
{
    RunHandler([] { SaveOptions(); });
}

void TSetupForm::FormKeyDown(int key)
{
    if (SetupDialogKey(key) == KeyAction::Close)
        m_done = true;
}

void TSetupForm::showModal()
{
    CentreOnScreen(m_window);
    EnableWindow(m_owner, FALSE);
    SetDialogWindow(m_window);
    SetKeyPreview(m_window, &PreviewDialogKey);
    ShowWindow(m_window, SW_SHOW);
    SetFocus(m_inputs[0].box().window());
    RunMessageLoop(&m_done);
    // The owner is enabled before the dialog goes, so it becomes active again.
    EnableWindow(m_owner, TRUE);
    ShowWindow(m_window, SW_HIDE);
    SetKeyPreview(m_window, nullptr);
    SetDialogWindow(nullptr);
}

LRESULT TSetupForm::command(WORD id, WORD code)
{
    if (id >= Input1Id && id < Input1Id + 6) {
        DeviceList& list = id < Out1Id ? m_inputs[id - Input1Id] : m_outputs[id - Out1Id];
        const ComboBox box = list.box();
        // A pick in the drop-down ends with SELENDOK; the arrow keys on the
        // closed box change the selection alone.
        if (code == CBN_SELENDOK || code == DeviceListChosen ||
            (code == CBN_SELCHANGE && !box.dropped() && box.selected() != ShownDevice(list.input(), list.port())))
            deviceChange(list);
    } else if (id >= CheckList1Id && id < CheckList1Id + 3 && code == CheckListClickCheck) {
        ApplyRoutingChecks();
    } else if (id == Button1Id && code == BN_CLICKED) {
        Button1Click();
    }
    return 0;
}

LRESULT TSetupForm::notify(NMHDR* header)
{
    if (header->code != TTN_GETDISPINFOW)
        return 0;
    static std::wstring tip;
    auto* info = reinterpret_cast<NMTTDISPINFOW*>(header);
    for (const auto* lists : {&m_inputs, &m_outputs}) {
        for (const DeviceList& list : *lists) {
            if (reinterpret_cast<HWND>(header->idFrom) == list.box().window()) {
                tip = list.shownName();
                info->lpszText = tip.data();
            }
        }
    }
    return 0;
}

LRESULT CALLBACK TSetupForm::WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    auto* self = WindowObject<TSetupForm>(window, message, lParam);
    switch (message) {
    case WM_MEASUREITEM: {
        auto* item = reinterpret_cast<MEASUREITEMSTRUCT*>(lParam);
        item->itemHeight = (item->CtlType == ODT_COMBOBOX && item->itemID == static_cast<UINT>(-1)) ? BoxFieldHeight
                                                                                                     : ListItemHeight;
        return TRUE;
    }
    case WM_DRAWITEM: {
        const auto* item = reinterpret_cast<const DRAWITEMSTRUCT*>(lParam);
        if (item->CtlType == ODT_COMBOBOX)
            DeviceList::Draw(*item);
        else if (item->CtlType == ODT_LISTBOX)
            CheckList::Draw(*item);
        return TRUE;
    }
    case WM_COMMAND:
        if (self && lParam) {
            LRESULT result = 0;
            RunHandler([&] { result = self->command(LOWORD(wParam), HIWORD(wParam)); });
            return result;
        }
        return 0;
    case WM_NOTIFY:
        return self ? self->notify(reinterpret_cast<NMHDR*>(lParam)) : 0;
    case WM_CTLCOLORSTATIC:
    case WM_CTLCOLORBTN:
        return reinterpret_cast<LRESULT>(GetSysColorBrush(COLOR_BTNFACE));
    case WM_CLOSE:
        return 0;
    default:
        return DefWindowProcW(window, message, wParam, lParam);
    }
}

void ShowSetupDialog(TMainForm* owner)
{
    TSetupForm dialog(owner->window());
    SetupForm = &dialog;
    dialog.showModal();
}
