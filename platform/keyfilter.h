#pragma once

namespace quadrilo {

// The key code (0 to 255) that a numeric field lets through: the code itself
// for "-+.0123456789" and backspace, 0 (the key is cancelled) for any other.
int filterKey(int keyAscii);

} // namespace quadrilo
