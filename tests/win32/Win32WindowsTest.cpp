#include "EngineFixture.h"
#include "MessagePath.h"
#include "MidiPorts.h"
#include "RoutingSettings.h"
#include "SoundingNotes.h"

#include "MainForm.h"
#include "MessageLoop.h"
#include "SetupForm.h"

#include <commctrl.h>

#include <chrono>
#include <memory>

// The Win32 windows over the in-memory service, driven by the messages the
// system would send them. Needs a display: under wine, scripts/wine-e2e
// runs it on its own.
namespace {

using Strings = std::vector<std::string>;

class Win32Windows : public EngineFixture {
protected:
    void SetUp() override
    {
        const INITCOMMONCONTROLSEX controls{sizeof(INITCOMMONCONTROLSEX), ICC_STANDARD_CLASSES | ICC_WIN95_CLASSES};
        InitCommonControlsEx(&controls);
        EngineFixture::SetUp();
        form = std::make_unique<TMainForm>();
        dialog = std::make_unique<TSetupForm>(form->window());
    }

    void TearDown() override
    {
        CloseAllDevices();
        dialog.reset();
        form.reset();
        EngineFixture::TearDown();
    }

    HWND control(int id) const { return GetDlgItem(dialog->window(), id); }
    bool mainBox(int number) const
    {
        return SendMessageW(GetDlgItem(form->window(), number), BM_GETCHECK, 0, 0) == BST_CHECKED;
    }
    int shown(int id) const { return static_cast<int>(SendMessageW(control(id), CB_GETCURSEL, 0, 0)); }

    // A left click (or double-click) at `x` pixels into item `item` of a list.
    void click(HWND list, int item, int x, bool twice = false) const
    {
        RECT rect{};
        SendMessageW(list, LB_GETITEMRECT, static_cast<WPARAM>(item), reinterpret_cast<LPARAM>(&rect));
        const LPARAM at = MAKELPARAM(rect.left + x, (rect.top + rect.bottom) / 2);
        SendMessageW(list, WM_LBUTTONDOWN, MK_LBUTTON, at);
        SendMessageW(list, WM_LBUTTONUP, 0, at);
        if (twice) {
            SendMessageW(list, WM_LBUTTONDBLCLK, MK_LBUTTON, at);
            SendMessageW(list, WM_LBUTTONUP, 0, at);
        }
    }

    void type(int id, const std::wstring& text) const
    {
        for (wchar_t c : text)
            SendMessageW(control(id), WM_CHAR, c, 0);
    }

    // Runs the program's loop until `done` holds, for at most 20 s.
    static void pumpUntil(bool (*done)())
    {
        static bool (*condition)();
        static std::chrono::steady_clock::time_point deadline;
        static bool stop;
        condition = done;
        deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
        stop = false;
        const UINT_PTR timer = SetTimer(nullptr, 0, 10, [](HWND, UINT, UINT_PTR, DWORD) {
            stop = condition() || std::chrono::steady_clock::now() > deadline;
        });
        RunMessageLoop(&stop);
        KillTimer(nullptr, timer);
    }

    // A real left click at a screen position, through the system's input.
    static void clickAt(int x, int y)
    {
        SetCursorPos(x, y);
        INPUT input[2]{};
        input[0].type = input[1].type = INPUT_MOUSE;
        input[0].mi.dwFlags = MOUSEEVENTF_LEFTDOWN;
        input[1].mi.dwFlags = MOUSEEVENTF_LEFTUP;
        SendInput(2, input, sizeof(INPUT));
    }

    std::unique_ptr<TMainForm> form;
    std::unique_ptr<TSetupForm> dialog;
};

TEST_F(Win32Windows, CheckListsToggleOnTheBoxOrSpaceAndTheMainWindowFollows)
{
    HWND input2 = control(202);
    click(input2, 1, 40);  // on the text: selected only
    EXPECT_EQ(1, SendMessageW(input2, LB_GETCURSEL, 0, 0));
    EXPECT_EQ(0, RouteMaskOf(2));
    click(input2, 1, 6);  // on the box
    EXPECT_EQ(2, RouteMaskOf(2));
    EXPECT_TRUE(mainBox(5));
    click(input2, 4, 6, true);  // each click of a double-click toggles
    EXPECT_FALSE(ChannelVoiceOnly(2));
    SendMessageW(input2, WM_CHAR, L' ', 0);  // Space toggles the selected item
    EXPECT_TRUE(ChannelVoiceOnly(2));
    EXPECT_TRUE(mainBox(12));
    EXPECT_FALSE(mainBox(4));
}

TEST_F(Win32Windows, DeviceListsFindTypedNamesReopenOnBackspaceAndFallBack)
{
    type(101, L"keys b");  // one prefix, case ignored
    EXPECT_EQ(2, shown(101));
    EXPECT_EQ(2, OpenSelection[InputPort(1)]);
    fake.clearCalls();
    SendMessageW(control(101), WM_CHAR, L'\b', 0);
    EXPECT_EQ((Strings{"close in 1", "open in 1", "start in 1"}), fake.calls());

    // Output 2 on a device held elsewhere: closed, and the list says so.
    fake.holdElsewhere(FakeDeviceService::Kind::Output, 2);
    type(105, L"d");
    EXPECT_EQ(0, shown(105));
    EXPECT_EQ(0, OpenSelection[OutputPort(2)]);
    ASSERT_EQ(1u, notices().size());
    EXPECT_EQ("Errorr: The specified resource is already allocated.", notices()[0].text);
}

TEST_F(Win32Windows, AnEntryPickedWithTheMouseOpensItsDeviceOnce)
{
    ShowWindow(dialog->window(), SW_SHOW);
    HWND list = control(102);
    RECT box{};
    GetWindowRect(list, &box);
    clickAt((box.left + box.right) / 2, (box.top + box.bottom) / 2);
    static HWND dropped;
    dropped = list;
    pumpUntil([] { return SendMessageW(dropped, CB_GETDROPPEDSTATE, 0, 0) != 0; });
    ASSERT_TRUE(SendMessageW(list, CB_GETDROPPEDSTATE, 0, 0));
    fake.clearCalls();
    // Entry 3 of the open list, "Pads".
    const int height = static_cast<int>(SendMessageW(list, CB_GETITEMHEIGHT, 0, 0));
    clickAt((box.left + box.right) / 2, box.bottom + 1 + 3 * height + height / 2);
    pumpUntil([] { return OpenSelection[InputPort(2)] != 0; });
    pumpUntil([] { return SendMessageW(dropped, CB_GETDROPPEDSTATE, 0, 0) == 0; });
    EXPECT_EQ(3, OpenSelection[InputPort(2)]);
    EXPECT_EQ(3, shown(102));
    EXPECT_EQ((Strings{"open in 2", "start in 2"}), fake.calls());
}

TEST_F(Win32Windows, AWakeUpReachesTheLoopAndRoutesWhatWasCaptured)
{
    SelectInput(1, 1);
    SelectOutput(1, 1);
    SetRouting(1, 1, false, false);
    play(0, {Msg(0x90, 60, 100)});
    // The loop passes the posted wake-up to the engine before dispatch.
    static FakeDeviceService* service;
    service = &fake;
    pumpUntil([] { return !service->sent(0).empty(); });
    EXPECT_EQ((std::vector<uint32_t>{Msg(0x90, 60, 100)}), fake.sent(0));
}

}  // namespace
