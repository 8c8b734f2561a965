#pragma once

#include "WindowKeys.h"

#include <QKeyEvent>

// A Qt key as the windows' virtual key code, 0 for the keys they do not use.

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
