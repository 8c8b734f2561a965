#pragma once

#include <windows.h>

// The pictures compiled into the program, loaded once and kept for the run.
HBITMAP SocketPicture();  // 44 x 43, monochrome: black on white
HBITMAP StartPicture();   // 305 x 261, decoded from the JPEG; null if it cannot be
HICON ApplicationIcon(int size);
