#pragma once

#include <cstdint>

// Counts heap allocations made by a thread while it is marked as inside a
// capture callback. The global operator new of the test programs does the
// counting.
class CountAllocationsHere {
public:
    CountAllocationsHere();
    ~CountAllocationsHere();
    CountAllocationsHere(const CountAllocationsHere&) = delete;
    CountAllocationsHere& operator=(const CountAllocationsHere&) = delete;
};

uint64_t CountedAllocations();
