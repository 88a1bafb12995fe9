// Feed of a multi-axis step: the combined axis feed that moves the tool tip
// (or the contact point) over the part at the programmed feed, or the step's
// time for inverse-time feed; also the contact point of a move frame.
#include <algorithm>
#include <cmath>

#include "control/control.h"
#include "job/job.h"
#include "kinematics/kinematics.h"
#include "output/output.h"

namespace kv {

multiaxis_feed_t multiaxis_feed;
inverse_time_carry_t inverse_time_carry;

namespace {

constexpr int CONTACT_POINT_FEED_SETTING = 92;  // "contact point based feedrate"
constexpr int STATE_FLAG_TOOL_TIPS = 104;       // the cutfile's points are tool tips
constexpr double SMALLEST_COMBINED_LENGTH = 1e-4;
constexpr double SMALLEST_TIP_SPEED = 1e-4;
constexpr double CONTACT_PATH_ALLOWANCE = 1.01;  // contact path longer than the tip path by more: use the tip
constexpr double SHORTEST_STEP_TIME = 5e-5;      // minutes

vector3 difference(const vector3& a, const vector3& b) {
    vector3 d;
    for (int i = 1; i <= 3; ++i) d[i] = a[i] - b[i];
    return d;
}

vector3 first_three(const array1<double, 6>& p) {
    vector3 v;
    for (int i = 1; i <= 3; ++i) v[i] = p[i];
    return v;
}

// A vector made unit length; a zero vector stays zero.
vector3 unit(const vector3& v) {
    vector3 u = v;
    const double len = vector_length(v);
    if (len > 0.0)
        for (int i = 1; i <= 3; ++i) u[i] /= len;
    return u;
}

// The axis direction of the velocity formulas: absolute components, unit length.
vector3 absolute_unit(const vector3& v) {
    vector3 a;
    for (int i = 1; i <= 3; ++i) a[i] = std::fabs(v[i]);
    return unit(a);
}

// The programmed feed: per minute as it stands, per revolution times the
// spindle speed.
double programmed_feed() { return feed_per_minute_of(feed_state.feedrate); }

// A point of the move frames interpolated at a fraction of the move.
vector3 frame_at(const vector3 move_frame_t::*member, double fraction) {
    const vector3& s = linearisation_state.start_frame.*member;
    const vector3& e = linearisation_state.end_frame.*member;
    vector3 p;
    for (int i = 1; i <= 3; ++i) p[i] = s[i] + fraction * (e[i] - s[i]);
    return p;
}


// The part-frame tips of the committed machine position (at the previous
// angles) and of the current one (at the current angles).
void step_part_tips(vector3& start_tip, vector3& end_tip) {
    const motion_state_t& m = motion_state;
    start_tip = first_three(m.previous_position);
    inverse_kinematic_transform_point(start_tip, radians(m.previous_rotary_angles[2]),
                                      radians(m.previous_rotary_angles[1]));
    end_tip = first_three(m.position);
    inverse_kinematic_transform_point(end_tip, radians(m.rotary_angles[2]), radians(m.rotary_angles[1]));
}

// The decay of the carried excess with the distance from where it was last
// raised, over a length scale. A tool without a radius has no scale: the
// excess then counts in full at its raise point and not at all elsewhere.
double carried_excess_decay(double distance, double scale) {
    if (scale <= 0.0) return distance == 0.0 ? 1.0 : 0.0;
    const double q = distance / scale;
    return std::exp(-(q * q));
}

}  // namespace

void turn_vector_about_axis(const vector3& v, const vector3& axis, double angle, vector3& out) {
    matrix3 m;
    axis_rotation_matrix(axis, angle, m);
    const vector3 copy = v;  // out may be v itself
    vector_times_matrix3(copy, out, m);
}

double part_tip_move_length() {
    vector3 ts, te;
    step_part_tips(ts, te);
    return point_distance(ts, te);
}

void set_step_feed_by_tip_speed(double end_fraction) {
    const motion_state_t& m = motion_state;
    vector3 p = first_three(m.previous_position);
    vector3 q = first_three(m.position);
    if (configuration_store.intsp[CONTACT_POINT_FEED_SETTING] != 0) {
        const vector3 cs = frame_at(&move_frame_t::contact_point, linearisation_state.step_fraction[1]);
        const vector3 ce = frame_at(&move_frame_t::contact_point, end_fraction);
        vector3 ts, te;
        step_part_tips(ts, te);
        if (!(point_distance(cs, ce) > CONTACT_PATH_ALLOWANCE * point_distance(ts, te))) {
            p = cs;
            kinematic_transform_point(p, radians(m.previous_rotary_angles[2]), radians(m.previous_rotary_angles[1]));
            q = ce;
            kinematic_transform_point(q, radians(m.rotary_angles[2]), radians(m.rotary_angles[1]));
        }
    }
    angle_pair start_angles, end_angles;
    start_angles[1] = m.previous_rotary_angles[2];
    start_angles[2] = m.previous_rotary_angles[1];
    end_angles[1] = m.rotary_angles[2];
    end_angles[2] = m.rotary_angles[1];
    tip_speed_feed(p, q, start_angles, end_angles);
}

void tip_speed_feed(const vector3& start_point, const vector3& end_point, const angle_pair& start_angles,
                    const angle_pair& end_angles) {
    const machine_model_t& mm = machine_model;
    const vector3 d = difference(end_point, start_point);
    const double da = end_angles[1] - start_angles[1];
    const double de = end_angles[2] - start_angles[2];
    const double a1 = end_angles[1];
    const double e1 = end_angles[2];
    // Degrees count as lengths in the combined motion of the five axes.
    const double g = std::sqrt(dot_product(d, d) + da * da + de * de);
    if (g <= SMALLEST_COMBINED_LENGTH) return;
    const double h = programmed_feed();
    if (h <= angle_constants.angle_tolerance) return;

    const double t = g / h;  // the step's duration at feed h
    vector3 v;
    for (int i = 1; i <= 3; ++i) v[i] = d[i] / t;
    const vector3 a = absolute_unit(mm.azimuth_axis_vector);
    const vector3 e = absolute_unit(mm.elevation_axis_vector);
    const double k = angle_constants.degrees_to_radians;

    // u: the tip velocity relative to the part.
    vector3 u, wa, we, c1, c2;
    if (mm.machine_type == MACHINE_TABLE_TABLE) {
        // The elevation table rides on the azimuth table.
        for (int i = 1; i <= 3; ++i) wa[i] = -k * da * a[i] / t;
        vector3 e_turned;
        turn_vector_about_axis(e, a, -k * a1, e_turned);
        e_turned = unit(e_turned);
        for (int i = 1; i <= 3; ++i) we[i] = -k * de * e_turned[i] / t;
        vector3 centre = difference(mm.table_elevation_centre, mm.table_azimuth_centre);
        turn_vector_about_axis(centre, a, -k * a1, centre);
        for (int i = 1; i <= 3; ++i) centre[i] += mm.table_azimuth_centre[i];
        cross_product(wa, difference(end_point, mm.table_azimuth_centre), c1);
        cross_product(we, difference(end_point, centre), c2);
        for (int i = 1; i <= 3; ++i) u[i] = v[i] - c1[i] - c2[i];
    } else if (mm.machine_type == MACHINE_HEAD_TABLE || mm.machine_type == MACHINE_HEAD_HEAD) {
        for (int i = 1; i <= 3; ++i) wa[i] = k * da * a[i] / t;
        const vector3& hc = mm.tool_azimuth_centre;
        vector3 c{{-hc[1], -hc[2], -hc[3] - mm.tool_length}};
        turn_vector_about_axis(c, a, k * a1, c);
        for (int i = 1; i <= 3; ++i) we[i] = -k * de * e[i] / t;
        vector3 arm;
        for (int i = 1; i <= 3; ++i) arm[i] = end_point[i] + c[i] - mm.table_elevation_centre[i];
        cross_product(wa, c, c1);
        cross_product(we, arm, c2);
        for (int i = 1; i <= 3; ++i) u[i] = c1[i] + v[i] - c2[i];
    } else {
        // Head-head on an axis pair: reached through the unwinding and the
        // workplane tool-axis move.
        for (int i = 1; i <= 3; ++i) wa[i] = k * da * a[i] / t;
        const vector3& hce = mm.tool_elevation_centre;
        const vector3 w{{-hce[1], -hce[2], -hce[3] - mm.tool_length}};
        vector3 gv, hv, ca, e_turned;
        turn_vector_about_axis(w, e, k * e1, gv);
        turn_vector_about_axis(gv, a, k * a1, hv);
        for (int i = 1; i <= 3; ++i) ca[i] = hce[i] + gv[i] - mm.tool_azimuth_centre[i];
        turn_vector_about_axis(ca, a, k * a1, ca);
        turn_vector_about_axis(e, a, k * a1, e_turned);
        e_turned = unit(e_turned);
        for (int i = 1; i <= 3; ++i) we[i] = -k * de * e_turned[i] / t;
        cross_product(wa, ca, c1);
        cross_product(we, hv, c2);
        for (int i = 1; i <= 3; ++i) u[i] = c1[i] + v[i] + c2[i];
    }

    array1<double, 2>& values = multiaxis_feed.move_feed_values;
    const double speed = vector_length(u);
    if (speed >= SMALLEST_TIP_SPEED) {
        values[2] = speed * t / h;  // the time the tip path takes at feed h
        values[1] = g / values[2];
    } else {
        values[1] = h;
    }
}

void set_step_time_inverse(double end_fraction) {
    inverse_time_carry_t& carry = inverse_time_carry;
    const double start_fraction = linearisation_state.step_fraction[1];
    const double radius = tool_state.tool_values[2];
    const int contact_feed = configuration_store.intsp[CONTACT_POINT_FEED_SETTING] != 0;

    vector3 ts, te;
    step_part_tips(ts, te);
    const double dt = point_distance(ts, te);

    // A tip that hardly moves: the length travelled a little up the tool.
    const vector3 axis_s = frame_at(&move_frame_t::tool_axis, start_fraction);
    const vector3 axis_e = frame_at(&move_frame_t::tool_axis, end_fraction);
    vector3 ps, pe;
    for (int i = 1; i <= 3; ++i) {
        ps[i] = ts[i] + 0.1 * radius * axis_s[i];
        pe[i] = te[i] + 0.1 * radius * axis_e[i];
    }
    double l = dt > SMALLEST_TIP_SPEED ? dt : point_distance(ps, pe);

    if (contact_feed) {
        double c = point_distance(frame_at(&move_frame_t::contact_point, start_fraction),
                                  frame_at(&move_frame_t::contact_point, end_fraction));
        if (carry.excess > 0.0 && c > CONTACT_PATH_ALLOWANCE * dt) {
            const double f = carried_excess_decay(point_distance(te, carry.raise_point), radius) * carry.excess;
            c = std::max(0.1 * c, c - f);
            carry.excess = std::max(0.0, carry.excess - f);
        }
        if (c <= CONTACT_PATH_ALLOWANCE * dt) l = c;
    }

    const double h = programmed_feed();
    if (h <= SMALLEST_COMBINED_LENGTH) return;
    array1<double, 2>& values = multiaxis_feed.move_feed_values;
    values[2] = l / h;

    if (values[2] < SHORTEST_STEP_TIME && contact_feed) {
        const double m = 0.1 * dt;
        if (m > l) {
            const double kept = carry.excess > 0.0
                ? carried_excess_decay(point_distance(te, carry.raise_point), 0.05 * radius) * carry.excess
                : 0.0;
            carry.excess = m + kept;
            carry.raise_point = te;
            values[2] = m / h;
        }
        return;
    }
    // A step of no length has no time: its feed value stays as it was.
    if (values[2] > 0.0) values[1] = 1.0 / values[2];
}

void contact_point_offset(double tip_radius, double tool_radius, const vector3& normal, vector3& offset) {
    const double a = tip_radius;
    const double r = tool_radius;
    const vector3& n = normal;
    if (std::fabs(n[1]) > 1e-7 || std::fabs(n[2]) > 1e-7) {
        // The torus centre circle point r - a from the axis, against the
        // normal's horizontal direction, then a along the negative normal.
        const double phi = std::atan2(-n[2], -n[1]);
        offset[1] = std::cos(phi) * (r - a) - n[1] * a;
        offset[2] = std::sin(phi) * (r - a) - n[2] * a;
        offset[3] = a - n[3] * a;
    } else {
        offset.fill(0.0);
    }
}

void frame_contact_point(const vector3& tip, const vector3& tool_axis, const vector3& normal,
                         vector3& contact_point) {
    // The half turn about the bisector of the tool axis and +Z brings the tool
    // axis onto +Z, where the offset is computed.
    vector3 b;
    const vector3 z{{0.0, 0.0, 1.0}};
    for (int i = 1; i <= 3; ++i) b[i] = (tool_axis[i] + z[i]) / 2.0;
    if (vector_length(b) <= angle_constants.angle_tolerance) b = vector3{{1.0, 0.0, 0.0}};
    b = unit(b);
    const double turn = vector_angle(b, z) > 1e-5 ? angle_constants.pi_value : 0.0;

    vector3 tip_t, normal_t, axis_t, offset;
    turn_vector_about_axis(tip, b, turn, tip_t);
    turn_vector_about_axis(normal, b, turn, normal_t);
    turn_vector_about_axis(tool_axis, b, turn, axis_t);
    const double a = tool_state.spindle_values[2];
    contact_point_offset(a, tool_state.tool_values[2], normal_t, offset);
    vector3 c;
    for (int i = 1; i <= 3; ++i) c[i] = tip_t[i] + offset[i];
    if (get_state_flag(STATE_FLAG_TOOL_TIPS) == 0)  // the points are tool centres
        for (int i = 1; i <= 3; ++i) c[i] -= a * axis_t[i];
    turn_vector_about_axis(c, b, -turn, contact_point);
}

}  // namespace kv
