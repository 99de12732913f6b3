#pragma once

namespace quadrilo {

// GMP, and MPFR through it, allocate with hooks that the whole process
// shares, and GMP answers a failed allocation with abort(). Installed once,
// these hooks never fail: when malloc has nothing to give, the block comes
// from a small reserve set aside in the program's image, and the thread is
// marked. Whoever called MPFR asks tookFromReserve() after it, and gives up
// with std::bad_alloc, releasing what it holds; the reserve is whole again
// once every block drawn from it is freed.
void installMpMemory();

// Whether this thread has drawn on the reserve since it last asked.
bool tookFromReserve();

} // namespace quadrilo
