// Splines: the polynomial coefficients of a segment, knot values, the control
// point and weight of an arc, and how far an arc B-spline segment is divided.
#include <cmath>

#include "kinematics/kinematics.h"
#include "output/output.h"
#include "store_printer.h"

using namespace kv;
using namespace kv_test;

namespace {

point3 p3(double x, double y, double z) {
    point3 p;
    p[1] = x;
    p[2] = y;
    p[3] = z;
    return p;
}

}  // namespace

TEST(Splines, PolynomialCoefficients) {
    // y = t^3 through t = 0, 1/3, 2/3, 1.
    const double cubic[] = {0.0, 1.0 / 27, 8.0 / 27, 1.0};
    array1<double, 6> c;
    EXPECT_EQ(polynomial_coefficients(0.0, 1.0, cubic, 3, c), 0);
    EXPECT_NEAR(c[1], 0.0, 1e-12);
    EXPECT_NEAR(c[2], 0.0, 1e-12);
    EXPECT_NEAR(c[3], 0.0, 1e-12);
    EXPECT_NEAR(c[4], 1.0, 1e-12);
    // u0 > u1 takes the values from the end: y = 1 - ... = (1 - t)^3 reversed.
    EXPECT_EQ(polynomial_coefficients(1.0, 0.0, cubic, 3, c), 0);
    EXPECT_NEAR(c[1], 1.0, 1e-12);
    EXPECT_NEAR(c[2], -3.0, 1e-12);
    EXPECT_NEAR(c[3], 3.0, 1e-12);
    EXPECT_NEAR(c[4], -1.0, 1e-12);
    // Quintic through a straight line: only the constant and linear terms.
    const double line[] = {2.0, 3.0, 4.0, 5.0, 6.0, 7.0};
    EXPECT_EQ(polynomial_coefficients(0.0, 1.0, line, 5, c), 0);
    EXPECT_NEAR(c[1], 2.0, 1e-12);
    EXPECT_NEAR(c[2], 5.0, 1e-12);
    for (int j = 3; j <= 6; ++j) EXPECT_NEAR(c[j], 0.0, 1e-10) << j;
    // Any other degree computes nothing.
    EXPECT_EQ(polynomial_coefficients(0.0, 1.0, line, 4, c), 1);
    EXPECT_EQ(c[1], 0.0);
}

TEST(Splines, KnotValues) {
    set_status_flag(5, 1);  // absolute knots
    EXPECT_EQ(spline_knot_value(4.0, 2.0, 1.5, 0), 4.0);
    EXPECT_EQ(spline_knot_value(4.0, 2.0, 1.5, 1), 5.5);
    EXPECT_EQ(spline_knot_value(4.0, 2.0, 1.5, 1000), 4.0);
    EXPECT_EQ(spline_knot_value(4.0, 2.0, 1.5, 9999), 6.0);
    set_status_flag(5, 0);
    EXPECT_EQ(spline_knot_value(4.0, 2.0, 1.5, 0), 0.0);
    EXPECT_EQ(spline_knot_value(4.0, 2.0, 1.5, 1), 2.0);
    EXPECT_EQ(spline_knot_value(4.0, 2.0, 1.5, 1000), 0.0);
}

TEST(Splines, ArcControlPointAndWeight) {
    // The quarter of the unit circle: the tangents meet at (1, 1).
    point3 t;
    double w = 0.0;
    int status = -1;
    arc_control_point(p3(1, 0, 0), p3(std::sqrt(0.5), std::sqrt(0.5), 0), p3(0, 1, 0), t, w, status);
    EXPECT_EQ(status, 0);
    EXPECT_NEAR(t[1], 1.0, 1e-12);
    EXPECT_NEAR(t[2], 1.0, 1e-12);
    EXPECT_NEAR(w, std::sqrt(0.5), 1e-12);
    // A straight piece: the chord's middle, no division by zero.
    arc_control_point(p3(0, 0, 0), p3(1, 0, 0), p3(2, 0, 0), t, w, status);
    EXPECT_EQ(status, 0);
    EXPECT_DOUBLE_EQ(t[1], 1.0);
    // A midpoint behind the start is no arc's midpoint.
    arc_control_point(p3(0, 0, 0), p3(-1, 1, 0), p3(2, 0, 0), t, w, status);
    EXPECT_EQ(status, 1);
}

TEST(Splines, ArcSubdivision) {
    struct row {
        double degrees;  // angle at C0 between the control point and C2
        int level;
    };
    for (const row& r : {row{40, 0}, row{74.9, 0}, row{75, 1}, row{149.9, 1}, row{150, 2}, row{170, 2}}) {
        const double a = r.degrees * std::atan(1.0) / 45;
        int level = -1, status = -1;
        arc_subdivision_level(p3(0, 0, 0), p3(std::cos(a), std::sin(a), 0), p3(1, 0, 0), level, status);
        EXPECT_EQ(status, 0);
        EXPECT_EQ(level, r.level) << r.degrees;
    }
    // A half circle from (1, 0) to (-1, 0) leaving along +Y, in two arcs.
    spline_arcs arcs;
    subdivide_into_arcs(p3(1, 0, 0), p3(-1, 0, 0), p3(1, 1, 0), 1, arcs);
    EXPECT_NEAR(arcs[1][3][1], 0.0, 1e-12);
    EXPECT_NEAR(arcs[1][3][2], 1.0, 1e-12);
    EXPECT_NEAR(arcs[1][2][1], std::sqrt(0.5), 1e-12);
    EXPECT_NEAR(arcs[2][2][1], -std::sqrt(0.5), 1e-12);
    EXPECT_NEAR(arcs[2][3][1], -1.0, 1e-12);
}
