// Closed-form equation solvers: the unit circle cut by a straight line (the
// secondary rotary angle of the five-axis solution), polynomial roots up to
// degree four, and the unit circle cut by a second-degree curve.
#include <cmath>
#include <initializer_list>

#include "kinematics/kinematics.h"

namespace kv {

namespace {

constexpr double LEADING_ZERO = 1e-11;      // a scaled leading coefficient below this drops the degree
constexpr double LINEAR_ZERO = 1e-10;       // a scaled linear coefficient below this: no root
constexpr double DISCRIMINANT_ZERO = 1e-15;
constexpr double DERIVATIVE_ZERO = 1e-30;   // no Newton step on a flat polynomial
constexpr double STEP_CONVERGED = 1e-15;    // relative Newton step that ends the polishing
constexpr double BIQUADRATIC_ZERO = 1e-14;  // odd term of the depressed quartic taken as absent
constexpr double SAME_ROOT = 1e-10;         // relative distance at which two quartic roots merge
constexpr double SAME_HALF_ANGLE = 1e-8;    // half-angle tangents this close give one circle point
constexpr double CARDANO_GUARD = 1e100;
constexpr int NEWTON_STEPS = 8;
constexpr double TWO_PI = 6.283185307179586;

// The largest magnitude among the values; NaN when any of them is NaN, so that
// the callers refuse such a polynomial instead of solving part of it.
double magnitude_of(std::initializer_list<double> values) {
    double m = 0.0;
    for (double v : values) {
        if (std::isnan(v)) return v;
        m = max_real(m, std::fabs(v));
    }
    return m;
}

// The cube root with the sign of x, by the power 1/3.
double signed_cube_root(double x) {
    return x < 0.0 ? -std::pow(-x, 1.0 / 3.0) : std::pow(x, 1.0 / 3.0);
}

// Sorts the first n roots and drops exact repeats; returns the new count.
int sort_distinct(polynomial_roots& r, int n, double relative) {
    for (int i = 2; i <= n; ++i)
        for (int j = i; j > 1 && r[j] < r[j - 1]; --j) {
            const double t = r[j];
            r[j] = r[j - 1];
            r[j - 1] = t;
        }
    int m = 0;
    for (int i = 1; i <= n; ++i) {
        if (m > 0 && std::fabs(r[i] - r[m]) <= relative * max_real(1.0, std::fabs(r[i]))) continue;
        r[++m] = r[i];
    }
    return m;
}

// Monic polynomial t^deg + p[deg] t^(deg-1) + ... + p[1] and its derivative, by Horner.
void horner(const double* p, int deg, double t, double& f, double& df) {
    f = 1.0;
    df = 0.0;
    for (int i = deg; i >= 1; --i) {
        df = df * t + f;
        f = f * t + p[i - 1];
    }
}

double newton_polish(const double* p, int deg, double t) {
    for (int step = 0; step < NEWTON_STEPS; ++step) {
        double f, df;
        horner(p, deg, t, f, df);
        if (std::fabs(df) <= DERIVATIVE_ZERO) break;
        const double dt = f / df;
        if (!std::isfinite(dt)) break;
        t -= dt;
        if (std::fabs(dt) <= STEP_CONVERGED * max_real(1.0, std::fabs(t))) break;
    }
    return t;
}

// Roots of the monic cubic t³ + a2 t² + a1 t + a0 by Cardano's formula.
int cardano(double a2, double a1, double a0, polynomial_roots& roots) {
    const double q = (a2 * a2 - 3.0 * a1) / 9.0;
    const double r = (2.0 * a2 * a2 * a2 - 9.0 * a2 * a1 + 27.0 * a0) / 54.0;
    if (!(std::fabs(q) < CARDANO_GUARD) || !(std::fabs(r) < CARDANO_GUARD)) return 0;
    const double q3 = q * q * q;
    const double r2 = r * r;
    const double shift = a2 / 3.0;
    if (r2 < q3) {
        // Three real roots: the trigonometric form.
        const double theta = safe_acos(r / std::sqrt(q3));
        const double m = -2.0 * std::sqrt(q);
        roots[1] = m * std::cos(theta / 3.0) - shift;
        roots[2] = m * std::cos((theta + TWO_PI) / 3.0) - shift;
        roots[3] = m * std::cos((theta - TWO_PI) / 3.0) - shift;
        return sort_distinct(roots, 3, 0.0);
    }
    const double s = -signed_cube_root(r + (r < 0.0 ? -1.0 : 1.0) * std::sqrt(r2 - q3));
    const double t = s != 0.0 ? q / s : 0.0;
    roots[1] = s + t - shift;
    int n = 1;
    // The complex pair has imaginary part (s - t)·√3/2; when it vanishes the
    // pair is a real double root.
    if (std::fabs(s - t) <= 1e-12 * max_real(1.0, std::fabs(s) + std::fabs(t))) {
        roots[2] = -0.5 * (s + t) - shift;
        n = 2;
    }
    return sort_distinct(roots, n, 0.0);
}

}  // namespace

double clamp_unit(double x) {
    if (x > 1.0) return 1.0;
    if (x < -1.0) return -1.0;
    return x;
}

int unit_circle_line_intersection(double a, double b, double c, circle_points& x, circle_points& y) {
    // Written as negated tests so that a NaN coefficient gives no point.
    const double f = a * a + b * b;
    if (!(f > 0.0)) return 0;
    const double h = f - c * c;
    if (!(h > -1e-5 * f)) return 0;  // the line misses the circle by more than the tolerance
    if (h <= 0.0) {
        // Tangent within the tolerance: the foot of the perpendicular, on the circle.
        const double s = c < 0.0 ? -1.0 : 1.0;
        const double root = std::sqrt(f);
        x[1] = clamp_unit(a * s / root);
        y[1] = clamp_unit(b * s / root);
        return 1;
    }
    const double l = std::sqrt(h);
    x[1] = clamp_unit((a * c - b * l) / f);
    y[1] = clamp_unit((b * c + a * l) / f);
    x[2] = clamp_unit((a * c + b * l) / f);
    y[2] = clamp_unit((b * c - a * l) / f);
    return 2;
}

void solve_unit_circle_line(double a, double b, double c, circle_points& x, circle_points& y, int& count) {
    count = unit_circle_line_intersection(a, b, c, x, y);
}

int solve_quadratic(const quadratic_coefficients& k, polynomial_roots& roots) {
    const double scale = magnitude_of({k[1], k[2], k[3]});
    if (!(scale > 0.0) || !std::isfinite(scale)) return 0;
    const double a = k[1] / scale, b = k[2] / scale, c = k[3] / scale;
    if (std::fabs(c) < LEADING_ZERO) {
        if (std::fabs(b) < LINEAR_ZERO) return 0;
        roots[1] = -a / b;
        return 1;
    }
    const double disc = b * b - 4.0 * a * c;
    if (disc > DISCRIMINANT_ZERO || (disc > 0.0 && std::fabs(b) < DISCRIMINANT_ZERO)) {
        // q carries the sign of b so that no root is found as a difference of
        // nearly equal numbers.
        const double q = -0.5 * (b + (b < 0.0 ? -1.0 : 1.0) * std::sqrt(disc));
        roots[1] = q / c;
        roots[2] = a / q;
        return sort_distinct(roots, 2, 0.0);
    }
    if (disc > -DISCRIMINANT_ZERO * std::fabs(c)) {
        roots[1] = -b / (2.0 * c);
        return 1;
    }
    return 0;
}

int solve_cubic(const cubic_coefficients& k, polynomial_roots& roots) {
    const double scale = magnitude_of({k[1], k[2], k[3], k[4]});
    if (!(scale > 0.0) || !std::isfinite(scale)) return 0;
    if (std::fabs(k[4] / scale) < LEADING_ZERO) {
        quadratic_coefficients lower;
        for (int i = 1; i <= 3; ++i) lower[i] = k[i];
        return solve_quadratic(lower, roots);
    }
    return cardano(k[3] / k[4], k[2] / k[4], k[1] / k[4], roots);
}

// One root from Cardano's formula (the largest in size, whose deflation is the
// most stable), polished by Newton steps; the rest from the deflated quadratic.
int solve_cubic_polished(const cubic_coefficients& k, polynomial_roots& roots) {
    const double scale = magnitude_of({k[1], k[2], k[3], k[4]});
    if (!(scale > 0.0) || !std::isfinite(scale)) return 0;
    if (std::fabs(k[4] / scale) < LEADING_ZERO) return solve_cubic(k, roots);
    const double p[3] = {k[1] / k[4], k[2] / k[4], k[3] / k[4]};
    polynomial_roots first;
    const int n = cardano(p[2], p[1], p[0], first);
    if (n == 0) return 0;
    double r = first[1];
    for (int i = 2; i <= n; ++i)
        if (std::fabs(first[i]) > std::fabs(r)) r = first[i];
    const double polished = newton_polish(p, 3, r);
    if (std::isfinite(polished)) r = polished;
    // t³ + p2 t² + p1 t + p0 = (t - r)(t² + (p2 + r) t + (p1 + r (p2 + r))).
    const double b = p[2] + r;
    quadratic_coefficients rest;
    rest[1] = p[1] + r * b;
    rest[2] = b;
    rest[3] = 1.0;
    const int m = solve_quadratic(rest, roots);
    roots[m + 1] = r;
    return sort_distinct(roots, m + 1, 0.0);
}

// Ferrari's method: the depressed quartic is split into two quadratics by a
// positive root of its resolvent cubic; every root is then polished on the
// quartic itself.
int solve_quartic(const quartic_coefficients& k, polynomial_roots& roots, int& degree_dropped) {
    degree_dropped = 0;
    const double scale = magnitude_of({k[1], k[2], k[3], k[4], k[5]});
    if (!(scale > 0.0) || !std::isfinite(scale)) return 0;
    if (std::fabs(k[5] / scale) < LEADING_ZERO) {
        degree_dropped = 1;
        cubic_coefficients lower;
        for (int i = 1; i <= 4; ++i) lower[i] = k[i];
        return solve_cubic_polished(lower, roots);
    }
    const double p4[4] = {k[1] / k[5], k[2] / k[5], k[3] / k[5], k[4] / k[5]};
    const double a = p4[3], b = p4[2], c = p4[1], d = p4[0];
    const double a2 = a * a;
    const double p = b - 3.0 * a2 / 8.0;
    const double q = c - a * b / 2.0 + a2 * a / 8.0;
    const double r = d - a * c / 4.0 + a2 * b / 16.0 - 3.0 * a2 * a2 / 256.0;
    const double shift = -a / 4.0;

    polynomial_roots y;
    int n = 0;
    double m = 0.0;
    if (std::fabs(q) >= BIQUADRATIC_ZERO) {
        cubic_coefficients resolvent;  // 8m³ + 8p m² + (2p² - 8r) m - q² = 0
        resolvent[1] = -q * q;
        resolvent[2] = 2.0 * p * p - 8.0 * r;
        resolvent[3] = 8.0 * p;
        resolvent[4] = 8.0;
        polynomial_roots mr;
        const int nm = solve_cubic_polished(resolvent, mr);
        if (nm > 0) m = mr[nm];  // the largest root; positive whenever q is not 0
    }
    if (m > 0.0) {
        const double s = std::sqrt(2.0 * m);
        const double t = q / (2.0 * s);
        for (int sign = -1; sign <= 1; sign += 2) {
            quadratic_coefficients half;  // y² + sign·s·y + (p/2 + m + sign·(-t)) = 0
            half[1] = p / 2.0 + m - sign * t;
            half[2] = sign * s;
            half[3] = 1.0;
            polynomial_roots hr;
            const int nh = solve_quadratic(half, hr);
            for (int i = 1; i <= nh && n < 4; ++i) y[++n] = hr[i];
        }
    } else {
        // No odd term: a quadratic in y².
        quadratic_coefficients squares;
        squares[1] = r;
        squares[2] = p;
        squares[3] = 1.0;
        polynomial_roots zr;
        const int nz = solve_quadratic(squares, zr);
        for (int i = 1; i <= nz; ++i) {
            if (zr[i] < 0.0) continue;
            const double w = std::sqrt(zr[i]);
            if (n < 4) y[++n] = w;
            if (w > 0.0 && n < 4) y[++n] = -w;
        }
    }
    for (int i = 1; i <= n; ++i) {
        const double t = newton_polish(p4, 4, y[i] + shift);
        roots[i] = std::isfinite(t) ? t : y[i] + shift;
    }
    return sort_distinct(roots, n, SAME_ROOT);
}

// The substitution u = tan(t/2), x = (1 - u²)/(1 + u²), y = 2u/(1 + u²) turns
// the curve into a quartic in u; it cannot represent t = 180 degrees, whose
// point (-1, 0) is added when the quartic loses its leading term. The mirror
// substitution u = cot(t/2) (x negated) misses (1, 0) instead; the one with the
// larger leading coefficient is used.
int unit_circle_conic_intersection(const conic_coefficients& k, conic_points& x, conic_points& y) {
    const double ca = k[1], cc = k[3], ce = k[5], cf = k[6];
    const int mirrored = std::fabs(ca + k[4] + cf) > std::fabs(ca - k[4] + cf) ? 1 : 0;
    const double cb = mirrored ? -k[2] : k[2];
    const double cd = mirrored ? -k[4] : k[4];
    const double x_sign = mirrored ? -1.0 : 1.0;

    quartic_coefficients u;
    u[1] = ca + cd + cf;
    u[2] = 2.0 * (cb + ce);
    u[3] = -2.0 * ca + 4.0 * cc + 2.0 * cf;
    u[4] = 2.0 * (ce - cb);
    u[5] = ca - cd + cf;
    // A curve that holds the whole circle (or no curve at all) gives no finite
    // set of points.
    const double scale = magnitude_of({k[1], k[2], k[3], k[4], k[5], k[6]});
    const double quartic_scale = magnitude_of({u[1], u[2], u[3], u[4], u[5]});
    if (!(scale > 0.0) || !(quartic_scale > 1e-12 * scale)) return 0;

    polynomial_roots roots;
    int dropped = 0;
    const int nr = solve_quartic(u, roots, dropped);
    int n = 0;
    for (int i = 1; i <= nr; ++i) {
        int repeat = 0;
        for (int j = 1; j < i; ++j)
            if (std::fabs(roots[i] - roots[j]) < SAME_HALF_ANGLE && (roots[i] < 0.0) == (roots[j] < 0.0)) repeat = 1;
        if (repeat || n >= 4) continue;
        const double w = roots[i] * roots[i];
        ++n;
        x[n] = clamp_unit(x_sign * (1.0 - w) / (1.0 + w));
        y[n] = clamp_unit(2.0 * roots[i] / (1.0 + w));
    }
    if (dropped && n < 4) {
        ++n;
        x[n] = -x_sign;
        y[n] = 0.0;
    }
    return n;
}

}  // namespace kv
