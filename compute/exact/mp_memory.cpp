#include "compute/exact/mp_memory.h"

#include <gmp.h>

#include <algorithm>
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <utility>

namespace quadrilo {
namespace {

// A thread's sines take under 1 KiB of GMP memory (672 bytes at most for an
// upper limit near 2^34), and a thread that draws on the reserve retires at
// once: 64 KiB serve dozens of threads failing together.
constexpr std::size_t kReserveSize = 64 * 1024;
constexpr std::size_t kAlign = alignof(std::max_align_t);

// GMP's hooks are process-wide and take no context, so their reserve is too.
struct Reserve {
    std::mutex mutex;
    std::size_t used = 0;  // bytes handed out since it was last whole
    std::size_t blocks = 0; // handed out and not yet freed
    alignas(kAlign) unsigned char bytes[kReserveSize];

    bool holds(const void* p) const
    {
        const auto* b = static_cast<const unsigned char*>(p);
        return b >= bytes && b < bytes + kReserveSize;
    }
};

Reserve& reserve()
{
    static Reserve r;
    return r;
}

thread_local bool tookFromReserve_ = false; // trivial: nothing to register at thread exit

void* fromReserve(std::size_t size)
{
    Reserve& r = reserve();
    const std::size_t rounded = (std::max<std::size_t>(size, 1) + kAlign - 1) / kAlign * kAlign;
    std::lock_guard lock(r.mutex);
    if (rounded > kReserveSize - r.used) {
        // Returning null would only move GMP's abort to a dereference.
        std::fputs("Quadrilo: memoria esaurita anche nella riserva per i calcoli a precisione "
                   "multipla; il programma si chiude.\n",
                   stderr);
        std::_Exit(1);
    }
    void* p = r.bytes + r.used;
    r.used += rounded;
    ++r.blocks;
    tookFromReserve_ = true;
    return p;
}

// A bump allocator: its blocks are given back all at once.
void toReserve()
{
    Reserve& r = reserve();
    std::lock_guard lock(r.mutex);
    if (--r.blocks == 0)
        r.used = 0;
}

void* allocate(std::size_t size)
{
    if (void* p = std::malloc(size))
        return p;
    return fromReserve(size);
}

void release(void* p, std::size_t)
{
    if (reserve().holds(p))
        toReserve();
    else
        std::free(p);
}

void* reallocate(void* p, std::size_t oldSize, std::size_t newSize)
{
    if (!reserve().holds(p))
        if (void* q = std::realloc(p, newSize))
            return q;
    void* q = allocate(newSize);
    std::memcpy(q, p, std::min(oldSize, newSize));
    release(p, oldSize);
    return q;
}

} // namespace

void installMpMemory()
{
    static const bool installed = [] {
        mp_set_memory_functions(allocate, reallocate, release);
        return true;
    }();
    (void)installed;
}

bool tookFromReserve()
{
    return std::exchange(tookFromReserve_, false);
}

} // namespace quadrilo
