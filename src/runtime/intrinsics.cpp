// Numeric and bit intrinsics: remainders, rounding, integer powers and the
// 32-bit bit operations that block expressions and the number formatter use.
#include <climits>
#include <cmath>

#include "runtime/runtime.h"

namespace kv {

// A zero divisor gives 0 and INT_MIN by -1 gives 0 instead of trapping.
int int_mod(int a, int b) {
    if (b == 0 || b == -1) return 0;
    return a % b;
}

double real_mod_int(double x, int a) {
    if (a == 0) return 0.0;
    return x - a * static_cast<double>(truncate_to_int(x / a));
}

double real_mod(double a, double b) {
    if (b == 0.0) return 0.0;
    const double q = a / b;
    const double r = b * (q - static_cast<double>(truncate_to_int(std::floor(q))));
    if ((a < 0 && 0 < b && r > 0) || (a > 0 && 0 > b && r < 0)) return r - b;
    return r;
}

double real_sign(double a, double b) {
    return b >= 0 ? std::fabs(a) : -std::fabs(a);
}

double real_int_power(double x, int n) {
    switch (n) {
        case 0: return 1.0;
        case 1: return x;
        case 2: return x * x;
        case 3: return x * (x * x);
        default: return real_int_power_binary(x, n);
    }
}

double real_int_power_binary(double x, int n) {
    if (n == 0) return 1.0;
    // -INT_MIN does not fit; the unsigned magnitude does.
    unsigned int m = n > 0 ? static_cast<unsigned int>(n) : 0u - static_cast<unsigned int>(n);
    double result = 1.0;
    double base = x;
    while (m != 0) {
        if (m & 1u) result = n > 0 ? result * base : result / base;
        m >>= 1;
        if (m != 0) base = base * base;
    }
    return result;
}

double safe_acos(double x) {
    if (x > 1.0) x = 1.0;
    if (x < -1.0) x = -1.0;
    return std::acos(x);
}

int bit_or(int a, int b) { return a | b; }
int bit_and(int a, int b) { return a & b; }
int bit_xor(int a, int b) { return a ^ b; }
int bit_not(int a) { return ~a; }

int bit_shift_left(int a, int n) {
    return static_cast<int>(static_cast<unsigned int>(a) << (n & 31));
}

int bit_shift_right(int a, int n) {
    return a >> (n & 31);  // arithmetic on every supported compiler (C++20)
}

}  // namespace kv
