#pragma once

#include <string>
#include <vector>

// The devices of the in-memory service that the end-to-end run of the
// Windows program plays over, and what it chooses among them; the Linux
// side saves the same choices for comparison.
inline const std::vector<std::string> E2eInputs = {"Keys A", "Keys B", "Pads"};
inline const std::vector<std::string> E2eOutputs = {"Synth A", "Synth B", "Drums"};
