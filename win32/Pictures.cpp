#include "Pictures.h"

#include "Resources.h"

#include <ole2.h>
#include <olectl.h>

HBITMAP SocketPicture()
{
    static HBITMAP picture = static_cast<HBITMAP>(
        LoadImageW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDB_SOCKET), IMAGE_BITMAP, 0, 0, LR_DEFAULTCOLOR));
    return picture;
}

namespace {

// The system's own picture decoder reads the JPEG from a stream over a copy
// of the resource.
HBITMAP DecodeStartPicture()
{
    HINSTANCE module = GetModuleHandleW(nullptr);
    HRSRC found = FindResourceW(module, MAKEINTRESOURCEW(IDR_START_PICTURE), MAKEINTRESOURCEW(10));  // RT_RCDATA
    HGLOBAL loaded = found ? LoadResource(module, found) : nullptr;
    const DWORD size = found ? SizeofResource(module, found) : 0;
    if (!loaded || size == 0)
        return nullptr;
    HGLOBAL copy = GlobalAlloc(GMEM_MOVEABLE, size);
    if (!copy)
        return nullptr;
    CopyMemory(GlobalLock(copy), LockResource(loaded), size);
    GlobalUnlock(copy);
    IStream* stream = nullptr;
    if (FAILED(CreateStreamOnHGlobal(copy, TRUE, &stream))) {
        GlobalFree(copy);
        return nullptr;
    }
    IPicture* picture = nullptr;
    HBITMAP bitmap = nullptr;
    if (SUCCEEDED(OleLoadPicture(stream, static_cast<LONG>(size), FALSE, IID_IPicture,
                                 reinterpret_cast<void**>(&picture)))) {
        OLE_HANDLE handle = 0;
        picture->get_Handle(&handle);
        // A copy of our own: the picture's bitmap goes with the picture.
        bitmap = static_cast<HBITMAP>(
            CopyImage(reinterpret_cast<HANDLE>(static_cast<UINT_PTR>(handle)), IMAGE_BITMAP, 0, 0, 0));
        picture->Release();
    }
    stream->Release();
    return bitmap;
}

}  // namespace

HBITMAP StartPicture()
{
    static HBITMAP picture = DecodeStartPicture();
    return picture;
}

HICON ApplicationIcon(int size)
{
    return static_cast<HICON>(LoadImageW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDI_APPLICATION_ICON), IMAGE_ICON,
                                         size, size, LR_DEFAULTCOLOR | LR_SHARED));
}
