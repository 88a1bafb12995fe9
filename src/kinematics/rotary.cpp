// Rotary-angle solutions: the azimuth and elevation that point the machine's
// tool along a part-frame direction, the choice between the two solutions
// (unwinding, smallest change, limits, clearance) and the fitting into limits.
#include <array>
#include <cmath>
#include <span>

#include "control/control.h"
#include "kinematics/kinematics.h"
#include "runtime/runtime.h"

namespace kv {

committed_rotary_state_t committed_rotary_state;

namespace {

constexpr int MINIMISE_RETRACTIONS = 91;    // intsp: "minimise multiaxis retractions"
constexpr double POLE_PRODUCT_ZERO = 1e-16; // both in-plane products this small: the pole
constexpr double UNWIND_ZERO = 1e-12;
constexpr double CLEARANCE_TIE = 1e-10;
constexpr int MESSAGE_IMPOSSIBLE_VECTOR = 118;

bool first_move() { return multiaxis_motion_state.multiaxis_restart_state == 1; }

double degrees_of(double radians) { return radians / angle_constants.degrees_to_radians; }

bool inside(double angle, double minimum, double maximum, double margin) {
    return angle >= minimum - margin && angle <= maximum + margin;
}

bool pair_inside_limits(const angle_pair& degrees) {
    return inside(degrees[1], azimuth_minimum(), azimuth_maximum(), 0.0) &&
           inside(degrees[2], elevation_minimum(), elevation_maximum(), 0.0);
}

double total_change(const angle_pair& degrees, double previous_azimuth, double previous_elevation) {
    return std::fabs(degrees[2] - previous_elevation) + std::fabs(degrees[1] - previous_azimuth);
}

// The primary axis turns about the pole; on machine types 1 and 2 it is the
// elevation, on type 3 the azimuth.
bool azimuth_is_primary() { return machine_model.machine_type == MACHINE_HEAD_HEAD; }

// An angle as an equivalent in [0, 360), with tiny values taken as 0.
double positive_degrees(double x) {
    if (std::fabs(x) < UNWIND_ZERO) x = 0.0;
    if (x < 0.0) x += 360.0;
    return x;
}

double unwind_angle(double radians, double previous) {
    const double x = positive_degrees(degrees_of(radians));
    const double r = positive_degrees(real_mod_int(previous, 360));
    double d = x - r;
    if (std::fabs(d) >= 180.0) d = real_mod_int(d - real_sign(360.0, d), 360);
    return previous + d;
}

}  // namespace

double pole_angle(double previous_primary) {
    if (machine_model.keep_angle_at_pole == 0) return 0.0;
    return real_mod_int(previous_primary, 360) * angle_constants.degrees_to_radians;
}

void five_axis_solutions(const vector3& tool_vector, angle_pair& solution1, angle_pair& solution2,
                         double previous_azimuth, double previous_elevation, int& status) {
    const rotary_axis_frame_t& frame = machine_model.rotary_axis_frame;
    vector3 in_frame;
    vector_times_matrix3(tool_vector, in_frame, frame.matrix);
    vector3 p = in_frame;
    normalize_vector_fine(p);

    // The primary turn is about z and keeps the z component, so the secondary
    // angle alone must bring the tool's z to that of p.
    const vector3& s = frame.secondary_axis;
    const vector3& t = frame.initial_tool_vector;
    vector3 s_cross_t;
    cross_product(s, t, s_cross_t);
    const double st = dot_product(s, t);
    const double a = t[3] - s[3] * st;
    const double b = s_cross_t[3];
    const double c = p[3] - s[3] * st;
    circle_points cos_theta, sin_theta;
    const int count = unit_circle_line_intersection(a, b, c, cos_theta, sin_theta);
    if (count == 0) {
        status = ROTARY_VECTOR_IMPOSSIBLE;
        return;
    }

    const bool at_pole = std::fabs(in_frame[1]) < angle_constants.angle_tolerance &&
                         std::fabs(in_frame[2]) < angle_constants.angle_tolerance;
    const double previous_primary = azimuth_is_primary() ? previous_azimuth : previous_elevation;
    angle_pair* solutions[2] = {&solution1, &solution2};
    for (int i = 1; i <= 2; ++i) {
        const int k = count == 1 ? 1 : i;
        const double theta = std::atan2(sin_theta[k], cos_theta[k]);
        vector3 r;
        rotate_about_axis(t, s, theta, r);
        const double o = r[1] * p[2] - r[2] * p[1];
        const double q = r[1] * p[1] + r[2] * p[2];
        double phi;
        if (at_pole || (std::fabs(o) <= POLE_PRODUCT_ZERO && std::fabs(q) <= POLE_PRODUCT_ZERO))
            phi = pole_angle(previous_primary);
        else
            phi = std::atan2(o, q);
        angle_pair& out = *solutions[i - 1];
        if (azimuth_is_primary()) {
            out[1] = phi;
            out[2] = theta;
        } else {
            out[1] = theta;
            out[2] = phi;
        }
    }
    status = 0;
}

void four_axis_solution(const vector3& tool_vector, double& azimuth, double& elevation, int& status) {
    vector3 p = tool_vector;
    normalize_vector_fine(p);
    const vector3& u = machine_model.four_axis_rotary_axis;
    const vector3& t = machine_model.initial_tool_vector;
    // The one axis keeps the angle between itself and the tool.
    if (std::fabs(vector_angle_fine(u, t) - vector_angle_fine(u, p)) >= angle_constants.angle_tolerance) {
        status = ROTARY_VECTOR_IMPOSSIBLE;
        return;
    }
    // Turning t by w about u gives (u.t)u + cos w (t - (u.t)u) + sin w (u x t):
    // solve for sin w and cos w, with a third unknown that comes out as 0.
    vector3 u_cross_t;
    cross_product(u, t, u_cross_t);
    const double ut = dot_product(u, t);
    std::array<double, 12> a{};
    std::array<double, 3> rhs{}, solution{};
    for (int i = 1; i <= 3; ++i) {
        const std::size_t row = static_cast<std::size_t>(4 * (i - 1));
        a[row] = u_cross_t[i];
        a[row + 1] = t[i] - ut * u[i];
        a[row + 2] = 1.0;
        rhs[static_cast<std::size_t>(i - 1)] = p[i] - ut * u[i];
    }
    // The system is singular when the axis is square to (1, 1, 1), although
    // the direction is reachable; the components along u x t and along the
    // part of t across u give the angle as well.
    const double across = std::fabs(u[1] + u[2] + u[3]);
    double sine = 0.0, cosine = 0.0;
    if (across < angle_constants.angle_tolerance) {
        for (int i = 1; i <= 3; ++i) {
            sine += rhs[static_cast<std::size_t>(i - 1)] * u_cross_t[i];
            cosine += rhs[static_cast<std::size_t>(i - 1)] * (t[i] - ut * u[i]);
        }
    } else {
        int solved = LINEAR_SOLVED;
        solve_linear_system(solution, rhs, a, 3, 4, solved);
        if (solved != LINEAR_SOLVED) {
            status = ROTARY_VECTOR_IMPOSSIBLE;
            return;
        }
        sine = solution[0];
        cosine = solution[1];
    }
    const double angle = std::atan2(sine, cosine);
    if (machine_model.machine_type == MACHINE_HEAD_TABLE) {
        azimuth = angle;
        elevation = 0.0;
    } else {
        azimuth = 0.0;
        elevation = angle;
    }
    status = 0;
}

void compute_rotary_solutions(const vector3& tool_vector, angle_pair& solution1, angle_pair& solution2,
                              double previous_azimuth, double previous_elevation, int& status) {
    status = 0;
    if (machine_model.four_axis_machine != 0) {
        four_axis_solution(tool_vector, solution1[1], solution1[2], status);
        solution2 = solution1;
        return;
    }
    five_axis_solutions(tool_vector, solution1, solution2, previous_azimuth, previous_elevation, status);
}

void unwind_angle_pair(const angle_pair& radians, angle_pair& degrees, double previous_azimuth,
                       double previous_elevation) {
    degrees[1] = unwind_angle(radians[1], previous_azimuth);
    degrees[2] = unwind_angle(radians[2], previous_elevation);
}

double angle_at_or_above(double reference, double angle) {
    const double c = real_mod_int(real_mod_int(angle, 360) + 360.0, 360);
    const double k = (reference - c) / 360.0 + 1.0;
    const double n = std::trunc(k);
    // An equivalent that lies within a hair (1e-8 turn) below the reference
    // counts as the reference itself.
    if (k - n >= 0.0 && k - n <= ROTARY_FIT_TOLERANCE) return c + (n - 1.0) * 360.0;
    return k > 0.0 ? c + n * 360.0 : c + (n - 1.0) * 360.0;
}

double angle_at_or_below(double reference, double angle) {
    const double c = real_mod_int(real_mod_int(angle, 360) + 360.0, 360);
    return c + std::floor((reference - c) / 360.0) * 360.0;
}

void fit_angle_first_move(double& angle, double minimum, double maximum, int& status) {
    // A range open on one side has no middle to aim for: the angle is brought
    // over the one limit by the fewest turns.
    if (!minimum_set(minimum) || !maximum_set(maximum)) {
        bring_angle_into_limits(angle, minimum, maximum, status);
        return;
    }
    const double middle = (minimum + maximum) / 2.0;
    const double f = angle_at_or_above(middle - 180.0, angle);
    const double g = angle_at_or_below(middle + 180.0, angle);
    const double h = angle_at_or_above(minimum, angle);
    const double l = angle_at_or_below(maximum, angle);
    const bool f_in = inside(f, minimum, maximum, 0.0);
    const bool g_in = inside(g, minimum, maximum, 0.0);
    status = 0;
    if (f_in && g_in) {
        if (get_intsp(MINIMISE_RETRACTIONS) == 1) {
            // The one further from its nearer limit leaves more room to turn.
            const double margin_f = std::fmin(f - minimum, maximum - f);
            const double margin_g = std::fmin(g - minimum, maximum - g);
            angle = margin_f > margin_g ? f : g;
        } else {
            angle = f;
        }
    } else if (f_in) {
        angle = f;
    } else if (g_in) {
        angle = g;
    } else if (inside(h, minimum, maximum, 0.0)) {
        angle = h;
    } else if (inside(l, minimum, maximum, 0.0)) {
        angle = l;
    } else {
        status = ROTARY_OUTSIDE_LIMITS;
    }
}

void fit_angle_into_limits(double& angle, double previous, double minimum, double maximum, int& status) {
    if (first_move()) {
        fit_angle_first_move(angle, minimum, maximum, status);
        return;
    }
    fit_angle_near(angle, previous, minimum, maximum, status);
}

void fit_angle_near(double& angle, double previous, double minimum, double maximum, int& status) {
    const double above = angle_at_or_above(previous, angle);
    const double below = angle_at_or_below(previous, angle);
    double first = above, second = below;
    if (std::fabs(below - previous) < std::fabs(above - previous)) {
        first = below;
        second = above;
    }
    for (double candidate : {first, second}) {
        if (inside(candidate, minimum, maximum, ROTARY_FIT_TOLERANCE)) {
            angle = candidate;
            status = 0;
            return;
        }
    }
    status = ROTARY_OUTSIDE_LIMITS;
}

void bring_angle_into_limits(double& angle, double minimum, double maximum, int& status) {
    status = 0;
    if (inside(angle, minimum, maximum, ROTARY_FIT_TOLERANCE)) return;
    const double fitted = angle < minimum ? angle_at_or_above(minimum, angle) : angle_at_or_below(maximum, angle);
    if (!inside(fitted, minimum, maximum, ROTARY_FIT_TOLERANCE)) {
        status = ROTARY_OUTSIDE_LIMITS;
        return;
    }
    angle = fitted;
}

int choose_solution_within_limits(angle_pair& solution1, angle_pair& solution2, double previous_azimuth,
                                  double previous_elevation, angle_pair& degrees) {
    const double minimum[3] = {0.0, azimuth_minimum(), elevation_minimum()};
    const double maximum[3] = {0.0, azimuth_maximum(), elevation_maximum()};
    const double previous[3] = {0.0, previous_azimuth, previous_elevation};
    bool fits[3] = {false, true, true};
    angle_pair* pairs[3] = {nullptr, &solution1, &solution2};
    for (int i = 1; i <= 2; ++i) {
        for (int axis = 1; axis <= 2; ++axis) {
            double& angle = (*pairs[i])[axis];
            if (inside(angle, minimum[axis], maximum[axis], ROTARY_FIT_TOLERANCE)) continue;
            int status = 0;
            fit_angle_into_limits(angle, previous[axis], minimum[axis], maximum[axis], status);
            if (status != 0) fits[i] = false;
        }
    }
    const double c1 = total_change(solution1, previous_azimuth, previous_elevation);
    const double c2 = total_change(solution2, previous_azimuth, previous_elevation);
    if (c1 <= c2 && fits[1]) {
        degrees = solution1;
        return 1;
    }
    if (fits[2]) {
        degrees = solution2;
        return 2;
    }
    if (!fits[1]) return -1;
    degrees = solution1;
    return 1;
}

int choose_nearest_solution(const angle_pair& solution1, const angle_pair& solution2, double previous_azimuth,
                            double previous_elevation, angle_pair& degrees, angle_pair& unwound1,
                            angle_pair& unwound2) {
    unwind_angle_pair(solution1, unwound1, previous_azimuth, previous_elevation);
    unwind_angle_pair(solution2, unwound2, previous_azimuth, previous_elevation);
    if (first_move()) {
        // A first move has no motion to keep small: the limits decide. The
        // choice works on copies so that the unwound pairs stay as they are
        // for a later choice within the limits.
        angle_pair fitted1 = unwound1, fitted2 = unwound2;
        return choose_solution_within_limits(fitted1, fitted2, previous_azimuth, previous_elevation, degrees);
    }
    const double c1 = total_change(unwound1, previous_azimuth, previous_elevation);
    const double c2 = total_change(unwound2, previous_azimuth, previous_elevation);
    if (c1 <= c2) {
        degrees = unwound1;
        return 1;
    }
    degrees = unwound2;
    return 2;
}

int choose_rotary_solution(angle_pair& solution1, const angle_pair& solution2, double previous_azimuth,
                           double previous_elevation, rotary_choice choice, angle_pair& degrees,
                           angle_pair& unwound1, angle_pair& unwound2) {
    const angle_pair original1 = solution1;
    const int result =
        choice(original1, solution2, previous_azimuth, previous_elevation, degrees, unwound1, unwound2);
    if (result == -1) return -1;
    solution1 = result == 2 ? solution2 : original1;
    if (pair_inside_limits(degrees)) return result;
    const int within = choose_solution_within_limits(unwound1, unwound2, previous_azimuth, previous_elevation, degrees);
    if (within == -1) return -1;
    solution1 = within == 2 ? solution2 : original1;
    return within;
}

void solve_four_axis_angles(const vector3& tool_vector, angle_pair& radians, angle_pair& degrees,
                            double previous_azimuth, double previous_elevation, int& status) {
    angle_pair second;
    compute_rotary_solutions(tool_vector, radians, second, previous_azimuth, previous_elevation, status);
    if (status != 0) return;
    unwind_angle_pair(radians, degrees, previous_azimuth, previous_elevation);
    if (!inside(degrees[1], azimuth_minimum(), azimuth_maximum(), 0.0)) {
        fit_angle_into_limits(degrees[1], previous_azimuth, azimuth_minimum(), azimuth_maximum(), status);
        if (status != 0) return;
    }
    if (!inside(degrees[2], elevation_minimum(), elevation_maximum(), 0.0))
        fit_angle_into_limits(degrees[2], previous_elevation, elevation_minimum(), elevation_maximum(), status);
}

void solve_rotary_angles(const vector3& tool_vector, angle_pair& radians, angle_pair& degrees,
                         double previous_azimuth, double previous_elevation, int& status) {
    status = 0;
    if (machine_model.four_axis_machine != 0) {
        solve_four_axis_angles(tool_vector, radians, degrees, previous_azimuth, previous_elevation, status);
        return;
    }
    angle_pair second, unwound1, unwound2;
    compute_rotary_solutions(tool_vector, radians, second, previous_azimuth, previous_elevation, status);
    if (status != 0) return;
    if (choose_rotary_solution(radians, second, previous_azimuth, previous_elevation, choose_nearest_solution,
                               degrees, unwound1, unwound2) == -1)
        status = ROTARY_OUTSIDE_LIMITS;
}

double linear_limit_clearance(const angle_pair& radians, const vector3& tip) {
    vector3 machine = tip;
    kinematic_transform_point(machine, radians[1], radians[2]);
    const array1<double, 6>& limits = machine_model.xyz_limits;
    double clearance = std::fabs(machine[1] - limits[1]);
    for (int axis = 1; axis <= 3; ++axis) {
        clearance = std::fmin(clearance, std::fabs(machine[axis] - limits[2 * axis - 1]));
        clearance = std::fmin(clearance, std::fabs(machine[axis] - limits[2 * axis]));
    }
    return clearance;
}

int choose_solution_by_clearance(const vector3& tip, const angle_pair& solution1, const angle_pair& solution2,
                                 double previous_azimuth, double previous_elevation, angle_pair& degrees,
                                 angle_pair& unwound1, angle_pair& unwound2) {
    unwind_angle_pair(solution1, unwound1, previous_azimuth, previous_elevation);
    unwind_angle_pair(solution2, unwound2, previous_azimuth, previous_elevation);
    const double k1 = linear_limit_clearance(solution1, tip);
    const double k2 = linear_limit_clearance(solution2, tip);
    int result;
    if (std::fabs(k1 - k2) > CLEARANCE_TIE)
        result = k1 >= k2 ? 1 : 2;
    else
        result = total_change(unwound1, previous_azimuth, previous_elevation) <=
                         total_change(unwound2, previous_azimuth, previous_elevation)
                     ? 1
                     : 2;
    degrees = result == 1 ? unwound1 : unwound2;
    return result;
}

void solve_rotary_angles_by_clearance(const vector3& tool_vector, const vector3& tip, angle_pair& radians,
                                      angle_pair& degrees, double previous_azimuth, double previous_elevation,
                                      int& status) {
    status = 0;
    if (machine_model.four_axis_machine != 0) {
        solve_four_axis_angles(tool_vector, radians, degrees, previous_azimuth, previous_elevation, status);
        return;
    }
    angle_pair solution1, solution2, unwound1, unwound2;
    compute_rotary_solutions(tool_vector, solution1, solution2, previous_azimuth, previous_elevation, status);
    if (status != 0) return;
    // The radians follow the chosen pair, so that they always describe the
    // same machine pose as the degrees.
    const int chosen = choose_solution_by_clearance(tip, solution1, solution2, previous_azimuth,
                                                    previous_elevation, degrees, unwound1, unwound2);
    radians = chosen == 2 ? solution2 : solution1;
    if (pair_inside_limits(degrees)) return;
    const int within = choose_solution_within_limits(unwound1, unwound2, previous_azimuth, previous_elevation, degrees);
    if (within == -1) {
        status = ROTARY_OUTSIDE_LIMITS;
        return;
    }
    radians = within == 2 ? solution2 : solution1;
}

void angles_for_tool_axis(const vector3& tool_vector, const vector3& tip, angle_pair& radians,
                          angle_pair& degrees, int& fail) {
    fail = 0;
    point4 direction{{tool_vector[1], tool_vector[2], tool_vector[3], 1.0}};
    point4 turned;
    transform_point4(direction, turned, pcs_matrices.pcs_rotation);
    const vector3 axis{{turned[1], turned[2], turned[3]}};

    int status = 0;
    solve_rotary_angles_by_clearance(axis, tip, radians, degrees, 0.0, 0.0, status);
    if (status == ROTARY_VECTOR_IMPOSSIBLE) {
        issue_message(MESSAGE_IMPOSSIBLE_VECTOR);
        fail = 1;
        return;
    }
    int mode = LIMITS_ANGLES_ONLY;
    if (status == ROTARY_OUTSIDE_LIMITS) {
        issue_message(MESSAGE_IMPOSSIBLE_VECTOR);
        check_axis_limits(degrees[1], degrees[2], mode);
        fail = 1;
        return;
    }
    // Bring each angle up to its minimum or down to its maximum, where that
    // limit was set.
    const double minimum[3] = {0.0, azimuth_minimum(), elevation_minimum()};
    const double maximum[3] = {0.0, azimuth_maximum(), elevation_maximum()};
    for (int axis_index = 1; axis_index <= 2; ++axis_index) {
        double& angle = degrees[axis_index];
        if (angle < minimum[axis_index] && minimum_set(minimum[axis_index]))
            angle = angle_at_or_above(minimum[axis_index], angle);
        if (angle > maximum[axis_index] && maximum_set(maximum[axis_index]))
            angle = angle_at_or_below(maximum[axis_index], angle);
    }
    check_axis_limits(degrees[1], degrees[2], mode);
    if (mode != 0) fail = 1;
}

}  // namespace kv
