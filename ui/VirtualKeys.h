#pragma once

#include <QKeyEvent>

// The windows act on the keys' virtual key codes alone, whatever the
// modifiers: 27 for Esc, 113 for F2, 120 for F9, 0 for the keys they do
// not use.
inline constexpr int VirtualKeyEscape = 27;
inline constexpr int VirtualKeyF2 = 113;
inline constexpr int VirtualKeyF9 = 120;

inline int VirtualKeyCode(const QKeyEvent* event)
{
    switch (event->key()) {
    case Qt::Key_Escape:
        return VirtualKeyEscape;
    case Qt::Key_F2:
        return VirtualKeyF2;
    case Qt::Key_F9:
        return VirtualKeyF9;
    default:
        return 0;
    }
}
