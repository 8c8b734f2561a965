#pragma once

// Shared by the resource script and the code that loads the resources.
#define IDI_APPLICATION_ICON 1
#define IDB_SOCKET 2
#define IDR_START_PICTURE 3
