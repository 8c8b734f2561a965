#pragma once

#include <string>
#include <vector>

// The candidates a mistyped or half-remembered device name may have meant,
// closest first, at most `count`: those that contain it or that it
// contains, and those a few edits away, case aside.
std::vector<std::string> CloseMatches(const std::string& name, const std::vector<std::string>& candidates,
                                      size_t count = 5);
