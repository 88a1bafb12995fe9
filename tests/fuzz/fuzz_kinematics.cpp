// Fuzzes the equation solvers, the linear-system solver and the Euler-angle
// conversion with arbitrary reals and sizes: counts stay in range, circle
// points stay on [-1, 1], and no buffer is overrun.
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "kinematics/kinematics.h"

using namespace kv;

namespace {
struct reader {
    const uint8_t* data;
    size_t size;
    double real() {
        double v = 0.0;
        if (size >= sizeof v) {
            std::memcpy(&v, data, sizeof v);
            data += sizeof v;
            size -= sizeof v;
        }
        return v;
    }
    int small(int limit) {
        if (size == 0) return 0;
        const int v = data[0] % limit;
        ++data;
        --size;
        return v;
    }
};

void check(bool ok) {
    if (!ok) std::abort();
}

void check_circle(double v) { check(std::isnan(v) || (v >= -1.0 && v <= 1.0)); }
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    reader in{data, size};
    switch (in.small(5)) {
        case 0: {
            circle_points x, y;
            const int n = unit_circle_line_intersection(in.real(), in.real(), in.real(), x, y);
            check(n >= 0 && n <= 2);
            for (int i = 1; i <= n; ++i) {
                check_circle(x[i]);
                check_circle(y[i]);
            }
            break;
        }
        case 1: {
            quartic_coefficients c;
            for (int i = 1; i <= 5; ++i) c[i] = in.real();
            polynomial_roots r;
            int dropped = 0;
            const int n = solve_quartic(c, r, dropped);
            check(n >= 0 && n <= 4);
            cubic_coefficients k;
            for (int i = 1; i <= 4; ++i) k[i] = c[i];
            check(solve_cubic(k, r) <= 3 && solve_cubic_polished(k, r) <= 3);
            break;
        }
        case 2: {
            conic_coefficients k;
            for (int i = 1; i <= 6; ++i) k[i] = in.real();
            conic_points x, y;
            const int n = unit_circle_conic_intersection(k, x, y);
            check(n >= 0 && n <= 4);
            for (int i = 1; i <= n; ++i) {
                check_circle(x[i]);
                check_circle(y[i]);
            }
            break;
        }
        case 3: {
            const int n = in.small(8) - 1;
            const int l = in.small(8) - 1;
            std::vector<double> a(static_cast<size_t>(in.small(40)));
            for (double& e : a) e = in.real();
            std::vector<double> rhs(static_cast<size_t>(in.small(8)));
            for (double& e : rhs) e = in.real();
            std::vector<double> x(static_cast<size_t>(in.small(8)));
            int status = -1;
            solve_linear_system(x, rhs, a, n, l, status);
            check(status >= 0 && status <= 2);
            break;
        }
        default: {
            matrix3 m;
            for (int i = 1; i <= 9; ++i) m[i] = in.real();
            vector3 angles;
            int status = -1;
            matrix_to_euler_angles(m, angles, in.small(40) - 8, status);
            check(status == 0 || status == 1);
            matrix4 q, inv;
            for (int i = 1; i <= 16; ++i) q[i] = in.real();
            matrix4_inverse(q, inv);
            break;
        }
    }
    return 0;
}
