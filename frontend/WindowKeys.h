#pragma once

// The keys the windows act on, by their virtual key codes, whatever the
// modifiers: Esc, F2 and F9.
inline constexpr int VirtualKeyEscape = 27;
inline constexpr int VirtualKeyF2 = 113;
inline constexpr int VirtualKeyF9 = 120;

// What is left for a window to do about a key once the rule has acted.
enum class KeyAction { None, Close, OpenSetup };

// Whether a window takes this key before its controls see it.
bool IsWindowKey(int key);
// The main window: Esc quits, F2 opens the setup dialog, F9 sends the panic
// (here).
KeyAction MainWindowKey(int key);
// The setup dialog: Esc and F2 close it, F9 sends the panic (here).
KeyAction SetupDialogKey(int key);
