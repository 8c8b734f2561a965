#include "WindowKeys.h"

#include "Panic.h"

bool IsWindowKey(int key)
{
    return key == VirtualKeyEscape || key == VirtualKeyF2 || key == VirtualKeyF9;
}

KeyAction MainWindowKey(int key)
{
    if (key == VirtualKeyF9)
        SendPanic();
    return key == VirtualKeyEscape ? KeyAction::Close : key == VirtualKeyF2 ? KeyAction::OpenSetup : KeyAction::None;
}

KeyAction SetupDialogKey(int key)
{
    if (key == VirtualKeyF9)
        SendPanic();
    return key == VirtualKeyEscape || key == VirtualKeyF2 ? KeyAction::Close : KeyAction::None;
}
