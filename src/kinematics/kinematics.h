// Multi-axis kinematics: vector, matrix and Euler-angle routines, the equation
// solvers, the machine model of the rotary axes and the start state of the
// multi-axis motion.
#pragma once

#include <span>

#include "runtime/runtime.h"

namespace kv {

// --- vectors, matrices and Euler angles ----------------------------------------
// A vector is three reals (x, y, z). Matrices are stored row by row, element
// (r, c) of a 3x3 matrix at 3(r-1)+c, of a 4x4 matrix at 4(r-1)+c. A point or a
// direction is a row vector multiplied on the left, p' = p·M; a 4x4 transform
// keeps its translation in row 4, and applying M1 first and M2 second is M1·M2.
using vector3 = array1<double, 3>;
using point4 = array1<double, 4>;
using matrix3 = array1<double, 9>;
using matrix4 = array1<double, 16>;

// Tolerances of the two vector families: the coarse one serves set-up checks,
// workplanes and moves; the fine one the rotary-axis frame and the solvers.
constexpr double VECTOR_TOLERANCE = 1e-5;
constexpr double VECTOR_TOLERANCE_FINE = 1e-9;
constexpr double RADIANS_TO_DEGREES = 57.29577951308232;

// Angle constants of the multi-axis routines. They hold their values from the
// program's start, so that a routine called before the machine set-up sees
// them too; the set-up sets them again.
struct angle_constants_t {
    double degrees_to_radians = 0.017453292519943295;  // atan(1)/45
    double pi_value = 3.141592653589793;               // 4·atan(1)
    double half_pi = 1.5707963267948966;               // 2·atan(1)
    double angle_tolerance = static_cast<double>(1e-4f);  // 9.999999747378752e-05
};
extern angle_constants_t angle_constants;

double vector_length(const vector3& v);
void normalize_vector(vector3& v);
double vector_angle(const vector3& a, const vector3& b);
void unit_vector_with_length(const vector3& v, vector3& unit, double& length);
double dot_product(const vector3& a, const vector3& b);
void cross_product(const vector3& a, const vector3& b, vector3& out);
double point_distance(const vector3& p, const vector3& q);
void split_vector_along_axis(const vector3& v, const vector3& axis, vector3& along,
                             vector3& across, double& length);
double max_real(double a, double b);
double vector_length_fine(const vector3& v);
void normalize_vector_fine(vector3& v);
double vector_angle_fine(const vector3& a, const vector3& b);

void vector_times_matrix3(const vector3& v, vector3& out, const matrix3& m);
void transform_initial_tool_vector(const matrix3& m, vector3& out);
void matrix3_product(const matrix3& a, const matrix3& b, matrix3& out);  // out = b·a
void axis_rotation_matrix(const vector3& axis, double angle, matrix3& out);
void axis_rotation_matrix_fine(const vector3& axis, double angle, matrix3& out);
void rotate_about_axis(const vector3& v, const vector3& axis, double angle, vector3& out);
void transform_point4(const point4& p, point4& out, const matrix4& m);
void matrix4_product(const matrix4& a, const matrix4& b, matrix4& out);  // out = b·a
void matrix4_inverse(const matrix4& m, matrix4& out);
void rotate_point_about_centre(const matrix4& m, const vector3& centre, vector3& p);
double distance_from_line(const vector3& p, const vector3& q, const vector3& d);

// Status of solve_linear_system.
constexpr int LINEAR_SOLVED = 0;
constexpr int LINEAR_SINGULAR = 1;
constexpr int LINEAR_BAD_SIZE = 2;
// a holds n rows of row length l (l > n); column n+1 is work space.
void solve_linear_system(std::span<double> solution, std::span<const double> rhs,
                         std::span<double> a, int n, int l, int& status);
void matrix_to_euler_angles(const matrix3& m, vector3& angles, int order, int& status);

// --- equation solvers ------------------------------------------------------------
using circle_points = array1<double, 2>;

double clamp_unit(double x);
int unit_circle_line_intersection(double a, double b, double c, circle_points& x, circle_points& y);
void solve_unit_circle_line(double a, double b, double c, circle_points& x, circle_points& y,
                            int& count);

// Polynomial roots: coefficients in ascending order (coefficient i is that of
// t to the power i-1); the distinct real roots in ascending order, and their count.
using quadratic_coefficients = array1<double, 3>;
using cubic_coefficients = array1<double, 4>;
using quartic_coefficients = array1<double, 5>;
using polynomial_roots = array1<double, 4>;
int solve_quadratic(const quadratic_coefficients& c, polynomial_roots& roots);
int solve_cubic(const cubic_coefficients& c, polynomial_roots& roots);
int solve_cubic_polished(const cubic_coefficients& c, polynomial_roots& roots);
// degree_dropped: 1 when the quartic's leading coefficient vanishes, so that the
// equation was solved as a polynomial of lower degree.
int solve_quartic(const quartic_coefficients& c, polynomial_roots& roots, int& degree_dropped);

// Points (cos t, sin t) on the unit circle that satisfy
// A x² + B xy + C y² + D x + E y + F = 0, coefficients (A, B, C, D, E, F).
using conic_coefficients = array1<double, 6>;
using conic_points = array1<double, 4>;
int unit_circle_conic_intersection(const conic_coefficients& k, conic_points& x, conic_points& y);

// --- machine model ---------------------------------------------------------------
// Machine types.
constexpr int MACHINE_NOT_SET = 0;        // the set-up has not run
constexpr int MACHINE_NO_ROTARY = -1;     // no rotary configuration
constexpr int MACHINE_TABLE_TABLE = 1;    // both rotations in the table
constexpr int MACHINE_HEAD_TABLE = 2;     // azimuth in the head, elevation in the table
constexpr int MACHINE_HEAD_HEAD = 3;
constexpr int MACHINE_HEAD_PAIR = 4;      // head-head on a fixed axis pair (subtypes 21-25)

// The solver frame of the five-axis solution: the half turn (or the identity)
// that takes the primary rotary axis onto +Z, and the secondary axis and the
// initial tool vector expressed in it.
struct rotary_axis_frame_t {
    matrix3 matrix;
    vector3 secondary_axis;
    vector3 initial_tool_vector;
};

// Rotary axes, centres, limits and switches of the machine, built once per
// control load by setup_multiaxis_kinematics.
struct machine_model_t {
    int machine_type = MACHINE_NOT_SET;
    int machine_subtype = 0;                 // 0, or the head axis pair 21..25
    int four_axis_machine = 0;               // only one rotary axis in use
    // "spindle x/y/z/w motion", "spindle azimuth rotation", "spindle elevation
    // rotation"; only 5 and 6 (that rotation sits in the head) are used.
    array1<int, 6> spindle_motion_flags;
    vector3 azimuth_axis_vector;
    vector3 elevation_axis_vector;
    vector3 azimuth_unit_axis;
    vector3 elevation_unit_axis;
    vector3 four_axis_rotary_axis;           // unit axis of a four-axis machine's one rotary axis
    vector3 table_azimuth_centre;
    vector3 table_elevation_centre;
    vector3 tool_azimuth_centre;
    vector3 tool_elevation_centre;
    // Azimuth units, elevation units ('D' degrees, 'L' lengths on the diameter),
    // azimuth direction, elevation direction ('+' or '-').
    text<4> rotary_axis_chars;
    array1<double, 2> azimuth_limits;        // degrees, minimum and maximum
    array1<double, 2> elevation_limits;
    array1<double, 6> xyz_limits;            // minimum x, maximum x, ..., maximum z
    double linearisation_tolerance = 0.0;
    int linearise_switch_value = 0;
    int linearise_multiaxis = 0;
    double withdrawal = 0.0;
    double rotary_diameter = 0.0;
    double reconfigure_angle_threshold = 0.0;
    int multiaxis_transform_on = 0;
    int keep_angle_at_pole = 0;
    vector3 pcs_origin;
    vector3 pcs_angles;                      // degrees
    double tool_length = 0.0;                // set by job set-up and each new toolpath
    vector3 initial_tool_vector;             // unit tool direction at zero rotary angles
    rotary_axis_frame_t rotary_axis_frame;
    vector3 pole_axis;                       // the unit primary axis
};
extern machine_model_t machine_model;

void setup_multiaxis_kinematics();
void set_machine_subtype();
void set_up_rotary_axis_frame(const vector3& azimuth_axis, const vector3& elevation_axis,
                              const vector3& tool_vector);

// --- multi-axis motion start state -------------------------------------------------
// The start of the next multi-axis move, in the part frame.
struct multiaxis_motion_state_t {
    vector3 tool_tip;
    vector3 tool_axis;                       // unit tool axis
    vector3 contact_normal;
    int multiaxis_restart_state = 0;         // 1 first move, 2 new toolpath, 0 running
    int tool_vector_state = 0;
    int reconfiguring = 0;                   // 1 during a retract-and-reconfigure
};
extern multiaxis_motion_state_t multiaxis_motion_state;

// --- tool axis displacement (tape) ----------------------------------------------
// The tool axis at the current rotary angles as a machine displacement: the
// direction in which a multi-axis tape split retracts.
void tool_axis_machine_displacement(vector3& displacement);
// The height of a point along the current tool axis.
double height_along_tool_axis(const vector3& point);
// The workplane origin's offset that a hole top is measured from; 0 when no
// workplane transform is active.
double workplane_origin_offset();

// --- multi-axis motion hand-over (motion) -------------------------------------------
// The feed value (output units a minute) and the time in minutes of the
// current multi-axis step, turned into the feed word by fedrat_multiaxis.
struct multiaxis_feed_t {
    array1<double, 2> move_feed_values;
};
extern multiaxis_feed_t multiaxis_feed;

// The multi-axis GOTO paths (dispatch on a multi-axis machine, workplane
// transforms of points): the run stops with exit code 4 until they are built.
[[noreturn]] void multiaxis_motion_not_built();

// --- workplanes and rotary set-up of the job (job) ------------------------------------
// The pcs and workplane transforms and the rotary-angle solution that pass 1
// and job set-up call. For a three-axis job they leave the identity in force;
// the paths that need the workplane kinematics stop with exit code 4 until
// those are built.
// Fills toolpath i's workplane from the current workplane record (class 28000
// subclass 2), given the job workplane's matrix transposed; status 0 when read.
void read_toolpath_workplane(int i, const matrix3& job_transposed, int& status);
// The pcs matrices from the three pcs angles (degrees), in the order given.
void set_pcs_transform(double a, double b, double c);
// Makes toolpath i's workplane current: the part transform, and the machine
// workplane of "workplane angles" machine tool; status 0 when it can be machined.
void select_workplane_transform(int i, int& status);
void select_machine_workplane(int i, int& status);
// 1 when the rotary axes reach a tool direction (part frame, taken through the pcs).
int rotary_solution_exists(const vector3& tool_vector);
// The committed tool axis and rotary angles for a tool along +Z at a point.
void set_start_angles_for_vertical_tool(const vector3& point);
// A point of the part frame taken to machine coordinates at the previous angles.
void kinematic_transform_start_point(vector3& point);
// A motion status other than 0 (multiaxis_status, or the circle statuses
// 2001 and 2002) as its message; the run then stops with exit code 4.
void report_motion_error(int status);

// --- point transforms of the system variables (expr) -----------------------------
// A point of the part frame into the frame of the current transform (machine
// coordinates on a multi-axis machine, the workplane otherwise), and back.
// Called only while a workplane or rotary transform is in force.
void part_to_current_frame_point(vector3& point);
void current_frame_to_part_point(vector3& point);

// --- multi-axis routines of the tool change and the cycle record (commands) ---
// The height of a point along the tool axis; for a cutfile without
// multi-axis moves and no workplane transform, the point's z.
double height_along_tool_axis(const vector3& point);
// Around a tool change with "unwind at tool change": the rotary axes turned
// back to zero, then one move back to the tool axis kept before.
void unwind_rotary_axes();
void turn_back_to_tool_axis();

}  // namespace kv
