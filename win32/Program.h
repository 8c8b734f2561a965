#pragma once

// The window program on Windows: the front end's part of each start-up and
// shutdown step, in the order both front ends share. Over the device service
// already chosen (by a test build), or the system's. Returns the exit code.
int RunRoraridov();
