// Equation solvers: the unit circle and a line, polynomial roots, and the unit
// circle and a second-degree curve.
#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "kinematics/kinematics.h"

using namespace kv;

namespace {
const double S3 = std::sqrt(3.0) / 2;
const double R2 = std::sqrt(0.5);
}  // namespace

TEST(UnitCircleLine, PointsTangentsAndMisses) {
    struct Case {
        double a, b, c;
        int n;
        double x1, y1, x2, y2;
    };
    const Case cases[] = {
        {1, 0, 0.5, 2, 0.5, S3, 0.5, -S3},
        {0, 2, 1, 2, -S3, 0.5, S3, 0.5},
        {1, 0, 1, 1, 1, 0, 0, 0},
        {1, 0, -1, 1, -1, 0, 0, 0},
        {1, 0, 1.000004, 1, 1, 0, 0, 0},  // misses by less than the tolerance: tangent
        {1, 0, 1.00001, 0, 0, 0, 0, 0},
        {0, 0, 0, 0, 0, 0, 0, 0},
        {0, 0, 5, 0, 0, 0, 0, 0},
        {3, 4, 5, 1, 0.6, 0.8, 0, 0},     // tangent at the foot of the perpendicular
        {1, 1, 1, 2, 0, 1, 1, 0},
        {NAN, 0, 0.5, 0, 0, 0, 0, 0},     // no points from a coefficient that is no number
        {1, 0, NAN, 0, 0, 0, 0, 0},
    };
    for (const Case& k : cases) {
        circle_points x, y;
        int count = -1;
        solve_unit_circle_line(k.a, k.b, k.c, x, y, count);
        EXPECT_EQ(count, k.n) << k.a << " " << k.b << " " << k.c;
        EXPECT_EQ(unit_circle_line_intersection(k.a, k.b, k.c, x, y), k.n);
        if (k.n >= 1) {
            EXPECT_NEAR(x[1], k.x1, 1e-12) << k.c;
            EXPECT_NEAR(y[1], k.y1, 1e-12) << k.c;
        }
        if (k.n == 2) {
            EXPECT_NEAR(x[2], k.x2, 1e-12) << k.c;
            EXPECT_NEAR(y[2], k.y2, 1e-12) << k.c;
        }
    }
    EXPECT_EQ(clamp_unit(1.5), 1.0);
    EXPECT_EQ(clamp_unit(-1.0000001), -1.0);
    EXPECT_EQ(clamp_unit(0.25), 0.25);
}

TEST(Polynomials, RootsInAscendingOrder) {
    struct Case {
        const char* what;
        std::vector<double> coefficients;  // ascending powers
        std::vector<double> roots;
    };
    const Case cases[] = {
        {"quadratic", {2, -3, 1}, {1, 2}},
        {"quadratic, scaled", {2e6, -3e6, 1e6}, {1, 2}},
        {"quadratic without cancellation", {1, -1e8, 1}, {1e-8, 1e8}},
        {"quadratic, double root", {1, -2, 1}, {1}},
        {"quadratic, no real root", {1, 0, 1}, {}},
        {"linear", {2, 4, 0}, {-0.5}},
        {"constant", {3, 0, 0}, {}},
        {"nothing", {0, 0, 0}, {}},
        {"cubic, three roots", {-6, 11, -6, 1}, {1, 2, 3}},
        {"cubic, one real root", {-1, 0, 0, 1}, {1}},
        {"cubic, double root", {2, -3, 0, 1}, {-2, 1}},
        {"cubic, falls to quadratic", {2, -3, 1, 0}, {1, 2}},
        {"quartic", {24, -50, 35, -10, 1}, {1, 2, 3, 4}},
        {"quartic, biquadratic", {4, 0, -5, 0, 1}, {-2, -1, 1, 2}},
        {"quartic, two real roots", {-2, 0, 1, 0, 1}, {-1, 1}},
        {"quartic, shifted", {0, -6, 11, -6, 1}, {0, 1, 2, 3}},
        {"quartic, none", {1, 0, 0, 0, 1}, {}},
        {"quadratic, not a number", {NAN, 1, 1}, {}},
        {"cubic, infinite", {1, INFINITY, 0, 1}, {}},
        {"quartic, not a number", {1, 0, NAN, 0, 1}, {}},
    };
    for (const Case& k : cases) {
        polynomial_roots roots;
        std::vector<int> counts;
        const std::size_t n = k.coefficients.size();
        if (n == 3) {
            quadratic_coefficients c;
            for (int i = 1; i <= 3; ++i) c[i] = k.coefficients[static_cast<std::size_t>(i - 1)];
            counts.push_back(solve_quadratic(c, roots));
        } else if (n == 4) {
            cubic_coefficients c;
            for (int i = 1; i <= 4; ++i) c[i] = k.coefficients[static_cast<std::size_t>(i - 1)];
            polynomial_roots polished;
            counts.push_back(solve_cubic_polished(c, polished));
            for (int i = 1; i <= counts[0] && i <= static_cast<int>(k.roots.size()); ++i)
                EXPECT_NEAR(polished[i], k.roots[static_cast<std::size_t>(i - 1)], 1e-9) << k.what << " (polished)";
            counts.push_back(solve_cubic(c, roots));
        } else {
            quartic_coefficients c;
            for (int i = 1; i <= 5; ++i) c[i] = k.coefficients[static_cast<std::size_t>(i - 1)];
            int dropped = -1;
            counts.push_back(solve_quartic(c, roots, dropped));
            EXPECT_EQ(dropped, 0) << k.what;
        }
        for (int count : counts) EXPECT_EQ(count, static_cast<int>(k.roots.size())) << k.what;
        for (std::size_t i = 0; i < k.roots.size(); ++i)
            EXPECT_NEAR(roots[static_cast<int>(i) + 1], k.roots[i], 1e-9 * std::fmax(1.0, std::fabs(k.roots[i])))
                << k.what << " root " << i + 1;
    }

    // A quartic without its leading term is solved as a cubic and says so.
    quartic_coefficients c;
    c[1] = -6; c[2] = 11; c[3] = -6; c[4] = 1; c[5] = 0;
    polynomial_roots roots;
    int dropped = 0;
    ASSERT_EQ(solve_quartic(c, roots, dropped), 3);
    EXPECT_EQ(dropped, 1);
    EXPECT_NEAR(roots[3], 3.0, 1e-12);
}

TEST(UnitCircleConic, PointsOfSecondDegreeCurves) {
    struct Case {
        const char* what;
        double a, b, c, d, e, f;
        std::vector<std::pair<double, double>> points;  // in any order
    };
    const Case cases[] = {
        {"line x = 0.5", 0, 0, 0, 1, 0, -0.5, {{0.5, S3}, {0.5, -S3}}},
        {"line y = 0.5", 0, 0, 0, 0, 1, -0.5, {{S3, 0.5}, {-S3, 0.5}}},
        {"two diagonals", 1, 0, -1, 0, 0, 0, {{R2, R2}, {R2, -R2}, {-R2, R2}, {-R2, -R2}}},
        {"tangent at (-1, 0)", 0, 0, 0, 1, 0, 1, {{-1, 0}}},
        {"x² = 1 needs the point the substitution misses", 1, 0, 0, 0, 0, -1, {{1, 0}, {-1, 0}}},
        {"hyperbola xy = 1/4",
         0, 1, 0, 0, 0, -0.25,
         {{std::cos(M_PI / 12), std::sin(M_PI / 12)},
          {std::cos(5 * M_PI / 12), std::sin(5 * M_PI / 12)},
          {-std::cos(M_PI / 12), -std::sin(M_PI / 12)},
          {-std::cos(5 * M_PI / 12), -std::sin(5 * M_PI / 12)}}},
        {"outside circle", 1, 0, 1, 0, 0, -4, {}},
        {"the circle itself", 1, 0, 1, 0, 0, -1, {}},
        {"no curve", 0, 0, 0, 0, 0, 0, {}},
    };
    for (const Case& k : cases) {
        conic_coefficients q;
        q[1] = k.a; q[2] = k.b; q[3] = k.c; q[4] = k.d; q[5] = k.e; q[6] = k.f;
        conic_points x, y;
        const int n = unit_circle_conic_intersection(q, x, y);
        ASSERT_EQ(n, static_cast<int>(k.points.size())) << k.what;
        for (const auto& [px, py] : k.points) {
            int found = 0;
            for (int i = 1; i <= n; ++i)
                if (std::fabs(x[i] - px) < 1e-9 && std::fabs(y[i] - py) < 1e-9) ++found;
            EXPECT_EQ(found, 1) << k.what << " point " << px << ", " << py;
        }
    }
}
