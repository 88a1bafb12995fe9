// Vectors, 3x3 and 4x4 matrices, rotations about an axis, a small linear-system
// solver and the rotation-matrix-to-Euler-angles conversion for all 24 axis
// orders. Pure functions over caller-owned arrays: no state, no messages.
#include <cmath>

#include "kinematics/kinematics.h"

namespace kv {

namespace {

// The angle of a (near-)zero vector: 2·pi, larger than any angle between two vectors.
constexpr double NO_ANGLE = 6.283185307179586;

double length_of(const vector3& v) { return std::sqrt(v[1] * v[1] + v[2] * v[2] + v[3] * v[3]); }

void normalize_with(vector3& v, double tolerance) {
    const double len = length_of(v);
    if (len > tolerance) {
        for (int i = 1; i <= 3; ++i) v[i] /= len;
    } else {
        v.fill(0.0);
    }
}

double angle_with(const vector3& a, const vector3& b, double tolerance) {
    if (!(length_of(a) > tolerance) || !(length_of(b) > tolerance)) return NO_ANGLE;
    vector3 c;
    cross_product(a, b, c);
    return std::atan2(length_of(c), dot_product(a, b));
}

// The rotation matrix of a unit axis; as p·R it turns p by -angle.
void rotation_of_unit_axis(const vector3& u, double angle, matrix3& out) {
    const double c = std::cos(angle);
    const double s = std::sin(angle);
    const double k = 1.0 - c;
    const double x = u[1], y = u[2], z = u[3];
    out[1] = c + x * x * k;
    out[2] = x * y * k - z * s;
    out[3] = x * z * k + y * s;
    out[4] = x * y * k + z * s;
    out[5] = c + y * y * k;
    out[6] = y * z * k - x * s;
    out[7] = x * z * k - y * s;
    out[8] = y * z * k + x * s;
    out[9] = c + z * z * k;
}

// The 3x3 minor of a 4x4 matrix without row r and column c, expanded by its
// first row.
double minor4(const matrix4& m, int r, int c) {
    int rows[3], cols[3];
    for (int i = 1, n = 0; i <= 4; ++i)
        if (i != r) rows[n++] = i;
    for (int j = 1, n = 0; j <= 4; ++j)
        if (j != c) cols[n++] = j;
    auto e = [&](int i, int j) { return m[4 * (rows[i] - 1) + cols[j]]; };
    return e(0, 0) * (e(1, 1) * e(2, 2) - e(1, 2) * e(2, 1))
         - e(0, 1) * (e(1, 0) * e(2, 2) - e(1, 2) * e(2, 0))
         + e(0, 2) * (e(1, 0) * e(2, 1) - e(1, 1) * e(2, 0));
}

}  // namespace

double vector_length(const vector3& v) { return length_of(v); }
double vector_length_fine(const vector3& v) { return length_of(v); }

void normalize_vector(vector3& v) { normalize_with(v, VECTOR_TOLERANCE); }
void normalize_vector_fine(vector3& v) { normalize_with(v, VECTOR_TOLERANCE_FINE); }

double vector_angle(const vector3& a, const vector3& b) { return angle_with(a, b, VECTOR_TOLERANCE); }
double vector_angle_fine(const vector3& a, const vector3& b) { return angle_with(a, b, VECTOR_TOLERANCE_FINE); }

void unit_vector_with_length(const vector3& v, vector3& unit, double& length) {
    length = length_of(v);
    const vector3 copy = v;  // unit may be v itself
    for (int i = 1; i <= 3; ++i) unit[i] = length > 0.0 ? copy[i] / length : copy[i];
}

double dot_product(const vector3& a, const vector3& b) { return a[1] * b[1] + a[2] * b[2] + a[3] * b[3]; }

void cross_product(const vector3& a, const vector3& b, vector3& out) {
    const double x = a[2] * b[3] - a[3] * b[2];
    const double y = a[3] * b[1] - a[1] * b[3];
    const double z = a[1] * b[2] - a[2] * b[1];
    out[1] = x;
    out[2] = y;
    out[3] = z;
}

double point_distance(const vector3& p, const vector3& q) {
    vector3 d;
    for (int i = 1; i <= 3; ++i) d[i] = q[i] - p[i];
    return length_of(d);
}

void split_vector_along_axis(const vector3& v, const vector3& axis, vector3& along, vector3& across,
                             double& length) {
    vector3 u = axis;
    normalize_vector_fine(u);
    const vector3 w = v;  // along or across may be v itself
    length = dot_product(w, u);
    for (int i = 1; i <= 3; ++i) {
        along[i] = length * u[i];
        across[i] = w[i] - length * u[i];
    }
}

double max_real(double a, double b) { return a > b ? a : b; }

void vector_times_matrix3(const vector3& v, vector3& out, const matrix3& m) {
    vector3 r;
    for (int c = 1; c <= 3; ++c) r[c] = v[1] * m[c] + v[2] * m[3 + c] + v[3] * m[6 + c];
    out = r;
}

void transform_initial_tool_vector(const matrix3& m, vector3& out) {
    vector_times_matrix3(machine_model.initial_tool_vector, out, m);
}

void matrix3_product(const matrix3& a, const matrix3& b, matrix3& out) {
    matrix3 r;
    for (int i = 1; i <= 3; ++i)
        for (int j = 1; j <= 3; ++j)
            r[3 * (i - 1) + j] = b[3 * (i - 1) + 1] * a[j] + b[3 * (i - 1) + 2] * a[3 + j] + b[3 * (i - 1) + 3] * a[6 + j];
    out = r;
}

void axis_rotation_matrix(const vector3& axis, double angle, matrix3& out) {
    vector3 u;
    double len;
    unit_vector_with_length(axis, u, len);
    rotation_of_unit_axis(u, angle, out);
}

void axis_rotation_matrix_fine(const vector3& axis, double angle, matrix3& out) {
    vector3 u = axis;
    normalize_vector_fine(u);
    rotation_of_unit_axis(u, angle, out);
}

void rotate_about_axis(const vector3& v, const vector3& axis, double angle, vector3& out) {
    matrix3 r;
    axis_rotation_matrix_fine(axis, angle, r);
    vector3 t;
    for (int i = 1; i <= 3; ++i) t[i] = r[3 * (i - 1) + 1] * v[1] + r[3 * (i - 1) + 2] * v[2] + r[3 * (i - 1) + 3] * v[3];
    out = t;
}

void transform_point4(const point4& p, point4& out, const matrix4& m) {
    point4 r;
    for (int c = 1; c <= 4; ++c) r[c] = p[1] * m[c] + p[2] * m[4 + c] + p[3] * m[8 + c] + p[4] * m[12 + c];
    out = r;
}

void matrix4_product(const matrix4& a, const matrix4& b, matrix4& out) {
    matrix4 r;
    for (int i = 1; i <= 4; ++i)
        for (int j = 1; j <= 4; ++j) {
            double s = 0.0;
            for (int k = 1; k <= 4; ++k) s += b[4 * (i - 1) + k] * a[4 * (k - 1) + j];
            r[4 * (i - 1) + j] = s;
        }
    out = r;
}

void matrix4_inverse(const matrix4& m, matrix4& out) {
    matrix4 cof;
    for (int i = 1; i <= 4; ++i)
        for (int j = 1; j <= 4; ++j) cof[4 * (i - 1) + j] = ((i + j) % 2 == 0 ? 1.0 : -1.0) * minor4(m, i, j);
    double det = 0.0;
    for (int j = 1; j <= 4; ++j) det += m[j] * cof[j];
    // A (near-)singular matrix gives a large but finite result, never a division by zero.
    if (std::fabs(det) < 1e-9) det = 1e-5;
    matrix4 r;
    for (int i = 1; i <= 4; ++i)
        for (int j = 1; j <= 4; ++j) r[4 * (i - 1) + j] = cof[4 * (j - 1) + i] / det;
    out = r;
}

void rotate_point_about_centre(const matrix4& m, const vector3& centre, vector3& p) {
    point4 q;
    for (int i = 1; i <= 3; ++i) q[i] = p[i] - centre[i];
    q[4] = 1.0;
    point4 r;
    transform_point4(q, r, m);
    for (int i = 1; i <= 3; ++i) p[i] = centre[i] + r[i];
}

double distance_from_line(const vector3& p, const vector3& q, const vector3& d) {
    vector3 u = d;
    normalize_vector(u);
    vector3 w;
    for (int i = 1; i <= 3; ++i) w[i] = p[i] - q[i];
    const double t = dot_product(w, u);
    vector3 foot;
    for (int i = 1; i <= 3; ++i) foot[i] = q[i] + t * u[i];
    return point_distance(p, foot);
}

void solve_linear_system(std::span<double> solution, std::span<const double> rhs, std::span<double> a,
                         int n, int l, int& status) {
    const auto zero_solution = [&] {
        for (double& x : solution) x = 0.0;
    };
    // The buffer must hold n rows of length l with a free column n+1, and the
    // right-hand side and solution n values each; anything less is refused
    // rather than read or written beyond its end.
    if (n < 1 || n >= l || a.size() < static_cast<std::size_t>(n) * static_cast<std::size_t>(l) ||
        rhs.size() < static_cast<std::size_t>(n) || solution.size() < static_cast<std::size_t>(n)) {
        status = LINEAR_BAD_SIZE;
        zero_solution();
        return;
    }
    auto at = [&](int r, int c) -> double& { return a[static_cast<std::size_t>((r - 1) * l + (c - 1))]; };
    for (int r = 1; r <= n; ++r) at(r, n + 1) = rhs[static_cast<std::size_t>(r - 1)];

    // Gauss-Jordan elimination without row exchanges: a zero pivot is repaired
    // by adding the first later row that has a non-zero element in its column.
    for (int k = 1; k <= n; ++k) {
        if (at(k, k) == 0.0) {
            int donor = 0;
            for (int r = k + 1; r <= n && donor == 0; ++r)
                if (at(r, k) != 0.0) donor = r;
            if (donor == 0) {
                status = LINEAR_SINGULAR;
                zero_solution();
                return;
            }
            for (int c = k; c <= n + 1; ++c) at(k, c) += at(donor, c);
        }
        const double pivot = at(k, k);
        for (int c = k; c <= n + 1; ++c) at(k, c) /= pivot;
        for (int r = 1; r <= n; ++r) {
            if (r == k) continue;
            const double f = at(r, k);
            if (f == 0.0) continue;
            for (int c = k; c <= n + 1; ++c) at(r, c) -= f * at(k, c);
        }
    }
    status = LINEAR_SOLVED;
    for (int r = 1; r <= n; ++r) solution[static_cast<std::size_t>(r - 1)] = at(r, n + 1);
}

// The order code packs, from bit 0: frame (1 rotating), repetition (1 when the
// first axis repeats), parity (1 odd), and in bits 3-4 the first axis (0 X, 1 Y,
// 2 Z). The angles come from the transposed matrix, which turns column vectors.
void matrix_to_euler_angles(const matrix3& m, vector3& angles, int order, int& status) {
    if (order < 0) order = 0;
    if (order > 23) order = 23;
    status = 0;
    for (int i = 1; i <= 9; ++i) {
        // A NaN element fails the test as well: it is no rotation.
        if (!(std::fabs(m[i]) <= 1.00001)) {
            status = 1;
            angles.fill(0.0);
            return;
        }
    }
    // h(r, c), 0-based, of the column-vector form: the transpose of m.
    auto h = [&](int r, int c) { return m[3 * c + r + 1]; };

    static constexpr int safe_axis[4] = {0, 1, 2, 0};
    static constexpr int next_axis[4] = {1, 2, 0, 1};
    const int rotating = order & 1;
    const int repeated = (order >> 1) & 1;
    const int odd = (order >> 2) & 1;
    const int i = safe_axis[(order >> 3) & 3];
    const int j = next_axis[i + odd];
    const int k = next_axis[i + 1 - odd];
    constexpr double SINGULAR_LIMIT = 1.9073486328125e-06;  // 16 times the single-precision epsilon

    double x, y, z;
    if (repeated) {
        const double sy = std::sqrt(h(i, j) * h(i, j) + h(i, k) * h(i, k));
        if (sy > SINGULAR_LIMIT) {
            x = std::atan2(h(i, j), h(i, k));
            y = std::atan2(sy, h(i, i));
            z = std::atan2(h(j, i), -h(k, i));
        } else {
            x = std::atan2(-h(j, k), h(j, j));
            y = std::atan2(sy, h(i, i));
            z = 0.0;
        }
    } else {
        const double cy = std::sqrt(h(i, i) * h(i, i) + h(j, i) * h(j, i));
        if (cy > SINGULAR_LIMIT) {
            x = std::atan2(h(k, j), h(k, k));
            y = std::atan2(-h(k, i), cy);
            z = std::atan2(h(j, i), h(i, i));
        } else {
            x = std::atan2(-h(j, k), h(j, j));
            y = std::atan2(-h(k, i), cy);
            z = 0.0;
        }
    }
    if (odd) {
        x = -x;
        y = -y;
        z = -z;
    }
    if (rotating) {
        const double t = x;
        x = z;
        z = t;
    }
    // Adding 0 turns a negative zero from the parity sign into a plain zero.
    angles[1] = x * RADIANS_TO_DEGREES + 0.0;
    angles[2] = y * RADIANS_TO_DEGREES + 0.0;
    angles[3] = z * RADIANS_TO_DEGREES + 0.0;
}

}  // namespace kv
