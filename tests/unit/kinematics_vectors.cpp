// Vectors, matrices, rotations, the linear-system solver and Euler angles,
// against hand-computed values.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <string>
#include <vector>

#include "kinematics/kinematics.h"

using namespace kv;

namespace {

constexpr double PI = 3.141592653589793;
constexpr double EPS = 1e-12;

vector3 v3(double x, double y, double z) {
    vector3 v;
    v[1] = x;
    v[2] = y;
    v[3] = z;
    return v;
}

matrix3 m3(std::initializer_list<double> rows) {
    matrix3 m;
    int i = 1;
    for (double e : rows) m[i++] = e;
    return m;
}

matrix4 m4(std::initializer_list<double> rows) {
    matrix4 m;
    int i = 1;
    for (double e : rows) m[i++] = e;
    return m;
}

void expect_vector(const vector3& v, double x, double y, double z, const char* what) {
    EXPECT_NEAR(v[1], x, EPS) << what;
    EXPECT_NEAR(v[2], y, EPS) << what;
    EXPECT_NEAR(v[3], z, EPS) << what;
}

template <int N>
void expect_array(const array1<double, N>& m, std::initializer_list<double> want, const char* what) {
    int i = 1;
    for (double e : want) {
        EXPECT_NEAR(m[i], e, 1e-9) << what << " element " << i;
        ++i;
    }
}

}  // namespace

TEST(Vectors, AnglesAndTheTwoToleranceFamilies) {
    EXPECT_DOUBLE_EQ(vector_angle(v3(1, 0, 0), v3(0, 0, 0)), 2 * PI);
    EXPECT_DOUBLE_EQ(vector_angle(v3(0, 0, 0), v3(1, 0, 0)), 2 * PI);
    EXPECT_NEAR(vector_angle(v3(1, 0, 0), v3(-1, 0, 0)), PI, EPS);
    EXPECT_NEAR(vector_angle(v3(1, 0, 0), v3(3, 3, 0)), PI / 4, EPS);
    EXPECT_DOUBLE_EQ(vector_angle(v3(1e-7, 0, 0), v3(1, 0, 0)), 2 * PI);
    EXPECT_NEAR(vector_angle_fine(v3(1e-7, 0, 0), v3(1, 0, 0)), 0.0, EPS);

    vector3 v = v3(1e-6, 0, 0);
    normalize_vector(v);
    expect_vector(v, 0, 0, 0, "coarse normalise of a short vector");
    v = v3(1e-6, 0, 0);
    normalize_vector_fine(v);
    expect_vector(v, 1, 0, 0, "fine normalise of the same");
    v = v3(3, 0, 4);
    normalize_vector(v);
    expect_vector(v, 0.6, 0, 0.8, "normalise");
    EXPECT_DOUBLE_EQ(vector_length(v3(2, 3, 6)), 7.0);

    vector3 u;
    double len = -1;
    unit_vector_with_length(v3(0, 0, 0), u, len);
    EXPECT_EQ(len, 0.0);
    expect_vector(u, 0, 0, 0, "unit of zero");
    unit_vector_with_length(v3(1e-12, 0, 0), u, len);
    expect_vector(u, 1, 0, 0, "unit of a tiny vector");
    EXPECT_DOUBLE_EQ(len, 1e-12);
}

TEST(Vectors, ProductsSplitsAndDistances) {
    vector3 a = v3(1, 2, 3);
    cross_product(a, v3(4, 5, 6), a);  // the result may overwrite an argument
    expect_vector(a, -3, 6, -3, "cross product in place");
    EXPECT_DOUBLE_EQ(dot_product(v3(1, 2, 3), v3(4, -5, 6)), 12.0);
    EXPECT_DOUBLE_EQ(point_distance(v3(1, 1, 1), v3(4, 5, 1)), 5.0);
    EXPECT_EQ(max_real(2, 3), 3);
    EXPECT_EQ(max_real(-2, -3), -2);

    vector3 along, across;
    double len;
    split_vector_along_axis(v3(1, 2, 3), v3(0, 0, 2), along, across, len);
    EXPECT_DOUBLE_EQ(len, 3.0);
    expect_vector(along, 0, 0, 3, "along");
    expect_vector(across, 1, 2, 0, "across");
    split_vector_along_axis(v3(1, 2, 3), v3(0, 0, -1), along, across, len);
    EXPECT_DOUBLE_EQ(len, -3.0);
    expect_vector(along, 0, 0, 3, "along a reversed axis");

    EXPECT_NEAR(distance_from_line(v3(0, 3, 4), v3(0, 0, 0), v3(2, 0, 0)), 5.0, EPS);
    EXPECT_NEAR(distance_from_line(v3(5, 5, 1), v3(1, 1, 1), v3(1, 1, 0)), 0.0, EPS);
    EXPECT_NEAR(distance_from_line(v3(1, 0, 7), v3(0, 0, 2), v3(0, 0, -3)), 1.0, EPS);
}

TEST(Matrices, AxisRotationTurnsRowVectorsTheOtherWay) {
    matrix3 r;
    axis_rotation_matrix(v3(0, 0, 1), PI / 2, r);
    expect_array(r, {0, -1, 0, 1, 0, 0, 0, 0, 1}, "rotation about z");
    vector3 p;
    vector_times_matrix3(v3(1, 0, 0), p, r);
    expect_vector(p, 0, -1, 0, "p·R turns by -angle");
    rotate_about_axis(v3(1, 0, 0), v3(0, 0, 1), PI / 2, p);
    expect_vector(p, 0, 1, 0, "R·p turns by +angle");

    machine_model.initial_tool_vector = v3(0, 0, 1);
    matrix3 tilt;
    axis_rotation_matrix(v3(1, 0, 0), PI / 2, tilt);
    transform_initial_tool_vector(tilt, p);
    expect_vector(p, 0, 1, 0, "initial tool vector times the matrix");

    // The axis need not be a unit vector; a zero axis leaves cos t on the diagonal.
    axis_rotation_matrix(v3(0, 0, 7), PI / 2, r);
    expect_array(r, {0, -1, 0, 1, 0, 0, 0, 0, 1}, "long axis");
    axis_rotation_matrix(v3(0, 0, 0), PI / 3, r);
    expect_array(r, {0.5, 0, 0, 0, 0.5, 0, 0, 0, 0.5}, "zero axis");
    axis_rotation_matrix_fine(v3(1e-7, 0, 0), PI, r);
    expect_array(r, {1, 0, 0, 0, -1, 0, 0, 0, -1}, "fine axis, half turn about x");

    // A half turn about the bisector of x and z swaps the two axes.
    rotate_about_axis(v3(1, 0, 0), v3(0.5, 0, 0.5), PI, p);
    expect_vector(p, 0, 0, 1, "half turn");
}

TEST(Matrices, ProductsTakeTheFirstArgumentAsRightHandFactor) {
    const matrix3 turn = m3({0, -1, 0, 1, 0, 0, 0, 0, 1});
    const matrix3 scale = m3({1, 0, 0, 0, 2, 0, 0, 0, 3});
    matrix3 out;
    matrix3_product(turn, scale, out);  // scale·turn
    expect_array(out, {0, -1, 0, 2, 0, 0, 0, 0, 3}, "3x3 product");
    matrix3_product(scale, turn, out);  // turn·scale
    expect_array(out, {0, -2, 0, 1, 0, 0, 0, 0, 3}, "3x3 product reversed");

    // matrix4_product(shift, doubling) is doubling·shift: first double, then move.
    const matrix4 shift = m4({1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 1, 2, 3, 1});
    const matrix4 doubling = m4({2, 0, 0, 0, 0, 2, 0, 0, 0, 0, 2, 0, 0, 0, 0, 1});
    matrix4 both;
    matrix4_product(shift, doubling, both);
    point4 p, q;
    p[1] = 1; p[2] = 1; p[3] = 1; p[4] = 1;
    transform_point4(p, q, both);
    expect_array(q, {3, 4, 5, 1}, "scale then shift");
    matrix4_product(doubling, shift, both);
    transform_point4(p, q, both);
    expect_array(q, {4, 6, 8, 1}, "shift then scale");
    p[4] = 0;  // a direction ignores the translation
    transform_point4(p, p, both);
    expect_array(p, {2, 2, 2, 0}, "direction, in place");
}

TEST(Matrices, InverseAndTurnAboutACentre) {
    const matrix4 placed = m4({0, -1, 0, 0, 1, 0, 0, 0, 0, 0, 1, 0, 1, 2, 3, 1});
    matrix4 inv, id;
    matrix4_inverse(placed, inv);
    expect_array(inv, {0, 1, 0, 0, -1, 0, 0, 0, 0, 0, 1, 0, 2, -1, -3, 1}, "inverse of a placement");
    matrix4_product(inv, placed, id);
    expect_array(id, {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1}, "M·inverse");
    matrix4_inverse(m4({2, 0, 0, 0, 0, 4, 0, 0, 0, 0, 5, 0, 0, 0, 0, 1}), inv);
    expect_array(inv, {0.5, 0, 0, 0, 0, 0.25, 0, 0, 0, 0, 0.2, 0, 0, 0, 0, 1}, "diagonal");
    // A singular matrix divides by 1e-5 instead of by its determinant.
    matrix4 zero;
    matrix4_inverse(zero, inv);
    for (int i = 1; i <= 16; ++i) EXPECT_EQ(inv[i], 0.0);
    matrix4_inverse(m4({1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1}), inv);
    expect_array(inv, {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1e5, 0, 0, 0, 0, 0}, "flat matrix");

    vector3 p = v3(2, 1, 0);
    rotate_point_about_centre(m4({0, -1, 0, 0, 1, 0, 0, 0, 0, 0, 1, 0, 0, 0, 5, 1}), v3(1, 1, 0), p);
    expect_vector(p, 1, 0, 5, "turned about (1, 1, 0) and lifted by the translation");
}

TEST(LinearSystem, PivotRepairSingularAndSizes) {
    // y + z = 5, x + z = 4, x + y = 3: the zero first pivot takes row 2 in.
    std::vector<double> a = {0, 1, 1, 0, 1, 0, 1, 0, 1, 1, 0, 0};
    const double rhs[3] = {5, 4, 3};
    double x[3] = {9, 9, 9};
    int status = -1;
    solve_linear_system(x, rhs, a, 3, 4, status);
    EXPECT_EQ(status, LINEAR_SOLVED);
    EXPECT_NEAR(x[0], 1, EPS);
    EXPECT_NEAR(x[1], 2, EPS);
    EXPECT_NEAR(x[2], 3, EPS);

    std::vector<double> flat = {0, 1, 0, 0, 0, 2, 1, 0, 0, 0, 1, 0};
    x[0] = x[1] = x[2] = 9;
    solve_linear_system(x, rhs, flat, 3, 4, status);
    EXPECT_EQ(status, LINEAR_SINGULAR);
    EXPECT_EQ(x[0], 0.0);
    EXPECT_EQ(x[2], 0.0);

    // No free column, or a buffer too small for the rows: refused, not overrun.
    std::vector<double> small = {1, 0, 0, 1, 0, 0, 0, 0, 0};
    x[0] = x[1] = x[2] = 9;
    solve_linear_system(x, rhs, small, 3, 3, status);
    EXPECT_EQ(status, LINEAR_BAD_SIZE);
    EXPECT_EQ(x[1], 0.0);
    solve_linear_system(x, rhs, small, 3, 4, status);
    EXPECT_EQ(status, LINEAR_BAD_SIZE);
}

TEST(EulerAngles, OrdersFromTheRowVectorMatrix) {
    matrix3 turn30;  // p·M turns by -30 degrees about z, so the column form turns by +30
    axis_rotation_matrix(v3(0, 0, 1), -PI / 6, turn30);
    struct Case {
        const char* what;
        matrix3 m;
        int order;
        double x, y, z;
    };
    const Case cases[] = {
        {"XYZ static, about z", turn30, 0, 0, 0, 30},
        {"ZYX rotating, about z", turn30, 1, 30, 0, 0},
        {"XYZ static, about x", m3({1, 0, 0, 0, 0, 1, 0, -1, 0}), 0, 90, 0, 0},
        {"ZYZ static, about x", m3({1, 0, 0, 0, 0, 1, 0, -1, 0}), 22, -90, -90, 90},
        {"XYZ static, gimbal lock about y", m3({0, 0, -1, 0, 1, 0, 1, 0, 0}), 0, 0, 90, 0},
        {"order 30 is order 23 (ZYZ rotating)", m3({1, 0, 0, 0, 0, 1, 0, -1, 0}), 30, 90, -90, -90},
        {"order -4 is order 0", m3({1, 0, 0, 0, 0, 1, 0, -1, 0}), -4, 90, 0, 0},
        {"an element of 1.000005 passes", m3({1.000005, 0, 0, 0, 1, 0, 0, 0, 1}), 0, 0, 0, 0},
    };
    for (const Case& k : cases) {
        vector3 angles;
        int status = -1;
        matrix_to_euler_angles(k.m, angles, k.order, status);
        EXPECT_EQ(status, 0) << k.what;
        expect_vector(angles, k.x, k.y, k.z, k.what);
    }

    // Every order against the matrix built from its elementary rotations: a
    // static order turns about its first axis first, a rotating order last.
    struct Order {
        int code;
        const char* axes;
        int rotating;
    };
    const Order orders[] = {
        {0, "XYZ", 0},  {1, "ZYX", 1},  {2, "XYX", 0},  {3, "XYX", 1},  {4, "XZY", 0},  {5, "YZX", 1},
        {6, "XZX", 0},  {7, "XZX", 1},  {8, "YZX", 0},  {9, "XZY", 1},  {10, "YZY", 0}, {11, "YZY", 1},
        {12, "YXZ", 0}, {13, "ZXY", 1}, {14, "YXY", 0}, {15, "YXY", 1}, {16, "ZXY", 0}, {17, "YXZ", 1},
        {18, "ZXZ", 0}, {19, "ZXZ", 1}, {20, "ZYX", 0}, {21, "XYZ", 1}, {22, "ZYZ", 0}, {23, "ZYZ", 1},
    };
    for (const Order& o : orders) {
        // The middle angle of a repeated order lies in 0..180 for the orders of
        // even parity and in -180..0 for the odd ones (XZX, YXY, ZYZ).
        const std::string axes = o.axes;
        const int odd_repeat = axes == "XZX" || axes == "YXY" || axes == "ZYZ";
        const double want[3] = {20, odd_repeat ? -35.0 : 35.0, -50};
        double h[9] = {1, 0, 0, 0, 1, 0, 0, 0, 1};  // column-vector form, row by row
        for (int step = 0; step < 3; ++step) {
            // H := H·R for a rotating order (later turns about moved axes), R·H for a static one.
            const double t = want[step] * PI / 180;
            const double c = std::cos(t), s = std::sin(t);
            double r[9];
            switch (o.axes[step]) {
                case 'X': { const double e[9] = {1, 0, 0, 0, c, -s, 0, s, c}; std::copy(e, e + 9, r); break; }
                case 'Y': { const double e[9] = {c, 0, s, 0, 1, 0, -s, 0, c}; std::copy(e, e + 9, r); break; }
                default: { const double e[9] = {c, -s, 0, s, c, 0, 0, 0, 1}; std::copy(e, e + 9, r); break; }
            }
            const double* left = o.rotating ? h : r;
            const double* right = o.rotating ? r : h;
            double p[9];
            for (int i = 0; i < 3; ++i)
                for (int j = 0; j < 3; ++j)
                    p[3 * i + j] = left[3 * i] * right[j] + left[3 * i + 1] * right[3 + j] + left[3 * i + 2] * right[6 + j];
            std::copy(p, p + 9, h);
        }
        matrix3 m;  // the row-vector form is the transpose
        for (int i = 0; i < 3; ++i)
            for (int j = 0; j < 3; ++j) m[3 * j + i + 1] = h[3 * i + j];
        vector3 angles;
        int status = -1;
        matrix_to_euler_angles(m, angles, o.code, status);
        EXPECT_EQ(status, 0) << o.axes;
        for (int i = 1; i <= 3; ++i) EXPECT_NEAR(angles[i], want[i - 1], 1e-9) << "order " << o.code << " " << o.axes;
    }

    const matrix3 identity = m3({1, 0, 0, 0, 1, 0, 0, 0, 1});
    for (int order = 0; order <= 23; ++order) {
        vector3 angles = v3(7, 7, 7);
        int status = -1;
        matrix_to_euler_angles(identity, angles, order, status);
        EXPECT_EQ(status, 0);
        expect_vector(angles, 0, 0, 0, "identity");
        EXPECT_FALSE(std::signbit(angles[1]) || std::signbit(angles[2]) || std::signbit(angles[3])) << order;
    }

    vector3 angles = v3(7, 7, 7);
    int status = 0;
    matrix_to_euler_angles(m3({1, 0, 0, 0, 1.00002, 0, 0, 0, 1}), angles, 5, status);
    EXPECT_EQ(status, 1);
    expect_vector(angles, 0, 0, 0, "rejected matrix");
    matrix_to_euler_angles(m3({1, 0, 0, 0, NAN, 0, 0, 0, 1}), angles, 5, status);
    EXPECT_EQ(status, 1);
}
