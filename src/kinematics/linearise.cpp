// Linearisation of a multi-axis move: cuts the move into steps whose tool-tip
// deviation stays within the linearisation tolerance, turns the tool in place
// at the pole, and hands steps beyond an angular limit to the limit handling.
#include <algorithm>
#include <array>
#include <cmath>

#include "control/control.h"
#include "kinematics/kinematics.h"
#include "output/output.h"
#include "ppnsub/ppnsub.h"

namespace kv {

linearisation_state_t linearisation_state;
solver_state_t solver_state;

namespace {

constexpr int LINEARISE_FIRST_MOVE_SETTING = 101;   // "linearise first move"
constexpr int RELAX_SINGULARITY_SETTING = 109;      // "relax singularity check allowed"
constexpr int RETRACT_AT_LIMIT_SETTING = 83;        // "retract at angular limit"
constexpr int MINIMISE_RETRACTIONS_SETTING = 91;    // "minimise multiaxis retractions"
constexpr int CONTACT_POINT_FEED_SETTING = 92;      // "contact point based feedrate"
constexpr int MESSAGE_TOOL_VECTOR_IMPOSSIBLE = 118;
constexpr int MESSAGE_RECONFIGURE_FORBIDDEN = 271;

// The tip path is sampled at these fractions of a step.
constexpr double DEVIATION_SAMPLES[] = {0.15, 0.35, 0.5, 0.65, 0.85};
constexpr double TOOL_END_DISTANCE = 0.2;           // times the tool length
constexpr double SMALLEST_STEP_FRACTION = 1e-12;
constexpr double LIMIT_MARGIN = 1e-12;              // beyond a limit
constexpr double LIMIT_FAR_MARGIN = 1e-8;           // far beyond: the limit handling runs
constexpr double POLE_BALL_RADIUS = 20.0;           // when the tool length gives none
// A move whose limit handling makes no headway this many times in a row
// cannot be output.
constexpr int MAX_LIMIT_HANDLINGS = 100;
// A reconfiguration at the pole leaves the free angle where the step needs
// it; one that is needed again and again finds no way off the pole.
constexpr int MAX_POLE_RECONFIGURATIONS = 2;
// Samples along a rapid or a first move at which the two solutions are
// followed to find where it may change from one to the other.
constexpr int BRANCH_SAMPLES = 100;
constexpr int GAP_SEARCH_ITERATIONS = 60;


vector3 first_three(const array1<double, 6>& p) {
    vector3 v;
    for (int i = 1; i <= 3; ++i) v[i] = p[i];
    return v;
}

void set_first_three(array1<double, 6>& p, const vector3& v) {
    for (int i = 1; i <= 3; ++i) p[i] = v[i];
}

vector3 between(const vector3& a, const vector3& b, double s) {
    vector3 p;
    for (int i = 1; i <= 3; ++i) p[i] = a[i] + s * (b[i] - a[i]);
    return p;
}

// The machine position of a part-frame tip at angles (azimuth, elevation) in degrees.
vector3 machine_position_of(const vector3& tip, const angle_pair& angles) {
    vector3 m = tip;
    kinematic_transform_point(m, radians(angles[1]), radians(angles[2]));
    return m;
}

vector3 tool_axis_at(const angle_pair& angles) {
    vector3 axis;
    rotate_initial_tool_vector(radians(angles[1]), radians(angles[2]), axis);
    return axis;
}

int angles_unchanged(const angle_pair& a, const angle_pair& b) {
    const double tol = angle_constants.angle_tolerance;
    return std::fabs(b[1] - a[1]) <= tol && std::fabs(b[2] - a[2]) <= tol;
}

// The angle about the primary rotary axis, which is free at the pole:
// elevation on table-table and head-table machines, azimuth on head-head.
int free_angle_index() { return machine_model.machine_type == MACHINE_HEAD_HEAD ? 1 : 2; }

double angle_minimum(int k) { return k == 1 ? azimuth_minimum() : elevation_minimum(); }
double angle_maximum(int k) { return k == 1 ? azimuth_maximum() : elevation_maximum(); }

// How far an angle lies outside its range (0 inside).
double beyond_limit(const angle_pair& angles, int k) {
    const double lo = angle_minimum(k), hi = angle_maximum(k);
    if (angles[k] < lo) return lo - angles[k];
    if (angles[k] > hi) return angles[k] - hi;
    return 0.0;
}

// Whether the angles of a move may be taken on any solution within the
// limits rather than the one nearest the current angles: a rapid or a first
// move, with "minimise multiaxis retractions" and linearisation off. A cut
// that changes to the other solution is a reconfiguration, which the limit
// handling makes (or refuses), never one feed block.
int solution_free_to_change() {
    return configuration_store.intsp[MINIMISE_RETRACTIONS_SETTING] == 1 && machine_model.linearise_multiaxis == 0 &&
           (pending_move_flags.rapid_pending != 0 || multiaxis_motion_state.multiaxis_restart_state == 1);
}

// The angles chosen for a step axis, nearest the current ones; no solution
// ends the run.
void step_angles_for_axis(const vector3& axis, const angle_pair& current, int plain, angle_pair& degrees) {
    angle_pair rad;
    int status = 0;
    if (plain || solution_free_to_change()) {
        solve_rotary_angles(axis, rad, degrees, current[1], current[2], status);
    } else {
        solve_nearest_solution(axis, rad, degrees, current, status);
    }
    if (status != 0) {
        issue_message(MESSAGE_TOOL_VECTOR_IMPOSSIBLE);
        stop_run(4);
    }
}

void evaluate_step(const vector3& start_tip, const vector3& end_tip, const vector3& start_axis,
                   const vector3& end_axis, const vector3& machine_start, double s, const angle_pair& current,
                   int plain, vector3& step_tip, vector3& step_machine, vector3& step_axis,
                   angle_pair& step_angles, double& deviation) {
    step_tip = between(start_tip, end_tip, s);
    step_axis = between(start_axis, end_axis, s);  // not normalised
    step_angles_for_axis(step_axis, current, plain, step_angles);
    step_machine = machine_position_of(step_tip, step_angles);
    if (plain && (multiaxis_motion_state.multiaxis_restart_state == 1 || pending_move_flags.rapid_pending != 0 ||
                  machine_model.linearise_multiaxis == 0)) {
        deviation = 0.0;
        return;
    }
    deviation = step_deviation(start_tip, step_tip, machine_start, step_machine, current, step_angles, 1);
}

// Whether the unit start axis lies on the pole: 1 along the pole axis, -1
// against it, 0 off the pole.
int pole_side(const vector3& start_axis) {
    vector3 a = start_axis;
    const double len = vector_length(a);
    if (len > 0.0)
        for (int i = 1; i <= 3; ++i) a[i] /= len;
    const double tol = angle_constants.angle_tolerance;
    const vector3& p = machine_model.pole_axis;
    int plus = 1, minus = 1;
    for (int i = 1; i <= 3; ++i) {
        if (std::fabs(a[i] - p[i]) > tol) plus = 0;
        if (std::fabs(a[i] + p[i]) > tol) minus = 0;
    }
    if (plus) return 1;
    if (minus) return -1;
    return 0;
}

// At the pole: the angles just off it towards the step; a free angle that
// must turn further than the retraction threshold needs a reconfiguration.
int pole_start_result(const angle_pair& step_angles, angle_pair& current, const vector3& start_axis,
                      const vector3& start_tip, vector3& machine_start, int minus_side, int second_allowed,
                      int& status) {
    angle_pair target;
    angles_off_pole(current, step_angles, minus_side, second_allowed, target, status);
    if (status != 0) return 0;
    const int k = free_angle_index();
    const double change = std::fabs(target[k] - current[k]);
    if (change > machine_model.reconfigure_angle_threshold) {
        if (configuration_store.intsp[RETRACT_AT_LIMIT_SETTING] != 0) {
            retract_and_reconfigure(start_axis, target, current);
        } else {
            issue_message(MESSAGE_RECONFIGURE_FORBIDDEN);
            status = MULTIAXIS_RECONFIGURE_FORBIDDEN;
        }
        machine_start = machine_position_of(start_tip, target);
        current = target;
        return 1;
    }
    if (change > angle_constants.angle_tolerance) return 2;
    return 0;
}

// What a step that may start at the pole came to.
constexpr int POLE_STEP_OFF = 0;            // not at the pole: the step goes on as it is
constexpr int POLE_STEP_RECONFIGURED = 1;   // the move is tried again from the new angles
constexpr int POLE_STEP_TURNED = 2;         // the step is the free angle's turn in place
constexpr int POLE_STEP_FAILED = 3;         // status set

// A step whose start lies on the pole: a reconfiguration (no more than a few
// in a row), or the free angle turning in place towards the step, the tip
// and axis staying at the start.
int step_at_pole(const vector3& start_tip, const vector3& start_axis, vector3& machine_start, angle_pair& current,
                 vector3& step_tip, vector3& step_axis, vector3& step_machine, angle_pair& step_angles,
                 double& deviation, int& reconfigurations, int& status) {
    int minus_side = 0;
    const int pole =
        check_singular_start(step_angles, current, start_axis, start_tip, machine_start, minus_side, status);
    if (status != 0) return POLE_STEP_FAILED;
    if (pole == 1) {
        if (++reconfigurations <= MAX_POLE_RECONFIGURATIONS) return POLE_STEP_RECONFIGURED;
        status = MULTIAXIS_NOT_CONVERGED;
        return POLE_STEP_FAILED;
    }
    if (pole != 2) return POLE_STEP_OFF;
    cross_pole_by_rotation(start_tip, start_axis, machine_start, current, step_angles, minus_side, 0, step_machine,
                           deviation, status);
    if (status != 0) return POLE_STEP_FAILED;
    step_tip = start_tip;
    step_axis = start_axis;
    return POLE_STEP_TURNED;
}

}  // namespace

void set_solver_state(const vector3& start_tip, const vector3& end_tip, const vector3& start_axis,
                      const vector3& end_axis, const vector3& machine_start, const angle_pair& start_angles,
                      const angle_pair& end_angles) {
    solver_state_t& s = solver_state;
    s.start_tip = start_tip;
    s.end_tip = end_tip;
    s.start_axis = start_axis;
    s.end_axis = end_axis;
    s.machine_start = machine_start;
    s.start_angles = start_angles;
    s.end_angles = end_angles;
}

void set_move_start_frame(const vector3& tip, const vector3& tool_axis, const vector3& normal) {
    move_frame_t& f = linearisation_state.start_frame;
    f.tip = tip;
    f.tool_axis = tool_axis;
    f.contact_normal = normal;
    if (configuration_store.intsp[CONTACT_POINT_FEED_SETTING] != 0) frame_contact_point(tip, tool_axis, normal, f.contact_point);
}

void set_move_end_frame(const vector3& tip, const vector3& tool_axis, const vector3& normal) {
    move_frame_t& f = linearisation_state.end_frame;
    f.tip = tip;
    f.tool_axis = tool_axis;
    f.contact_normal = normal;
    if (configuration_store.intsp[CONTACT_POINT_FEED_SETTING] != 0) frame_contact_point(tip, tool_axis, normal, f.contact_point);
}

void set_step_start_fraction(double fraction) { linearisation_state.step_fraction[1] = fraction; }
double get_step_start_fraction() { return linearisation_state.step_fraction[1]; }
void set_step_end_fraction(double fraction) { linearisation_state.step_fraction[2] = fraction; }

double point_line_distance(const vector3& point, const vector3& line_start, const vector3& line_end) {
    vector3 d, w;
    for (int i = 1; i <= 3; ++i) {
        d[i] = line_end[i] - line_start[i];
        w[i] = point[i] - line_start[i];
    }
    const double len = vector_length(d);
    // A line of no length: the distance to its one point.
    if (len <= 0.0) return vector_length(w);
    for (int i = 1; i <= 3; ++i) d[i] /= len;
    const double along = dot_product(w, d);
    for (int i = 1; i <= 3; ++i) w[i] -= along * d[i];
    return vector_length(w);
}

double tool_end_deviation(double distance, const angle_pair& start_angles, const angle_pair& end_angles) {
    if (angles_unchanged(start_angles, end_angles)) return 0.0;
    const vector3 a = tool_axis_at(start_angles);
    const vector3 b = tool_axis_at(end_angles);
    double worst = 0.0;
    for (double s : DEVIATION_SAMPLES) {
        vector3 u = between(a, b, s);
        normalize_vector(u);
        angle_pair at;
        for (int k = 1; k <= 2; ++k) at[k] = std::fmod(start_angles[k] + s * (end_angles[k] - start_angles[k]), 360.0);
        vector3 w = tool_axis_at(at);
        normalize_vector(w);
        vector3 gap;
        for (int i = 1; i <= 3; ++i) gap[i] = distance * u[i] - distance * w[i];
        worst = std::max(worst, vector_length(gap));
    }
    return worst;
}

double step_deviation(const vector3& start_tip, const vector3& step_tip, const vector3& machine_start,
                      const vector3& step_machine, const angle_pair& start_angles, const angle_pair& step_angles,
                      int with_tool_end) {
    if (angles_unchanged(start_angles, step_angles)) return 0.0;
    double worst = 0.0;
    for (double s : DEVIATION_SAMPLES) {
        vector3 actual = between(machine_start, step_machine, s);
        angle_pair at;
        for (int k = 1; k <= 2; ++k) at[k] = std::fmod(start_angles[k] + s * (step_angles[k] - start_angles[k]), 360.0);
        inverse_kinematic_transform_point(actual, radians(at[1]), radians(at[2]));
        const vector3 straight = between(start_tip, step_tip, s);
        const double sample =
            std::max(point_distance(actual, straight), point_line_distance(actual, start_tip, step_tip));
        worst = std::max(worst, sample);
    }
    if (with_tool_end)
        worst = std::max(worst, tool_end_deviation(TOOL_END_DISTANCE * machine_model.tool_length, start_angles,
                                                   step_angles));
    return worst;
}

void evaluate_step_at(const vector3& start_tip, const vector3& end_tip, const vector3& start_axis,
                      const vector3& end_axis, const vector3& machine_start, double s, const angle_pair& current,
                      vector3& step_tip, vector3& step_machine, vector3& step_axis, angle_pair& step_angles,
                      double& deviation) {
    evaluate_step(start_tip, end_tip, start_axis, end_axis, machine_start, s, current, 0, step_tip, step_machine,
                  step_axis, step_angles, deviation);
}

void evaluate_step_plain(const vector3& start_tip, const vector3& end_tip, const vector3& start_axis,
                         const vector3& end_axis, const vector3& machine_start, double s,
                         const angle_pair& current, vector3& step_tip, vector3& step_machine, vector3& step_axis,
                         angle_pair& step_angles, double& deviation) {
    evaluate_step(start_tip, end_tip, start_axis, end_axis, machine_start, s, current, 1, step_tip, step_machine,
                  step_axis, step_angles, deviation);
}

void find_deviation_fraction(fraction_function g, double lower, double upper, double lower_bound,
                             double upper_bound, int iterations, double& fraction, double& deviation,
                             int& found) {
    // The target lies near the top of the window [lower_bound, upper_bound]:
    // the longest step that the tolerance allows.
    const double target = (95.0 * upper_bound + 5.0 * lower_bound) / 100.0;
    const double window = lower_bound - upper_bound;
    const double gb = g(upper);
    double hb = gb - target;
    if (hb <= 0.0) {
        fraction = upper;
        deviation = gb;
        found = 1;
        return;
    }
    const double ga = g(lower);
    double ha = ga - target;
    if (ha * hb > 0.0) {
        fraction = upper;
        deviation = gb;
        found = 0;
        return;
    }
    double xa = lower, xb = upper;
    double ga_true = ga;
    double x = lower, hx = ha;
    for (int n = 0; n < iterations; ++n) {
        if (hx <= 0.0 && hx >= window) {
            fraction = x;
            deviation = hx + target;
            found = 1;
            return;
        }
        if (std::fabs(xa - xb) <= 1e-9) {
            fraction = xa;
            deviation = ga_true;
            found = 1;
            return;
        }
        const double xn = (xb * ha - xa * hb) / (ha - hb);
        const double gn = g(xn);
        const double hn = gn - target;
        if (hn * ha > 0.0) {
            xa = xn;
            ha = hn;
            ga_true = gn;
            if (hn * hx > 0.0) hb /= 2.0;
        } else {
            xb = xn;
            hb = hn;
            if (hn * hx > 0.0) ha /= 2.0;
        }
        x = xn;
        hx = hn;
    }
    fraction = x;
    deviation = hx + target;
    found = (std::fabs(xa - xb) > 1e-9 && hx > upper_bound) ? 0 : 1;
}

double deviation_of_fraction(double x) {
    const solver_state_t& s = solver_state;
    vector3 tip, machine, axis;
    angle_pair angles;
    double deviation = 0.0;
    evaluate_step_at(s.start_tip, s.end_tip, s.start_axis, s.end_axis, s.machine_start, x, s.start_angles, tip,
                     machine, axis, angles, deviation);
    return deviation;
}

double plain_deviation_of_fraction(double x) {
    const solver_state_t& s = solver_state;
    vector3 tip, machine, axis;
    angle_pair angles;
    double deviation = 0.0;
    evaluate_step_plain(s.start_tip, s.end_tip, s.start_axis, s.end_axis, s.machine_start, x, s.start_angles, tip,
                        machine, axis, angles, deviation);
    return deviation;
}

double pole_rotation_deviation(double x) {
    const solver_state_t& s = solver_state;
    const int k = free_angle_index();
    angle_pair angles = s.start_angles;
    angles[k] = s.start_angles[k] + x * (s.end_angles[k] - s.start_angles[k]);
    const vector3 machine = machine_position_of(s.start_tip, angles);
    return step_deviation(s.start_tip, s.start_tip, s.machine_start, machine, s.start_angles, angles, 1);
}

double fixed_tip_rotation_deviation(double x) {
    const solver_state_t& s = solver_state;
    angle_pair angles;
    for (int k = 1; k <= 2; ++k) angles[k] = s.start_angles[k] + x * (s.end_angles[k] - s.start_angles[k]);
    const vector3 machine = machine_position_of(s.start_tip, angles);
    return step_deviation(s.start_tip, s.start_tip, s.machine_start, machine, s.start_angles, angles, 0);
}

void solve_off_pole_direction(const vector3& direction, const angle_pair& current, angle_pair& preferred,
                              angle_pair& other, int& status) {
    angle_pair s1, s2;
    status = 0;
    compute_rotary_solutions(direction, s1, s2, current[1], current[2], status);
    if (status != 0) return;
    if (machine_model.four_axis_machine != 0) {
        unwind_angle_pair(s1, preferred, current[1], current[2]);
        other = preferred;
        return;
    }
    const angle_pair first = s1;
    angle_pair degrees, unwound1, unwound2;
    const rotary_choice choice =
        configuration_store.intsp[MINIMISE_RETRACTIONS_SETTING] == 1 ? choose_by_limit_margin : choose_nearest_solution;
    const int chosen = choose_rotary_solution(s1, s2, current[1], current[2], choice, degrees, unwound1, unwound2);
    if (chosen == -1) {
        status = ROTARY_OUTSIDE_LIMITS;
        return;
    }
    preferred = degrees;
    unwind_angle_pair(chosen == 1 ? s2 : first, other, current[1], current[2]);
}

void angles_off_pole(const angle_pair& current, const angle_pair& step_angles, int minus_side, int second_allowed,
                     angle_pair& target, int& status) {
    status = 0;
    const vector3 r = tool_axis_at(step_angles);
    vector3 p = machine_model.pole_axis;
    if (minus_side)
        for (int i = 1; i <= 3; ++i) p[i] = -p[i];
    double o = 0.0;
    for (int i = 1; i <= 3; ++i) o = std::max(o, std::fabs(r[i] - p[i]));
    // The direction just off the pole towards the step's tool axis; a step
    // axis on the pole itself gives no direction off it, and is taken as it is.
    vector3 direction = r;
    if (o > 0.0) {
        const double u = 2.0 * angle_constants.angle_tolerance / o;
        for (int i = 1; i <= 3; ++i) direction[i] = p[i] + u * (r[i] - p[i]);
    }
    angle_pair preferred, other;
    solve_off_pole_direction(direction, current, preferred, other, status);
    if (status != 0) return;

    // The solutions are unwound to the current angles: an angle inside its
    // limits is taken as it is (on a first move too, where aiming for the
    // middle of the range would turn the table by the whole range), one
    // outside is brought in by the fewest turns.
    const int k = free_angle_index();
    const double lo = angle_minimum(k), hi = angle_maximum(k);
    target = current;
    double free_angle = preferred[k];
    bring_angle_into_limits(free_angle, lo, hi, status);
    if (status != 0) return;
    target[k] = free_angle;
    if (std::fabs(target[k] - current[k]) <= angle_constants.angle_tolerance && second_allowed) {
        free_angle = other[k];
        bring_angle_into_limits(free_angle, lo, hi, status);
        if (status != 0) return;
        target[k] = free_angle;
    }
}

int check_singular_start(const angle_pair& step_angles, angle_pair& current, const vector3& start_axis,
                         const vector3& start_tip, vector3& machine_start, int& minus_side, int& status) {
    status = 0;
    const int side = pole_side(start_axis);
    minus_side = side < 0 ? 1 : 0;
    if (side == 0) return 0;
    return pole_start_result(step_angles, current, start_axis, start_tip, machine_start, minus_side, 0, status);
}

int check_near_pole(const angle_pair& step_angles, angle_pair& current, const vector3& start_axis,
                    const vector3& start_tip, vector3& machine_start, int& minus_side, int& status) {
    status = 0;
    double r = TOOL_END_DISTANCE * machine_model.tool_length;
    if (r <= angle_constants.angle_tolerance) r = POLE_BALL_RADIUS;
    vector3 a = start_axis;
    const double len = vector_length(a);
    if (len > 0.0)
        for (int i = 1; i <= 3; ++i) a[i] /= len;
    const vector3& p = machine_model.pole_axis;
    vector3 plus_gap, minus_gap;
    for (int i = 1; i <= 3; ++i) {
        plus_gap[i] = r * a[i] - r * p[i];
        minus_gap[i] = -r * a[i] - r * p[i];
    }
    const double tol = machine_model.linearisation_tolerance;
    const double dp = vector_length(plus_gap), dm = vector_length(minus_gap);
    const int plus = dp <= tol, minus = dm <= tol;
    if (!plus && !minus) return 0;
    minus_side = (minus && (!plus || dm <= dp)) ? 1 : 0;
    return pole_start_result(step_angles, current, start_axis, start_tip, machine_start, minus_side, 1, status);
}

void cross_pole_by_rotation(const vector3& start_tip, const vector3& start_axis, const vector3& machine_start,
                            const angle_pair& current, angle_pair& step_angles, int minus_side, int second_allowed,
                            vector3& step_machine, double& deviation, int& status) {
    angle_pair target;
    angles_off_pole(current, step_angles, minus_side, second_allowed, target, status);
    if (status != 0) return;
    step_machine = machine_position_of(start_tip, target);
    deviation = step_deviation(start_tip, start_tip, machine_start, step_machine, current, target, 1);
    const double tol = machine_model.linearisation_tolerance;
    // Without linearisation the turn is one step, as every move is.
    if (deviation <= tol || machine_model.linearise_multiaxis == 0) {
        step_angles = target;
        return;
    }
    set_solver_state(start_tip, start_tip, start_axis, start_axis, machine_start, current, target);
    double x = 0.0;
    int found = 0;
    find_deviation_fraction(pole_rotation_deviation, 0.0, 1.0, 0.5 * tol, tol, DEVIATION_SEARCH_ITERATIONS, x,
                            deviation, found);
    if (!found) {
        status = MULTIAXIS_NOT_CONVERGED;
        return;
    }
    for (int k = 1; k <= 2; ++k) step_angles[k] = current[k] + x * (target[k] - current[k]);
    step_machine = machine_position_of(start_tip, step_angles);
}

void next_linearised_step(const vector3& start_tip, vector3& end_tip, const vector3& start_axis,
                          vector3& end_axis, vector3& machine_start, vector3& step_machine,
                          angle_pair& step_angles, angle_pair& current, int& done, double& deviation,
                          double& fraction, int& status) {
    linearisation_state_t& ls = linearisation_state;
    const double tol = machine_model.linearisation_tolerance;
    vector3 step_tip, step_axis;
    int reconfigurations = 0;
    status = 0;
    for (;;) {
        evaluate_step_at(start_tip, end_tip, start_axis, end_axis, machine_start, 1.0, current, step_tip,
                         step_machine, step_axis, step_angles, deviation);
        const int whole_rest =
            deviation <= tol || machine_model.linearise_multiaxis == 0 ||
            (ls.first_multiaxis_move != 0 && configuration_store.intsp[LINEARISE_FIRST_MOVE_SETTING] == 0);
        // A move that starts at the pole may go on either solution: without
        // linearisation, with "minimise multiaxis retractions", the free angle
        // first turns in place onto the one with more room to the limits, as
        // the linearised move does, so that the toolpath is not started on a
        // solution that runs into a limit later.
        const int turn_first =
            machine_model.linearise_multiaxis == 0 && configuration_store.intsp[MINIMISE_RETRACTIONS_SETTING] == 1;
        done = 0;
        if (!whole_rest || turn_first) {
            const int pole = step_at_pole(start_tip, start_axis, machine_start, current, step_tip, step_axis,
                                          step_machine, step_angles, deviation, reconfigurations, status);
            if (pole == POLE_STEP_FAILED) {
                ls.first_multiaxis_move = 0;
                return;
            }
            // Reconfigured: the whole rest is tried again from the new angles.
            if (pole == POLE_STEP_RECONFIGURED) continue;
            // The free angle turned in place: the move does not advance.
            if (pole == POLE_STEP_TURNED) break;
        }
        if (whole_rest) {
            done = 1;
            fraction = 1.0;
            break;
        }
        set_solver_state(start_tip, end_tip, start_axis, end_axis, machine_start, current, step_angles);
        double x = 0.0;
        int found = 0;
        double searched = 0.0;
        find_deviation_fraction(deviation_of_fraction, 0.0, 1.0, 0.5 * tol, tol, DEVIATION_SEARCH_ITERATIONS, x,
                                searched, found);
        if (found && x >= SMALLEST_STEP_FRACTION) {
            evaluate_step_at(start_tip, end_tip, start_axis, end_axis, machine_start, x, current, step_tip,
                             step_machine, step_axis, step_angles, deviation);
        } else {
            status = MULTIAXIS_NOT_CONVERGED;
        }
        if (status != 0 || deviation > tol) {
            if (configuration_store.intsp[RELAX_SINGULARITY_SETTING] == 0) {
                status = MULTIAXIS_NOT_CONVERGED;
                ls.first_multiaxis_move = 0;
                return;
            }
            int minus_side = 0;
            const int near = check_near_pole(step_angles, current, start_axis, start_tip, machine_start,
                                              minus_side, status);
            if (near == 2 && status == 0) {
                cross_pole_by_rotation(start_tip, start_axis, machine_start, current, step_angles, minus_side,
                                       1, step_machine, deviation, status);
                if (status != 0) {
                    ls.first_multiaxis_move = 0;
                    return;
                }
                step_tip = start_tip;
                step_axis = start_axis;
            } else {
                status = MULTIAXIS_NOT_CONVERGED;
                ls.first_multiaxis_move = 0;
                return;
            }
        }
        fraction = fraction + (1.0 - fraction) * x;
        break;
    }
    ls.first_multiaxis_move = 0;
    end_tip = step_tip;
    end_axis = step_axis;
}

namespace {

// The move from the start state to the end state as steps on the solution
// that the current angles lie on.
void linearise_steps(vector3& start_tip, vector3& start_axis, vector3& start_normal, const vector3& end_tip,
                     const vector3& end_axis, const vector3& end_normal, angle_pair& last_step, angle_pair& current,
                     int& status) {
    motion_state_t& ms = motion_state;
    set_move_start_frame(start_tip, start_axis, start_normal);
    set_move_end_frame(end_tip, end_axis, end_normal);
    set_step_start_fraction(0.0);
    double f = 0.0;
    int retried = 0;
    int handlings = 0;
    status = 0;
    for (;;) {
        vector3 step_tip = end_tip, step_axis = end_axis;
        vector3 machine_start = first_three(ms.previous_position);
        vector3 step_machine;
        angle_pair step_angles;
        int done = 0;
        double deviation = 0.0;
        next_linearised_step(start_tip, step_tip, start_axis, step_axis, machine_start, step_machine, step_angles,
                             current, done, deviation, f, status);
        last_step = step_angles;
        if (status != 0) return;
        set_first_three(ms.previous_position, machine_start);
        set_first_three(ms.position, step_machine);

        double far = 0.0, beyond = 0.0;
        for (int k = 1; k <= 2; ++k) {
            const double b = beyond_limit(step_angles, k);
            beyond = std::max(beyond, b);
            if (b > LIMIT_FAR_MARGIN) far = 1.0;
        }
        if (far != 0.0) {
            const double start_fraction = get_step_start_fraction();
            const angle_pair current_before = current;
            linearisation_state.limit_step_end_fraction = f;
            handle_angular_limit(step_angles, current, start_axis, step_axis, start_tip, step_tip, machine_start, f,
                                 status);
            last_step = step_angles;
            if (status != 0) return;
            set_step_start_fraction(f);
            // A handling that leaves the move where it was makes no headway.
            if (f == start_fraction && angles_unchanged(current, current_before)) {
                if (++handlings > MAX_LIMIT_HANDLINGS) {
                    status = MULTIAXIS_NOT_CONVERGED;
                    return;
                }
            } else {
                handlings = 0;
            }
            if (machine_model.linearise_multiaxis != 0) continue;
            if (!retried) {
                retried = 1;
                continue;
            }
            // Without linearisation the second far-beyond step is output with
            // the angles the handling left, its machine position taken at them.
            set_first_three(ms.position, machine_position_of(step_tip, step_angles));
        } else if (beyond > LIMIT_MARGIN) {
            for (int k = 1; k <= 2; ++k)
                step_angles[k] = std::max(angle_minimum(k), std::min(step_angles[k], angle_maximum(k)));
            step_axis = tool_axis_at(step_angles);
        }

        ms.rotary_angles[1] = step_angles[2];
        ms.rotary_angles[2] = step_angles[1];
        output_multiaxis_step(step_angles[1], step_angles[2], f, deviation);
        set_step_start_fraction(f);
        handlings = 0;

        start_tip = step_tip;
        start_axis = step_axis;
        current = step_angles;
        part_point_from_machine(first_three(ms.previous_position), start_tip, current[1], current[2], start_axis);
        if (done) break;
    }
    start_normal = end_normal;
}

// The solution of a tool axis nearest the reference angles by their total
// change, whatever the limits and the first-move rules: followed from sample
// to sample it traces one of the two solutions along a move.
int nearest_branch_angles(const vector3& axis, const angle_pair& reference, angle_pair& degrees) {
    angle_pair s1, s2, unwound1, unwound2;
    int status = 0;
    compute_rotary_solutions(axis, s1, s2, reference[1], reference[2], status);
    if (status != 0) return 0;
    unwind_angle_pair(s1, unwound1, reference[1], reference[2]);
    unwind_angle_pair(s2, unwound2, reference[1], reference[2]);
    auto change = [&](const angle_pair& a) { return std::fabs(a[1] - reference[1]) + std::fabs(a[2] - reference[2]); };
    degrees = change(unwound2) < change(unwound1) ? unwound2 : unwound1;
    return 1;
}

int within_limits(const angle_pair& angles) {
    return beyond_limit(angles, 1) <= LIMIT_FAR_MARGIN && beyond_limit(angles, 2) <= LIMIT_FAR_MARGIN;
}

// A rapid or a first move is not a cut: when the solution that the current
// angles lie on leaves the limits before the end of the move while the other
// solution of the end lies inside them, the move changes to the other
// solution on the way, turning in place where the two solutions lie closest
// (at the pole, where they meet, only the free angle turns). The fraction of
// the move where the change is made, with the angles of the other solution
// there; -1 when the move needs no change or no change keeps both parts of
// the move inside the limits.
double branch_change_fraction(const vector3& start_axis, const vector3& end_axis, const angle_pair& current,
                              angle_pair& after) {
    constexpr int n = BRANCH_SAMPLES;
    // Without limits every solution is inside them.
    const int unlimited = !minimum_set(azimuth_minimum()) && !maximum_set(azimuth_maximum()) &&
                          !minimum_set(elevation_minimum()) && !maximum_set(elevation_maximum());
    if (unlimited) return -1.0;
    std::array<angle_pair, BRANCH_SAMPLES + 1> here, other;
    here[0] = current;
    for (int i = 1; i <= n; ++i)
        if (!nearest_branch_angles(between(start_axis, end_axis, double(i) / n), here[i - 1], here[i])) return -1.0;
    if (within_limits(here[n])) return -1.0;
    // The end on the solution inside the limits, followed back to the start.
    angle_pair radians_out, end;
    int status = 0;
    solve_rotary_angles(end_axis, radians_out, end, current[1], current[2], status);
    if (status != 0 || !within_limits(end)) return -1.0;
    other[n] = end;
    for (int i = n - 1; i >= 0; --i)
        if (!nearest_branch_angles(between(start_axis, end_axis, double(i) / n), other[i + 1], other[i])) return -1.0;
    // The change may come at sample k when the current solution stays inside
    // the limits up to it and the other one from it on.
    std::array<int, BRANCH_SAMPLES + 1> other_inside_after;
    other_inside_after[n] = within_limits(other[n]);
    for (int i = n - 1; i >= 0; --i) other_inside_after[i] = other_inside_after[i + 1] && within_limits(other[i]);
    int best = -1;
    double best_gap = 0.0;
    for (int k = 0; k <= n && within_limits(here[k]); ++k) {
        if (!other_inside_after[k]) continue;
        const double gap = std::fabs(here[k][1] - other[k][1]) + std::fabs(here[k][2] - other[k][2]);
        if (best < 0 || gap < best_gap) {
            best = k;
            best_gap = gap;
        }
    }
    if (best < 0) return -1.0;
    after = other[best];
    double fraction = double(best) / n;
    // Between the samples next to it the gap has its least value where the
    // move passes nearest the pole: the change is put there, with the two
    // solutions followed from the neighbouring samples; each must stay
    // inside the limits on its side of it.
    const int lo = std::max(best - 1, 0), hi = std::min(best + 1, n);
    auto gap_at = [&](double x, angle_pair& a, angle_pair& b) {
        const vector3 axis = between(start_axis, end_axis, x);
        if (!nearest_branch_angles(axis, here[lo], a) || !nearest_branch_angles(axis, other[hi], b) ||
            !within_limits(a) || !within_limits(b))
            return -1.0;
        return std::fabs(a[1] - b[1]) + std::fabs(a[2] - b[2]);
    };
    double x0 = double(lo) / n, x1 = double(hi) / n;
    for (int i = 0; i < GAP_SEARCH_ITERATIONS; ++i) {
        const double m0 = x0 + (x1 - x0) / 3.0, m1 = x1 - (x1 - x0) / 3.0;
        angle_pair a0, b0, a1, b1;
        const double g0 = gap_at(m0, a0, b0), g1 = gap_at(m1, a1, b1);
        if (g0 < 0.0 || g1 < 0.0) break;
        if (g0 <= g1) x1 = m1;
        else x0 = m0;
    }
    angle_pair a, b;
    const double x = (x0 + x1) / 2.0;
    const double g = gap_at(x, a, b);
    if (g >= 0.0 && g < best_gap) {
        after = b;
        fraction = x;
    }
    return fraction;
}

}  // namespace

void linearise_multiaxis_move(vector3& start_tip, vector3& start_axis, vector3& start_normal,
                              const vector3& end_tip, const vector3& end_axis, const vector3& end_normal,
                              angle_pair& last_step, angle_pair& current, int& status) {
    status = 0;
    const int cut_into_steps =
        machine_model.linearise_multiaxis != 0 &&
        !(linearisation_state.first_multiaxis_move != 0 && configuration_store.intsp[LINEARISE_FIRST_MOVE_SETTING] == 0);
    const int not_a_cut =
        pending_move_flags.rapid_pending != 0 || multiaxis_motion_state.multiaxis_restart_state == 1;
    angle_pair after;
    const double s = cut_into_steps && not_a_cut ? branch_change_fraction(start_axis, end_axis, current, after) : -1.0;
    if (s < 0.0) {
        linearise_steps(start_tip, start_axis, start_normal, end_tip, end_axis, end_normal, last_step, current, status);
        return;
    }
    // Up to the change on the solution the move starts on, the turn onto the
    // other solution, and the rest of the move on it.
    const vector3 change_tip = between(start_tip, end_tip, s);
    const vector3 change_axis = between(start_axis, end_axis, s);
    const vector3 change_normal = between(start_normal, end_normal, s);
    if (s > 0.0) {
        linearise_steps(start_tip, start_axis, start_normal, change_tip, change_axis, change_normal, last_step,
                        current, status);
        if (status != 0) return;
    }
    set_move_start_frame(start_tip, start_axis, start_normal);
    set_move_end_frame(end_tip, end_axis, end_normal);
    set_step_start_fraction(0.0);
    last_step = after;
    // The tool turns in place onto the other solution, the tip held where it is.
    if (!turn_in_steps(start_tip, current, after, machine_model.linearisation_tolerance)) {
        status = MULTIAXIS_NOT_CONVERGED;
        return;
    }
    linearise_steps(start_tip, start_axis, start_normal, end_tip, end_axis, end_normal, last_step, current, status);
}

}  // namespace kv
