#include "AllocationCounter.h"

#include <atomic>
#include <cstdlib>
#include <new>

namespace {

thread_local bool Counting = false;
std::atomic<uint64_t> Allocations{0};

void* Allocate(std::size_t size)
{
    if (Counting)
        Allocations.fetch_add(1, std::memory_order_relaxed);
    if (void* p = std::malloc(size ? size : 1))
        return p;
    throw std::bad_alloc();
}

}  // namespace

CountAllocationsHere::CountAllocationsHere()
{
    Counting = true;
}

CountAllocationsHere::~CountAllocationsHere()
{
    Counting = false;
}

uint64_t CountedAllocations()
{
    return Allocations.load(std::memory_order_relaxed);
}

void* operator new(std::size_t size)
{
    return Allocate(size);
}

void* operator new[](std::size_t size)
{
    return Allocate(size);
}

void* operator new(std::size_t size, const std::nothrow_t&) noexcept
{
    try {
        return Allocate(size);
    } catch (...) {
        return nullptr;
    }
}

void* operator new[](std::size_t size, const std::nothrow_t&) noexcept
{
    try {
        return Allocate(size);
    } catch (...) {
        return nullptr;
    }
}

void operator delete(void* p) noexcept
{
    std::free(p);
}

void operator delete[](void* p) noexcept
{
    std::free(p);
}

void operator delete(void* p, std::size_t) noexcept
{
    std::free(p);
}

void operator delete[](void* p, std::size_t) noexcept
{
    std::free(p);
}
