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
// A cutfile tool vector shorter than this is no tool vector (it has no
// direction to solve rotary angles for): the point keeps the tool axis in force.
constexpr double VECTOR_GIVEN_LENGTH = 1e-5;
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
inline double radians(double degrees) { return degrees * angle_constants.degrees_to_radians; }

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
// The machines whose rotary words carry solved angles (through the word
// conversions); a head on a fixed axis pair writes its head values as they are.
inline bool rotary_machine(int type) {
    return type == MACHINE_TABLE_TABLE || type == MACHINE_HEAD_TABLE || type == MACHINE_HEAD_HEAD;
}

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
    // Degrees, minimum and maximum, of the machine angles: "rotary axis
    // limits" are given as the words count the angles and are turned into
    // machine angles once the machine type is known.
    array1<double, 2> azimuth_limits;
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
// Axes that make no machine for the job: message 116 "Axes configuration not
// sensible." and the message `reason` that says why, then the run stops
// with exit_code.
[[noreturn]] void reject_axes_configuration(int reason, int exit_code);
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

// --- workplanes and rotary set-up of the job (job) ------------------------------------
// The pcs and workplane transforms and the rotary-angle solution that pass 1
// and job set-up call. For a three-axis job they leave the identity in force.
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
// The rotary words' values where the axes stand when the tape starts: the
// words of the start angles, offsets included. Incremental rotary words
// count from them. Called once the output units (and so the words'
// resolutions) are settled.
void set_start_rotary_words();
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

// --- workplanes and transforms (frames) ---------------------------------------------
// "workplane angles" (intsp 82): how a workplane reaches the NC program.
constexpr int WORKPLANE_ANGLES_NONE = 0;            // through the machine kinematics
constexpr int WORKPLANE_ANGLES_EULER = 3000;        // "apparent": Euler angles
constexpr int WORKPLANE_ANGLES_ROTARY = 4000;       // "machine tool": rotary axes
// A matrix element beyond this is no rotation: the Euler conversion fails.
constexpr double WORKPLANE_ELEMENT_LIMIT = 1.00001;

// The current workplane: what the point transforms and the blocks read.
struct workplane_state_t {
    vector3 euler_angles;          // degrees, "workplane angles" apparent
    double azimuth = 0.0;          // degrees, "workplane angles" machine tool
    double elevation = 0.0;
    vector3 origin_shift;          // part-frame origin, with "workplane origin shift"
    vector3 origin;
    matrix3 matrix{{1, 0, 0, 0, 1, 0, 0, 0, 1}};
};
extern workplane_state_t workplane_state;

// The part coordinate system, built once per job from "pcs origin" (zeros
// before that): rotation (tool vectors into the part frame), placement (used
// by the forward kinematics) and its inverse.
struct pcs_matrices_t {
    matrix4 pcs_rotation;
    matrix4 pcs_placement;
    matrix4 pcs_inverse;
};
extern pcs_matrices_t pcs_matrices;

// read_toolpath_workplane, set_pcs_transform, select_workplane_transform and
// select_machine_workplane are declared with the job routines above.
void build_pcs_matrices(double a, double b, double c);
// The machine-tool workplane for a tool axis: azimuth and elevation (degrees),
// the matrix whose columns are the turned unit axes, the origin (in/out, put
// through the kinematics with "transform workplane origin"); status 1 when the
// machine cannot take the axis.
void machine_tool_workplane(const vector3& axis, double previous_azimuth, double previous_elevation,
                            double& azimuth, double& elevation, matrix3& matrix, vector3& origin, int& status);
// The current workplane for a drilling tool axis; status 0, 1 or 4009.
void workplane_for_tool_axis(const vector3& axis, double previous_azimuth, double previous_elevation,
                             int& status);
// The apparent workplane whose z axis is the tool axis; status 4009 when its
// Euler angles cannot be taken.
void apparent_workplane_for_tool_axis(const vector3& axis, vector3& euler_angles, matrix3& matrix,
                                      int& status);
// Points are compact triples (point p at 3(p-1)+1 .. 3(p-1)+3), in place.
void workplane_part_to_machine_points(std::span<double> points, int count);
void workplane_part_to_machine_point(vector3& point);
void workplane_machine_to_part(vector3& point);
void machine_to_part_points(std::span<double> points, int count);
void machine_to_part_point(vector3& point);
int is_workplane_transform_active();

// Machine kinematics. Angles in radians: A azimuth, E elevation.
// The scratch rotations of one transform (4x4, zero translation).
struct rotary_matrices_t {
    matrix4 azimuth_matrix;
    matrix4 elevation_matrix;
};
extern rotary_matrices_t rotary_matrices;

// Values of the kinematics that persist for the run.
struct kinematics_values_t {
    array1<double, 2> rotary_axis_distances;   // azimuth, elevation axis (types 1 and 2)
    array1<double, 2> special_angles;          // the running sums of subtype 23
    array1<double, 2> kept_xy_increment;       // subtype 21: the last XY move at least 0.0001 long
};
extern kinematics_values_t kinematics_values;

void build_rotary_matrices(double elevation, double azimuth);
void forward_kinematics(vector3& tip, double azimuth, double elevation);
void kinematic_transform_points(std::span<double> points, int count, double azimuth, double elevation);
void kinematic_transform_point(vector3& point, double azimuth, double elevation);
void inverse_kinematic_transform_points(std::span<double> points, int count, double azimuth, double elevation);
void inverse_kinematic_transform_point(vector3& point, double azimuth, double elevation);
void rotate_vector_by_rotary_angles(double azimuth, double elevation, const vector3& v, vector3& out);
void rotate_initial_tool_vector(double azimuth, double elevation, vector3& out);
void machine_displacement_of_vector(double azimuth, double elevation, vector3& v);
// A direction of the tool vectors' frame (turned by the part origin's angles,
// as the cutfile's vectors are) in the frame of the tips, which the
// kinematics place with the origin's angles themselves.
void vector_to_tip_frame(vector3& v);
// The committed rotary angles for the committed tool axis; stops the run with
// exit code 4 when the machine cannot take it.
void set_angles_for_tool_axis(const vector3& tip);
// Machine type 4: the values its rotary words take (degrees or lengths).
// The head reaches only tool vectors that point above the horizontal (it
// writes the lean over the tool length): any other gives status 4001.
void azimuth_elevation_head_values(const vector3& position, vector3& tool_vector, double previous_elevation,
                                   double previous_azimuth, double& elevation, double& azimuth, int& status);
// The first point of a multi-axis move at a FROM record: angles in degrees.
void output_multiaxis_from_point(double& azimuth, double& elevation, vector3& tip, vector3& tool_axis);
// With exactly one non-zero component above 1 in size: accumulator +=
// nearest_int(component × factor).
void add_axis_vector_offset(double x, double y, double z, int factor, int& accumulator);
// That component (the offset in degrees), or 0.
double axis_vector_offset(double x, double y, double z);

// --- rotary-angle solutions and axis limits (rotary) -------------------------------
// A pair of rotary angles as the solvers pass it: (azimuth, elevation), in
// radians or degrees as each routine says. (rotary_angles of the motion state
// keep the other order, (elevation, azimuth).)
using angle_pair = array1<double, 2>;

// multiaxis_status values the solvers return.
constexpr int ROTARY_VECTOR_IMPOSSIBLE = 4001;   // the machine cannot point the tool that way
constexpr int ROTARY_OUTSIDE_LIMITS = 4002;      // no solution within the rotary limits

// Margin by which an angle may lie beyond its limits when fitted into them.
constexpr double ROTARY_FIT_TOLERANCE = 1e-8;
// Margin by which a rotary angle may exceed its limits before it is reported.
constexpr double ROTARY_LIMIT_TOLERANCE = 1e-5;
// Limits at or beyond these values were never set (the defaults).
constexpr double LIMIT_MINIMUM_UNSET = -99999.0;
constexpr double LIMIT_MAXIMUM_UNSET = 999999.0;
// A limit this near its default counts as unset.
constexpr double LIMIT_UNSET_MARGIN = 0.0001;
// A limit left at its default bounds nothing.
inline bool minimum_set(double minimum) { return minimum - LIMIT_MINIMUM_UNSET > LIMIT_UNSET_MARGIN; }
inline bool maximum_set(double maximum) { return maximum - LIMIT_MAXIMUM_UNSET < -LIMIT_UNSET_MARGIN; }

// The rotary state last committed after a multi-axis record: the point
// transforms between part frame and machine read it.
struct committed_rotary_state_t {
    vector3 tip;
    vector3 machine_point;
    vector3 tool_axis;
    double azimuth = 0.0;              // degrees
    double elevation = 0.0;
    double azimuth_radians = 0.0;
    double elevation_radians = 0.0;
    double previous_azimuth = 0.0;     // the pair committed before, degrees
    double previous_elevation = 0.0;
};
extern committed_rotary_state_t committed_rotary_state;

// A choice between two solutions (radians) from the previous angles
// (degrees): fills the chosen pair in degrees and both pairs unwound to the
// previous angles; returns 1, 2, or -1 when neither will do.
using rotary_choice = int (*)(const angle_pair& solution1, const angle_pair& solution2,
                              double previous_azimuth, double previous_elevation,
                              angle_pair& degrees, angle_pair& unwound1, angle_pair& unwound2);

// The chosen solution for a tool vector (part frame): radians as solved,
// degrees unwound to the previous angles and fitted into the limits.
void solve_rotary_angles(const vector3& tool_vector, angle_pair& radians, angle_pair& degrees,
                         double previous_azimuth, double previous_elevation, int& status);
void solve_four_axis_angles(const vector3& tool_vector, angle_pair& radians, angle_pair& degrees,
                            double previous_azimuth, double previous_elevation, int& status);
// Both solutions in radians; on a four-axis machine the second is the first.
void compute_rotary_solutions(const vector3& tool_vector, angle_pair& solution1, angle_pair& solution2,
                              double previous_azimuth, double previous_elevation, int& status);
void five_axis_solutions(const vector3& tool_vector, angle_pair& solution1, angle_pair& solution2,
                         double previous_azimuth, double previous_elevation, int& status);
void four_axis_solution(const vector3& tool_vector, double& azimuth, double& elevation, int& status);
// solution1 is in/out: it receives the chosen pair (radians).
int choose_rotary_solution(angle_pair& solution1, const angle_pair& solution2, double previous_azimuth,
                           double previous_elevation, rotary_choice choice, angle_pair& degrees,
                           angle_pair& unwound1, angle_pair& unwound2);
int choose_nearest_solution(const angle_pair& solution1, const angle_pair& solution2,
                            double previous_azimuth, double previous_elevation, angle_pair& degrees,
                            angle_pair& unwound1, angle_pair& unwound2);
// Both pairs in degrees, in/out (fitted into the limits where they can be).
int choose_solution_within_limits(angle_pair& solution1, angle_pair& solution2, double previous_azimuth,
                                  double previous_elevation, angle_pair& degrees);
// Each angle (radians in) as the equivalent in degrees nearest its previous angle.
void unwind_angle_pair(const angle_pair& radians, angle_pair& degrees, double previous_azimuth,
                       double previous_elevation);
void fit_angle_into_limits(double& angle, double previous, double minimum, double maximum, int& status);
// The equivalent of the angle inside the limits nearest the previous angle,
// whatever the move (the rule of fit_angle_into_limits after the first move).
void fit_angle_near(double& angle, double previous, double minimum, double maximum, int& status);
// An angle inside its limits is kept; one outside is brought in by the
// fewest whole turns; status 4002 when no turn brings it in.
void bring_angle_into_limits(double& angle, double minimum, double maximum, int& status);
// The equivalent inside the limits nearest the middle of their range; with
// one limit left unset, the rule of bring_angle_into_limits.
void fit_angle_first_move(double& angle, double minimum, double maximum, int& status);
double angle_at_or_below(double reference, double angle);
double angle_at_or_above(double reference, double angle);
void solve_rotary_angles_by_clearance(const vector3& tool_vector, const vector3& tip, angle_pair& radians,
                                      angle_pair& degrees, double previous_azimuth, double previous_elevation,
                                      int& status);
int choose_solution_by_clearance(const vector3& tip, const angle_pair& solution1, const angle_pair& solution2,
                                 double previous_azimuth, double previous_elevation, angle_pair& degrees,
                                 angle_pair& unwound1, angle_pair& unwound2);
// The smallest distance of the tip's machine position at the angles (radians)
// from the six linear axis limits.
double linear_limit_clearance(const angle_pair& radians, const vector3& tip);
// Job-start angles for a tool vector (turned through the pcs); fail 1 after
// its messages when the machine cannot take it.
void angles_for_tool_axis(const vector3& tool_vector, const vector3& tip, angle_pair& radians,
                          angle_pair& degrees, int& fail);
// The angle (radians) the primary axis keeps at the pole.
double pole_angle(double previous_primary);

// "rotary axis limits" bound the angles as the rotary words count them: in
// the word's direction, with its offsets (head offsets, axis-vector offsets).
// The set-up turns them into limits of the machine angles, which every angle
// routine works in; the messages name the angle as its word counts it.
void set_rotary_limits_as_machine_angles();
// The angle (degrees) of rotary axis k (1 azimuth, 2 elevation) as its word
// counts it, before a linear-units word turns it into a length.
double word_degrees(int k, double angle);

// Axis-limit check. Mode on entry: 123 position only, 45 angles only, other
// values both; on return 1 when a limit was exceeded (messages 119-123), else 0.
constexpr int LIMITS_POSITION_ONLY = 123;
constexpr int LIMITS_ANGLES_ONLY = 45;
void check_axis_limits(double azimuth, double elevation, int& mode);
double elevation_minimum();
double elevation_maximum();
double azimuth_minimum();
double azimuth_maximum();

// --- multi-axis dispatch, step output and azimuth/elevation heads (steps) ---------
// multiaxis_status values (0 success); 4001 and 4002 are the solvers' own.
constexpr int MULTIAXIS_OK = 0;
constexpr int MULTIAXIS_IMPOSSIBLE_VECTOR = ROTARY_VECTOR_IMPOSSIBLE;
constexpr int MULTIAXIS_NO_SOLUTION = ROTARY_OUTSIDE_LIMITS;
constexpr int MULTIAXIS_RECONFIGURE_FORBIDDEN = 4004;
constexpr int MULTIAXIS_NOT_CONVERGED = 4005;
constexpr int MULTIAXIS_ANTI_PARALLEL = 4006;
constexpr int MULTIAXIS_EXPANDED_CYCLE = 4007;
constexpr int MULTIAXIS_NO_DATUM_SHIFT = 4008;
constexpr int MULTIAXIS_EULER_FAILURE = 4009;
constexpr int ARC_START_OFF_ARC = 2002;   // the circle status beside 2001 (start off the plane)

// Status reports: report_motion_error (declared above) stops the run for
// every non-zero status; these two only issue the messages.
void report_multiaxis_error(int status, double azimuth, double elevation);
void report_arc_error(int status);

// Move lists are compact triples: point p at values 3(p-1)+1 .. 3(p-1)+3.
// The move loop: from the in/out start state (angles, tip, axis, normal) to
// each point in turn; stops the run on a failing step.
void process_multiaxis_moves(std::span<const double> tips, std::span<const double> vectors,
                             std::span<const double> normals, int count, double& azimuth, double& elevation,
                             vector3& tip, vector3& axis, vector3& normal);
// The current GOTO record and its joined continuations into point-buffer
// columns 3 (tips), 4 (tool vectors) and 5 (contact normals).
void collect_multiaxis_points(int with_normals, int drop_repeats, int& count);
// A repeated point (tip and tool vector as the last within 1e-5); the first
// point after arm_repeated_point_test(1) (every tool change) never is.
struct repeated_point_state_t {
    vector3 tip;                             // output units
    vector3 tool_vector;                     // normalised
    int armed = 0;
};
extern repeated_point_state_t repeated_point_state;
int is_repeated_point(const vector3& tip, const vector3& tool_vector);
void arm_repeated_point_test(int armed);
void process_multiaxis_first_point(double& azimuth, double& elevation, vector3& tip, vector3& axis);
void process_from_record_multiaxis();
void process_go_home_multiaxis();
void process_multiaxis_cycle(std::span<double> tips, int count, const vector3& axis, int& status);
void machine_point_from_part(vector3& machine, const vector3& tip, double azimuth, double elevation,
                             vector3& axis);
void part_point_from_machine(const vector3& machine, vector3& tip, double azimuth, double elevation,
                             vector3& axis);
void commit_rotary_angles();
void part_to_machine_points(std::span<double> points, int count);
void part_to_machine_point(vector3& point);
int is_tool_axis_principal();
void move_to_workplane_tool_axis(const vector3& tip);

// One step of a multi-axis move (angles in degrees; the fraction of the move
// at which the step ends; the step's deviation for the print line).
void output_multiaxis_step(double azimuth, double elevation, double fraction, double deviation);
void output_multiaxis_linear_block();
void output_multiaxis_rapid_block();
void output_multiaxis_rapid_at_rapid_feed();
void set_contact_normal_words();
// Block "move linear" of a multi-axis move as it stands.
void output_linear_fiveaxis();
// The azimuth and elevation words from rotary_angles (and their previous
// values from previous_rotary_angles); the out flags say which changed.
void set_rotary_axis_words(double deviation, int& elevation_changed, int& azimuth_changed);
// The integer word values of an azimuth and an elevation (degrees) with the
// head offsets, axis-vector offsets, linear units and directions applied.
void rotary_word_values(double azimuth, double elevation, int& azimuth_value, int& elevation_value);
// The offset (degrees) that the word of rotary axis k (1 azimuth, 2
// elevation) adds to the angle: the head offset of a head machine and, for
// a word in degrees, the axis-vector offset.
double rotary_word_offset(int k);

// Machine type 4: every multi-axis FROM and GOTO record, its circles, and the
// linear block of wire mode.
void process_azimuth_elevation_moves();
void process_azimuth_elevation_circle();
void linear();
// A three-axis move of machine type 4: its head words are worked out again
// at the current position and move for the tool axis of the last multi-axis
// point, so that the tool keeps its axis where the head values depend on them.
void set_head_words_for_tool_axis();

// --- linearisation, angular limits and multi-axis feed (linearise) -----------------
// A multi-axis move is cut into steps whose tip deviation from the straight
// tip path stays within the linearisation tolerance; a step that drives an
// angle beyond its limit is output up to the limit, where the machine changes
// to the other solution by a retract-and-reconfigure.
constexpr int DEVIATION_SEARCH_ITERATIONS = 100;

// One end of the current move: the contact point (only with "contact point
// based feedrate"), the tip, the tool axis and the contact normal.
struct move_frame_t {
    vector3 contact_point;
    vector3 tip;
    vector3 tool_axis;
    vector3 contact_normal;
};
struct linearisation_state_t {
    move_frame_t start_frame;                // move_frames
    move_frame_t end_frame;
    array1<double, 2> step_fraction;         // fractions of the move where the step starts and ends
    double limit_step_end_fraction = 0.0;    // end of the step whose limit is being handled
    // Set until the first step search of the run has ended; while set the move
    // is not cut unless "linearise first move" is set.
    int first_multiaxis_move = 1;
};
extern linearisation_state_t linearisation_state;

// The arguments of the deviation functions of one search, which the search
// calls with the fraction alone. Angles in degrees.
struct solver_state_t {
    vector3 start_tip;
    vector3 end_tip;
    vector3 start_axis;
    vector3 end_axis;
    vector3 machine_start;
    angle_pair start_angles;                 // (azimuth, elevation)
    angle_pair end_angles;
};
extern solver_state_t solver_state;

using fraction_function = double (*)(double fraction);
using fraction_predicate = int (*)(double fraction);

// The move from the start state to the end state, output step by step; the
// start state and the current angles (azimuth, elevation, degrees) follow the
// steps. Status 0, 4001, 4002, 4004 or 4005; last_step holds the angles of the
// last step tried (the failing one on a status).
void linearise_multiaxis_move(vector3& start_tip, vector3& start_axis, vector3& start_normal,
                              const vector3& end_tip, const vector3& end_axis, const vector3& end_normal,
                              angle_pair& last_step, angle_pair& current, int& status);
// One step: end_tip and end_axis come back holding the step's tip and axis.
void next_linearised_step(const vector3& start_tip, vector3& end_tip, const vector3& start_axis,
                          vector3& end_axis, vector3& machine_start, vector3& step_machine,
                          angle_pair& step_angles, angle_pair& current, int& done, double& deviation,
                          double& fraction, int& status);
// The step at fraction s of the way from the start to the end (angles chosen
// from the current ones); evaluate_step_plain solves the angles plainly and
// counts no deviation on a first move, a rapid or with linearisation off.
void evaluate_step_at(const vector3& start_tip, const vector3& end_tip, const vector3& start_axis,
                      const vector3& end_axis, const vector3& machine_start, double s,
                      const angle_pair& current, vector3& step_tip, vector3& step_machine,
                      vector3& step_axis, angle_pair& step_angles, double& deviation);
void evaluate_step_plain(const vector3& start_tip, const vector3& end_tip, const vector3& start_axis,
                         const vector3& end_axis, const vector3& machine_start, double s,
                         const angle_pair& current, vector3& step_tip, vector3& step_machine,
                         vector3& step_axis, angle_pair& step_angles, double& deviation);
double step_deviation(const vector3& start_tip, const vector3& step_tip, const vector3& machine_start,
                      const vector3& step_machine, const angle_pair& start_angles,
                      const angle_pair& step_angles, int with_tool_end);
double tool_end_deviation(double distance, const angle_pair& start_angles, const angle_pair& end_angles);
double point_line_distance(const vector3& point, const vector3& line_start, const vector3& line_end);
// Illinois regula falsi for a fraction whose deviation lies in the acceptance
// window below the upper bound; deviation is g at the fraction returned.
void find_deviation_fraction(fraction_function g, double lower, double upper, double lower_bound,
                             double upper_bound, int iterations, double& fraction, double& deviation,
                             int& found);
void set_solver_state(const vector3& start_tip, const vector3& end_tip, const vector3& start_axis,
                      const vector3& end_axis, const vector3& machine_start, const angle_pair& start_angles,
                      const angle_pair& end_angles);
double deviation_of_fraction(double x);
double plain_deviation_of_fraction(double x);
double pole_rotation_deviation(double x);
double fixed_tip_rotation_deviation(double x);
// Pole handling: results 0 not at the pole, 1 a reconfiguration was output
// (or refused: status 4004), 2 the free angle must turn in place; minus_side
// 1 when the tool axis lies against the pole axis.
int check_singular_start(const angle_pair& step_angles, angle_pair& current, const vector3& start_axis,
                         const vector3& start_tip, vector3& machine_start, int& minus_side, int& status);
int check_near_pole(const angle_pair& step_angles, angle_pair& current, const vector3& start_axis,
                    const vector3& start_tip, vector3& machine_start, int& minus_side, int& status);
void angles_off_pole(const angle_pair& current, const angle_pair& step_angles, int minus_side,
                     int second_allowed, angle_pair& target, int& status);
// Preferred and other solution (degrees, unwound to the current angles).
void solve_off_pole_direction(const vector3& direction, const angle_pair& current, angle_pair& preferred,
                              angle_pair& other, int& status);
void cross_pole_by_rotation(const vector3& start_tip, const vector3& start_axis, const vector3& machine_start,
                            const angle_pair& current, angle_pair& step_angles, int minus_side, int second_allowed,
                            vector3& step_machine, double& deviation, int& status);
void set_move_start_frame(const vector3& tip, const vector3& tool_axis, const vector3& normal);
void set_move_end_frame(const vector3& tip, const vector3& tool_axis, const vector3& normal);
void set_step_start_fraction(double fraction);
double get_step_start_fraction();
void set_step_end_fraction(double fraction);

// Angular limits. Called when a step's angles lie more than 1e-8 beyond a
// limit; leaves the start state where the move goes on.
void handle_angular_limit(angle_pair& step_angles, angle_pair& current, vector3& start_axis,
                          const vector3& step_axis, vector3& start_tip, const vector3& step_tip,
                          const vector3& machine_start, double& fraction, int& status);
void reconfigure_at_limit(angle_pair& crossing, angle_pair& other, const vector3& crossing_axis,
                          const vector3& crossing_tip, vector3& start_axis, const vector3& step_axis,
                          vector3& start_tip, const vector3& step_tip, const vector3& machine_start,
                          double& crossing_fraction, angle_pair& current, const angle_pair& step_angles,
                          int& status);
// exceeded: azimuth below, azimuth above, elevation below, elevation above.
double limit_crossing_fraction(const array1<int, 4>& exceeded, const vector3& start_axis,
                               const vector3& step_axis, const angle_pair& current, int& exact);
void solve_nearest_solution(const vector3& tool_axis, angle_pair& radians, angle_pair& degrees,
                            const angle_pair& reference, int& status);
double wrap_angle_near_range_middle(double angle, double minimum, double maximum);
void find_angle_root(fraction_function g, double lower, double upper, double target, int iterations,
                     double& fraction, int& found);
double bisect_fraction(fraction_predicate p, double lower, double upper, int iterations);
double azimuth_at_fraction(double x);
double elevation_at_fraction(double x);
int axis_within_limits_at(double x);
int choose_by_limit_margin(const angle_pair& solution1, const angle_pair& solution2, double previous_azimuth,
                           double previous_elevation, angle_pair& degrees, angle_pair& unwound1,
                           angle_pair& unwound2);
// Retract along the tool axis, turn to the target angles (degrees), plunge back.
void retract_and_reconfigure(const vector3& tool_axis, const angle_pair& target, angle_pair& current);
void retract_along_tool_axis(const vector3& tool_axis, vector3& retract_point, double distance,
                             double feed_value);
void rotate_at_retract_point(const angle_pair& target);
void reposition_at_retract_point(const angle_pair& target, const vector3& retract_point, double feed_value);
void rotate_and_reposition_combined(const angle_pair& target, const vector3& retract_point);
void rotate_in_steps(angle_pair& current, const angle_pair& target, const vector3& retract_point);
// The rotary axes turn from the current angles to the target angles in
// steps that keep `point`, held fixed in the part frame, within `allowed` of
// its place: 1 when the target is reached, 0 when no step of any length keeps
// within it (the turn ends at the angles reached).
int turn_in_steps(const vector3& point, angle_pair& current, const angle_pair& target, double allowed);
void plunge_along_tool_axis(const vector3& tool_axis, const angle_pair& target, const vector3& retract_point,
                            double distance, double rapid_value, double plunge_feed);
double x_word_resolution();

// Multi-axis feed of a step (into multiaxis_feed.move_feed_values). The
// inverse-time feed carries an excess length between steps for the whole run.
struct inverse_time_carry_t {
    double excess = 0.0;
    vector3 raise_point;
};
extern inverse_time_carry_t inverse_time_carry;
void set_step_feed_by_tip_speed(double end_fraction);
void set_step_time_inverse(double end_fraction);
// P, Q machine positions; angles (azimuth, elevation) in degrees.
void tip_speed_feed(const vector3& start_point, const vector3& end_point, const angle_pair& start_angles,
                    const angle_pair& end_angles);
double part_tip_move_length();
void frame_contact_point(const vector3& tip, const vector3& tool_axis, const vector3& normal,
                         vector3& contact_point);
void contact_point_offset(double tip_radius, double tool_radius, const vector3& normal, vector3& offset);
void turn_vector_about_axis(const vector3& v, const vector3& axis, double angle, vector3& out);

}  // namespace kv
