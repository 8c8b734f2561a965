#pragma once

// Puts every process-wide value of the engine back to its start-of-run
// state: settings zeroed, ports closed (without calling the device service),
// ring empty, lamps out, no hooks. Tests start from here.
void ResetEngine();
