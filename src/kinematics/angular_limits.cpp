// Angular limits of a multi-axis move: where along a step an angle reaches
// its limit, the change to the other rotary solution there, and the
// retract-and-reconfigure that withdraws the tool, turns the axes and plunges.
#include <algorithm>
#include <cmath>

#include "control/control.h"
#include "job/job.h"
#include "kinematics/kinematics.h"
#include "output/output.h"

namespace kv {

namespace {

constexpr int MULTIAXIS_FEED_SETTING = 71;          // multi-axis feed mode when 1
constexpr int INVERSE_TIME_SETTING = 72;            // inverse-time feed when 1
constexpr int RETRACT_AT_LIMIT_SETTING = 83;        // "retract at angular limit"
constexpr int FULL_REWIND_SETTING = 95;             // "full rewind at limit"
constexpr int MINIMISE_TOOLCHANGE_SETTING = 110;    // "minimise retracts at toolchange"
constexpr int RECONFIGURE_STYLE_SETTING = 100;      // "retract and reconfigure style"
constexpr int STYLE_ROTATE_THEN_REPOSITION = 0;
constexpr int STYLE_COMBINED = 5000;                // "combine"
constexpr int STYLE_LINEARISED = 6000;              // "linearise"
constexpr int RAPID_FEEDRATE_REAL = 3;              // "rapid feedrate"
constexpr int MESSAGE_RECONFIGURED = 273;
constexpr int X_WORD_KEY = 8;

constexpr double EXCEEDED_MARGIN = 1e-12;
constexpr double OTHER_SOLUTION_MARGIN = 1e-5;      // the other solution counts as inside
constexpr double BRACKET_WIDTH = 1e-9;
constexpr double ROOT_TOLERANCE = 1e-9;
constexpr double WRAP_RANGE = 1080.0;               // degrees of range from which angles wrap
constexpr double WRAP_CHOICE = 181.0;
constexpr double MARGIN_TIE = 1e-10;
constexpr int ANGLE_ROOT_ITERATIONS = 20;
constexpr int MIN_BISECTIONS = 40;
constexpr int MAX_ROTATION_STEPS = 1000000;
constexpr double SHORTEST_WITHDRAWAL = 1e-5;
constexpr double SMALLEST_STEP_FRACTION = 1e-12;


vector3 between(const vector3& a, const vector3& b, double s) {
    vector3 p;
    for (int i = 1; i <= 3; ++i) p[i] = a[i] + s * (b[i] - a[i]);
    return p;
}

vector3 machine_position_of(const vector3& tip, const angle_pair& angles) {
    vector3 m = tip;
    kinematic_transform_point(m, radians(angles[1]), radians(angles[2]));
    return m;
}

void set_position(const vector3& p) {
    for (int i = 1; i <= 3; ++i) motion_state.position[i] = p[i];
}

void set_rotary_angles(const angle_pair& angles) {
    motion_state.rotary_angles[1] = angles[2];
    motion_state.rotary_angles[2] = angles[1];
}

double angle_minimum(int k) { return k == 1 ? azimuth_minimum() : elevation_minimum(); }
double angle_maximum(int k) { return k == 1 ? azimuth_maximum() : elevation_maximum(); }

// Azimuth below, azimuth above, elevation below, elevation above its limit.
array1<int, 4> exceeded_limits(const angle_pair& angles) {
    array1<int, 4> e;
    for (int k = 1; k <= 2; ++k) {
        e[2 * k - 1] = angles[k] < angle_minimum(k) - EXCEEDED_MARGIN ? 1 : 0;
        e[2 * k] = angles[k] > angle_maximum(k) + EXCEEDED_MARGIN ? 1 : 0;
    }
    return e;
}

// With "full rewind at limit" each axis that exceeds a limit has its
// reference wrapped near the middle of a wide range.
void wrap_references(angle_pair& reference, const array1<int, 4>& exceeded) {
    if (configuration_store.intsp[FULL_REWIND_SETTING] == 0) return;
    for (int k = 1; k <= 2; ++k)
        if (exceeded[2 * k - 1] || exceeded[2 * k])
            reference[k] = wrap_angle_near_range_middle(reference[k], angle_minimum(k), angle_maximum(k));
}

int outside_limits(const angle_pair& angles, double margin) {
    for (int k = 1; k <= 2; ++k)
        if (angles[k] < angle_minimum(k) - margin || angles[k] > angle_maximum(k) + margin) return 1;
    return 0;
}

int angles_differ(const angle_pair& a, const angle_pair& b) {
    const double tol = angle_constants.angle_tolerance;
    return std::fabs(a[1] - b[1]) >= tol || std::fabs(a[2] - b[2]) >= tol;
}

// The current toolpath's row; an index below 1 is taken as 1 and kept.
int reconfigure_toolpath_row() {
    if (toolpath_tables.toolpath_index < 1) toolpath_tables.toolpath_index = 1;
    return toolpath_row(toolpath_tables.toolpath_index);
}

// The angles (degrees) nearest the reference for the axis x of the way
// along the searched step.
angle_pair angles_at_fraction(double x) {
    const solver_state_t& s = solver_state;
    const vector3 axis = between(s.start_axis, s.end_axis, x);
    angle_pair radians_out, degrees = s.start_angles;
    int status = 0;
    solve_nearest_solution(axis, radians_out, degrees, s.start_angles, status);
    return degrees;
}

// The rapid feedrate as a feed of the tool tip.
double rapid_tip_feed() { return std::fabs(spval(RAPID_FEEDRATE_REAL)); }

// The feed of one block of the retract-and-reconfigure. feed_value is the
// programmed feed that fedrat writes. In multi-axis feed mode the feed word
// comes from the step's feed values instead, which still hold the last step
// of the cut: they become those of a move at tip_feed (per minute) over the
// block's combined length, degrees counted as lengths as the tip-speed feed
// counts them, so that the block runs at its own feed and not at the cut's.
void set_block_feed(double feed_value, double tip_feed) {
    feed_state.feedrate = feed_value;
    if (configuration_store.intsp[MULTIAXIS_FEED_SETTING] != 1) return;
    const motion_state_t& m = motion_state;
    double squares = 0.0;
    for (int i = 1; i <= 3; ++i) squares += (m.position[i] - m.previous_position[i]) * (m.position[i] - m.previous_position[i]);
    for (int k = 1; k <= 2; ++k)
        squares += (m.rotary_angles[k] - m.previous_rotary_angles[k]) * (m.rotary_angles[k] - m.previous_rotary_angles[k]);
    array1<double, 2>& values = multiaxis_feed.move_feed_values;
    values[1] = tip_feed;
    const double length = std::sqrt(squares);
    if (length > SHORTEST_WITHDRAWAL && tip_feed > 0.0) values[2] = length / tip_feed;
}

// The tip feed of a turn at the retract point: the rapid once the tool is
// withdrawn, else the feed in force.
double rotation_tip_feed() {
    return machine_model.withdrawal >= SHORTEST_WITHDRAWAL ? rapid_tip_feed() : feed_per_minute_of(feed_state.feedrate);
}

// The unit direction of a tool axis in the frame of the tips, which the
// retract and the plunge move along: the tool vectors are turned by the part
// origin's angles, the tips are not.
vector3 withdrawal_direction(const vector3& tool_axis) {
    vector3 axis = tool_axis;
    vector_to_tip_frame(axis);
    normalize_vector(axis);
    return axis;
}

}  // namespace

double x_word_resolution() {
    const int w = configuration_store.key[X_WORD_KEY];
    const int m = w >= 1 && w < NO_WORD ? MULT(w) : 0;
    return m != 0 ? 1.0 / m : 1.0;
}

void solve_nearest_solution(const vector3& tool_axis, angle_pair& radians_out, angle_pair& degrees,
                            const angle_pair& reference, int& status) {
    angle_pair s1, s2;
    status = 0;
    compute_rotary_solutions(tool_axis, s1, s2, reference[1], reference[2], status);
    if (status != 0) return;
    if (machine_model.four_axis_machine != 0) {
        radians_out = s1;
        unwind_angle_pair(s1, degrees, reference[1], reference[2]);
        return;
    }
    angle_pair unwound1, unwound2;
    const int chosen = choose_nearest_solution(s1, s2, reference[1], reference[2], degrees, unwound1, unwound2);
    if (chosen == -1) {
        status = ROTARY_OUTSIDE_LIMITS;
        return;
    }
    radians_out = chosen == 1 ? s1 : s2;
}

double wrap_angle_near_range_middle(double angle, double minimum, double maximum) {
    if (maximum - minimum < WRAP_RANGE) return angle;
    const double middle = (minimum + maximum) / 2.0;
    const double above = angle_at_or_above(middle, angle);
    if (std::fabs(above - middle) > WRAP_CHOICE) return angle_at_or_below(middle, angle);
    return above;
}

void find_angle_root(fraction_function g, double lower, double upper, double target, int iterations,
                     double& fraction, int& found) {
    double ga = g(lower) - target;
    double gb = g(upper) - target;
    if (std::fabs(ga) <= EXCEEDED_MARGIN) ga = 0.0;
    if (std::fabs(gb) <= EXCEEDED_MARGIN) gb = 0.0;
    if (ga * gb > EXCEEDED_MARGIN) {
        fraction = upper;
        found = 0;
        return;
    }
    found = 1;
    double xa = lower, xb = upper;
    double x = lower, gx = ga;
    for (int n = 0; n < iterations; ++n) {
        if (std::fabs(gx) <= ROOT_TOLERANCE || std::fabs(xa - xb) <= BRACKET_WIDTH) {
            fraction = x;
            return;
        }
        // Equal end values (both on one side, by less than the margin) give
        // no secant: the search ends where it is.
        if (ga == gb) break;
        const double xn = (xb * ga - xa * gb) / (ga - gb);
        const double gn = g(xn) - target;
        if (gn * ga <= 0.0) {
            xb = xn;
            gb = gn;
            if (gn * gx > 0.0) ga /= 2.0;
        } else {
            xa = xn;
            ga = gn;
            if (gn * gx > 0.0) gb /= 2.0;
        }
        x = xn;
        gx = gn;
    }
    fraction = x;
    found = (std::fabs(xa - xb) <= BRACKET_WIDTH || std::fabs(gx) <= ROOT_TOLERANCE) ? 1 : 0;
}

double bisect_fraction(fraction_predicate p, double lower, double upper, int iterations) {
    double lo = lower, hi = upper;
    for (int n = 0; n < iterations && std::fabs(lo - hi) > BRACKET_WIDTH; ++n) {
        const double mid = (lo + hi) / 2.0;
        if (p(mid))
            lo = mid;
        else
            hi = mid;
    }
    return lo;
}

double azimuth_at_fraction(double x) { return angles_at_fraction(x)[1]; }
double elevation_at_fraction(double x) { return angles_at_fraction(x)[2]; }

int axis_within_limits_at(double x) { return outside_limits(angles_at_fraction(x), EXCEEDED_MARGIN) ? 0 : 1; }

double limit_crossing_fraction(const array1<int, 4>& exceeded, const vector3& start_axis, const vector3& step_axis,
                               const angle_pair& current, int& exact) {
    const solver_state_t kept = solver_state;
    set_solver_state(kept.start_tip, kept.end_tip, start_axis, step_axis, kept.machine_start, current, current);
    const int azimuth_exceeded = exceeded[1] || exceeded[2];
    const int elevation_exceeded = exceeded[3] || exceeded[4];
    double xe = 1.0, xa = 1.0;
    int found = 0;
    if (elevation_exceeded) {
        const double limit = exceeded[3] ? elevation_minimum() : elevation_maximum();
        find_angle_root(elevation_at_fraction, 0.0, 1.0, limit, ANGLE_ROOT_ITERATIONS, xe, found);
    }
    if (azimuth_exceeded) {
        const double limit = exceeded[1] ? azimuth_minimum() : azimuth_maximum();
        find_angle_root(azimuth_at_fraction, 0.0, 1.0, limit, ANGLE_ROOT_ITERATIONS, xa, found);
    }
    if (found) {
        exact = 1;
        if (elevation_exceeded) return azimuth_exceeded ? std::min(xe, xa) : xe;
        return xa;
    }
    exact = 0;
    // Five halvings for each whole degree between the two axes.
    const double degrees = vector_angle(start_axis, step_axis) / angle_constants.degrees_to_radians;
    const int n = std::max(MIN_BISECTIONS, 5 * static_cast<int>(degrees));
    return bisect_fraction(axis_within_limits_at, 0.0, 1.0, n);
}

int choose_by_limit_margin(const angle_pair& solution1, const angle_pair& solution2, double previous_azimuth,
                           double previous_elevation, angle_pair& degrees, angle_pair& unwound1,
                           angle_pair& unwound2) {
    unwind_angle_pair(solution1, unwound1, previous_azimuth, previous_elevation);
    unwind_angle_pair(solution2, unwound2, previous_azimuth, previous_elevation);
    if (configuration_store.intsp[MINIMISE_TOOLCHANGE_SETTING] != 0 ||
        multiaxis_motion_state.multiaxis_restart_state != 1) {
        auto margin = [](const angle_pair& s) {
            double m = std::fabs(s[1] - azimuth_minimum());
            m = std::min(m, std::fabs(s[1] - azimuth_maximum()));
            m = std::min(m, std::fabs(s[2] - elevation_minimum()));
            return std::min(m, std::fabs(s[2] - elevation_maximum()));
        };
        const double m1 = margin(unwound1), m2 = margin(unwound2);
        int chosen = 1;
        if (std::fabs(m1 - m2) > MARGIN_TIE) {
            chosen = m1 > m2 ? 1 : 2;
        } else {
            const double c1 = std::fabs(unwound1[1] - previous_azimuth) + std::fabs(unwound1[2] - previous_elevation);
            const double c2 = std::fabs(unwound2[1] - previous_azimuth) + std::fabs(unwound2[2] - previous_elevation);
            chosen = c2 < c1 ? 2 : 1;
        }
        degrees = chosen == 1 ? unwound1 : unwound2;
        return chosen;
    }
    angle_pair s1 = unwound1, s2 = unwound2;
    return choose_solution_within_limits(s1, s2, previous_azimuth, previous_elevation, degrees);
}

void handle_angular_limit(angle_pair& step_angles, angle_pair& current, vector3& start_axis,
                          const vector3& step_axis, vector3& start_tip, const vector3& step_tip,
                          const vector3& machine_start, double& fraction, int& status) {
    status = 0;
    const array1<int, 4> exceeded = exceeded_limits(step_angles);
    angle_pair reference = current;
    wrap_references(reference, exceeded);

    angle_pair rad, new_step;
    if (pending_move_flags.rapid_pending != 0 || multiaxis_motion_state.multiaxis_restart_state == 1) {
        // A rapid or a first move is solved into the limits and output at once.
        solve_rotary_angles(step_axis, rad, new_step, reference[1], reference[2], status);
        if (status != 0) return;
        set_position(machine_position_of(step_tip, new_step));
        set_rotary_angles(new_step);
        output_multiaxis_step(new_step[1], new_step[2], fraction, 0.0);
        current = new_step;
        step_angles = new_step;
        start_axis = step_axis;
        start_tip = step_tip;
        return;
    }

    int exact = 0;
    const double t = limit_crossing_fraction(exceeded, start_axis, step_axis, current, exact);
    const double start_fraction = get_step_start_fraction();
    double crossing_fraction = start_fraction + (fraction - start_fraction) * t;
    const vector3 crossing_axis = between(start_axis, step_axis, t);
    const vector3 crossing_tip = between(start_tip, step_tip, t);

    solve_rotary_angles(step_axis, rad, new_step, current[1], current[2], status);
    if (status != 0) return;
    angle_pair crossing;
    solve_nearest_solution(crossing_axis, rad, crossing, current, status);
    if (status != 0) return;
    if (exact) {
        if (exceeded[3]) crossing[2] = elevation_minimum();
        else if (exceeded[4]) crossing[2] = elevation_maximum();
        if (exceeded[1]) crossing[1] = azimuth_minimum();
        else if (exceeded[2]) crossing[1] = azimuth_maximum();
    }
    reference = new_step;
    wrap_references(reference, exceeded);
    angle_pair other;
    solve_nearest_solution(crossing_axis, rad, other, reference, status);
    if (status != 0) return;

    step_angles = new_step;
    reconfigure_at_limit(crossing, other, crossing_axis, crossing_tip, start_axis, step_axis, start_tip, step_tip,
                         machine_start, crossing_fraction, current, new_step, status);
    if (status != 0) {
        angle_pair second;
        solve_rotary_angles(crossing_axis, rad, second, new_step[1], new_step[2], status);
        if (status != 0) return;
        reconfigure_at_limit(crossing, second, crossing_axis, crossing_tip, start_axis, step_axis, start_tip,
                             step_tip, machine_start, crossing_fraction, current, new_step, status);
    }
    fraction = crossing_fraction;
}

void reconfigure_at_limit(angle_pair& crossing, angle_pair& other, const vector3& crossing_axis,
                          const vector3& crossing_tip, vector3& start_axis, const vector3& step_axis,
                          vector3& start_tip, const vector3& step_tip, const vector3& machine_start,
                          double& crossing_fraction, angle_pair& current, const angle_pair& step_angles,
                          int& status) {
    status = 0;
    const double tol = machine_model.linearisation_tolerance;
    if (angles_differ(other, crossing)) {
        vector3 axis = crossing_axis, tip = crossing_tip;
        angle_pair turning_from = crossing;
        if (outside_limits(other, OTHER_SOLUTION_MARGIN)) {
            // The other solution cannot be reached at the crossing: the
            // machine reconfigures where the step starts, from the angles it
            // has there.
            angle_pair rad;
            solve_nearest_solution(start_axis, rad, other, step_angles, status);
            if (status != 0) return;
            if (outside_limits(other, OTHER_SOLUTION_MARGIN)) {
                status = ROTARY_OUTSIDE_LIMITS;
                return;
            }
            axis = start_axis;
            tip = start_tip;
            turning_from = current;
            crossing_fraction = get_step_start_fraction();
        } else {
            set_position(machine_position_of(tip, crossing));
            set_rotary_angles(crossing);
            output_multiaxis_step(crossing[1], crossing[2], crossing_fraction, 0.0);
        }
        if (configuration_store.intsp[RETRACT_AT_LIMIT_SETTING] == 0) {
            status = MULTIAXIS_RECONFIGURE_FORBIDDEN;
            return;
        }
        retract_and_reconfigure(axis, other, turning_from);
        current = other;
        start_axis = axis;
        start_tip = tip;
        return;
    }

    // Both solutions meet at the crossing: the move goes on with a step that
    // stays within the tolerance.
    set_solver_state(start_tip, step_tip, start_axis, step_axis, machine_start, current, step_angles);
    double x = 0.0, deviation = 0.0;
    int found = 0;
    find_deviation_fraction(plain_deviation_of_fraction, 0.0, 1.0, 0.5 * tol, tol, DEVIATION_SEARCH_ITERATIONS, x,
                            deviation, found);
    if (!found || x < SMALLEST_STEP_FRACTION) {
        status = MULTIAXIS_NOT_CONVERGED;
        return;
    }
    vector3 tip, machine, axis;
    angle_pair angles;
    evaluate_step_plain(start_tip, step_tip, start_axis, step_axis, machine_start, x, current, tip, machine, axis,
                        angles, deviation);
    const double start_fraction = get_step_start_fraction();
    const double found_fraction =
        start_fraction + (linearisation_state.limit_step_end_fraction - start_fraction) * x;
    set_position(machine);
    set_rotary_angles(angles);
    output_multiaxis_step(angles[1], angles[2], found_fraction, deviation);
    current = angles;
    motion_state.previous_rotary_angles[1] = angles[2];
    motion_state.previous_rotary_angles[2] = angles[1];
    for (int i = 1; i <= 3; ++i) motion_state.previous_position[i] = motion_state.position[i];
    start_axis = axis;
    // The machine now stands at the found tip: the move goes on from there.
    start_tip = tip;
    crossing_fraction = found_fraction;
}

void retract_and_reconfigure(const vector3& tool_axis, const angle_pair& target, angle_pair& current) {
    multiaxis_motion_state.reconfiguring = 1;
    record_warning(MESSAGE_RECONFIGURED, 0);
    const double kept_feed = feed_state.feedrate;
    const double withdrawal = machine_model.withdrawal;
    double rapid = rapid_tip_feed();
    if (configuration_store.intsp[INVERSE_TIME_SETTING] == 1 && withdrawal != 0.0) rapid /= withdrawal;
    // The last of the way back is a cut again: at the plunge feed, but never
    // faster than the move that was interrupted.
    const double toolpath_plunge = toolpath_tables.toolpath_plunge_rate[reconfigure_toolpath_row()];
    const double plunge = toolpath_plunge > 0.0 ? std::min(toolpath_plunge, kept_feed) : kept_feed;

    vector3 retract_point;
    retract_along_tool_axis(tool_axis, retract_point, withdrawal, rapid);
    switch (configuration_store.intsp[RECONFIGURE_STYLE_SETTING]) {
    case STYLE_ROTATE_THEN_REPOSITION:
        rotate_at_retract_point(target);
        reposition_at_retract_point(target, retract_point, rapid);
        break;
    case STYLE_COMBINED:
        rotate_and_reposition_combined(target, retract_point);
        break;
    case STYLE_LINEARISED:
        rotate_in_steps(current, target, retract_point);
        break;
    default:
        break;  // no rotation block
    }
    plunge_along_tool_axis(tool_axis, target, retract_point, withdrawal, rapid, plunge);
    feed_state.feedrate = kept_feed;
    multiaxis_motion_state.reconfiguring = 0;
}

void retract_along_tool_axis(const vector3& tool_axis, vector3& retract_point, double distance, double feed_value) {
    motion_state_t& ms = motion_state;
    const double a = radians(ms.previous_rotary_angles[2]);
    const double e = radians(ms.previous_rotary_angles[1]);
    vector3 tip;
    for (int i = 1; i <= 3; ++i) tip[i] = ms.previous_position[i];
    inverse_kinematic_transform_point(tip, a, e);
    const vector3 axis = withdrawal_direction(tool_axis);
    for (int i = 1; i <= 3; ++i) retract_point[i] = tip[i] + distance * axis[i];
    vector3 machine = retract_point;
    kinematic_transform_point(machine, a, e);
    set_position(machine);
    round_positions();
    compute_increments();
    if (distance >= SHORTEST_WITHDRAWAL) {
        gset(2, 2);
        set_block_feed(feed_value, rapid_tip_feed());
        output_linear_fiveaxis();
    }
    commit_current_position();
}

void rotate_at_retract_point(const angle_pair& target) {
    set_rotary_angles(target);
    int elevation_changed = 0, azimuth_changed = 0;
    set_rotary_axis_words(0.0, elevation_changed, azimuth_changed);
    round_positions();
    compute_increments();
    gset(2, 2);
    set_block_feed(feed_state.feedrate, rotation_tip_feed());
    output_linear_fiveaxis();
}

void reposition_at_retract_point(const angle_pair& target, const vector3& retract_point, double feed_value) {
    set_position(machine_position_of(retract_point, target));
    round_positions();
    compute_increments();
    gset(2, 2);
    set_block_feed(feed_value, rapid_tip_feed());
    output_linear_fiveaxis();
    commit_current_position();
}

void rotate_and_reposition_combined(const angle_pair& target, const vector3& retract_point) {
    set_rotary_angles(target);
    set_position(machine_position_of(retract_point, target));
    int elevation_changed = 0, azimuth_changed = 0;
    set_rotary_axis_words(0.0, elevation_changed, azimuth_changed);
    round_positions();
    compute_increments();
    gset(2, 2);
    set_block_feed(feed_state.feedrate, rotation_tip_feed());
    output_linear_fiveaxis();
    commit_current_position();
}

int turn_in_steps(const vector3& point, angle_pair& current, const angle_pair& target, double allowed) {
    for (int n = 0; n < MAX_ROTATION_STEPS; ++n) {
        const vector3 at_target = machine_position_of(point, target);
        const vector3 at_current = machine_position_of(point, current);
        double deviation = step_deviation(point, point, at_current, at_target, current, target, 0);
        angle_pair step = target;
        const int last = deviation <= allowed;
        if (!last) {
            set_solver_state(point, point, point, point, at_current, current, target);
            double x = 0.0;
            int found = 0;
            find_deviation_fraction(fixed_tip_rotation_deviation, 0.0, 1.0, 0.5 * allowed, allowed,
                                    DEVIATION_SEARCH_ITERATIONS, x, deviation, found);
            // A step of no length would turn nothing: the turn ends there.
            if (!found || x < SMALLEST_STEP_FRACTION) return 0;
            for (int k = 1; k <= 2; ++k) step[k] = current[k] + x * (target[k] - current[k]);
        }
        for (int i = 1; i <= 3; ++i) motion_state.previous_position[i] = at_current[i];
        set_position(last ? at_target : machine_position_of(point, step));
        set_rotary_angles(step);
        motion_state.previous_rotary_angles[1] = current[2];
        motion_state.previous_rotary_angles[2] = current[1];
        output_multiaxis_step(step[1], step[2], 0.0, deviation);
        current = step;
        if (last) return 1;
    }
    return 0;
}

void rotate_in_steps(angle_pair& current, const angle_pair& target, const vector3& retract_point) {
    // The retract point, fixed in the part frame, may leave its place by at
    // most 20 tolerances, but not by less than 1000 output resolutions. A turn
    // that finds no step ends where it is: the plunge follows all the same.
    const double allowed =
        std::max(20.0 * machine_model.linearisation_tolerance, 1000.0 * x_word_resolution());
    turn_in_steps(retract_point, current, target, allowed);
}

void plunge_along_tool_axis(const vector3& tool_axis, const angle_pair& target, const vector3& retract_point,
                            double distance, double rapid_value, double plunge_feed) {
    const vector3 a = withdrawal_direction(tool_axis);
    const double radius = toolpath_tables.toolpath_tool_radius[reconfigure_toolpath_row()];
    // The last part of the way back is made at the plunge feed.
    const double approach = radius > 0.0 ? 2.0 * radius : 0.1 * distance;
    vector3 p;
    for (int i = 1; i <= 3; ++i) p[i] = retract_point[i] - (distance - approach) * a[i];
    set_position(machine_position_of(p, target));
    round_positions();
    compute_increments();
    if (distance >= SHORTEST_WITHDRAWAL) {
        gset(2, 2);
        set_block_feed(rapid_value, rapid_tip_feed());
        output_linear_fiveaxis();
    }
    commit_current_position();

    for (int i = 1; i <= 3; ++i) p[i] = retract_point[i] - distance * a[i];
    set_position(machine_position_of(p, target));
    round_positions();
    compute_increments();
    gset(2, 2);
    set_block_feed(plunge_feed, feed_per_minute_of(plunge_feed));
    if (distance >= SHORTEST_WITHDRAWAL) output_linear_fiveaxis();
    commit_current_position();
}

}  // namespace kv
