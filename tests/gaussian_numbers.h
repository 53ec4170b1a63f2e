// Gaussian numbers for tests from a fixed 64-bit generator (splitmix64) and Box-Muller, the
// same sequence on every machine. The library's log and cos are fine here: the tests that use
// them compare with tolerances.
#pragma once

#include <cmath>
#include <cstdint>

namespace qv {

class Gaussian {
public:
    explicit Gaussian(uint64_t seed) : state_(seed) {}
    double Next() {
        const double u1 = (static_cast<double>(Bits() >> 11) + 1) / 9007199254740993.0;
        const double u2 = static_cast<double>(Bits() >> 11) / 9007199254740992.0;
        return std::sqrt(-2 * std::log(u1)) * std::cos(6.283185307179586 * u2);
    }

private:
    uint64_t Bits() {
        uint64_t z = (state_ += 0x9E3779B97F4A7C15ULL);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
        return z ^ (z >> 31);
    }
    uint64_t state_;
};

}  // namespace qv
