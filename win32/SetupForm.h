#pragma once

#include "CheckList.h"
#include "DeviceList.h"
#include "TypeToFind.h"

#include <windows.h>

#include <array>

class TMainForm;

// The modal dialog in which the six devices are chosen and the routing is
// edited. Every change takes effect at once; only the save button writes the
// options file. Esc or F2 closes it and keeps everything as it stands.
class TSetupForm {
public:
    explicit TSetupForm(HWND owner);
    ~TSetupForm();
    TSetupForm(const TSetupForm&) = delete;
    TSetupForm& operator=(const TSetupForm&) = delete;

    HWND window() const { return m_window; }

    void Input1ComboBoxChange() { deviceChange(m_inputs[0]); }
    void Input2ComboBoxChange() { deviceChange(m_inputs[1]); }
    void Input3ComboBoxChange() { deviceChange(m_inputs[2]); }
    void Out1ComboBoxChange() { deviceChange(m_outputs[0]); }
    void Out2ComboBoxChange() { deviceChange(m_outputs[1]); }
    void Out3ComboBoxChange() { deviceChange(m_outputs[2]); }
    void CheckListBox1ClickCheck() { ApplyRoutingChecks(); }
    void CheckListBox2ClickCheck() { ApplyRoutingChecks(); }
    void CheckListBox3ClickCheck() { ApplyRoutingChecks(); }
    void Button1Click();
    // Virtual key codes: 27 Esc and 113 F2 close the dialog.
    void FormKeyDown(int key);

    void ApplyRoutingChecks();
    // The device lists as the engine has them now.
    void RefreshDeviceLists();

    // Runs the dialog's own loop until Esc or F2.
    void showModal();

private:
    static LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    LRESULT command(WORD id, WORD code);
    LRESULT notify(NMHDR* header);
    void build();
    void deviceChange(DeviceList& list);

    HWND m_window = nullptr;
    HWND m_owner = nullptr;
    HWND m_toolTip = nullptr;
    std::array<DeviceList, 3> m_inputs{};
    std::array<DeviceList, 3> m_outputs{};
    std::array<CheckList, 3> m_checkLists{};
    TypeToFind m_typeToFind;
    bool m_done = false;
};

extern TSetupForm* SetupForm;

// Installed as the engine's hook for devices that come and go: an open
// dialog follows.
void FollowDeviceChanges();

// What F2 in the main window does: a fresh dialog, shown modally, destroyed
// when it closes.
void ShowSetupDialog(TMainForm* owner);
