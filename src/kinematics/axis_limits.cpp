// Axis limits: the rotary angles and the X, Y, Z position checked against the
// machine's limits, each violation reported with its own message; the rotary
// limits handed to the angle routines.
#include "kinematics/kinematics.h"
#include "output/output.h"
#include "runtime/runtime.h"

namespace kv {

namespace {

constexpr int MESSAGE_AZIMUTH_LIMIT = 119;
constexpr int MESSAGE_ELEVATION_LIMIT = 120;
constexpr int MESSAGE_X_LIMIT = 121;     // then Y 122, Z 123

void report_value(int message, double value) {
    set_message_real_arg(1, value);
    issue_message(message);
}

}  // namespace

double azimuth_minimum() { return machine_model.azimuth_limits[1]; }
double azimuth_maximum() { return machine_model.azimuth_limits[2]; }
double elevation_minimum() { return machine_model.elevation_limits[1]; }
double elevation_maximum() { return machine_model.elevation_limits[2]; }

void check_axis_limits(double azimuth, double elevation, int& mode) {
    bool exceeded = false;
    if (mode != LIMITS_POSITION_ONLY) {
        if (azimuth - azimuth_minimum() < -ROTARY_LIMIT_TOLERANCE ||
            azimuth - azimuth_maximum() > ROTARY_LIMIT_TOLERANCE) {
            report_value(MESSAGE_AZIMUTH_LIMIT, azimuth);
            exceeded = true;
        }
        if (elevation - elevation_minimum() < -ROTARY_LIMIT_TOLERANCE ||
            elevation - elevation_maximum() > ROTARY_LIMIT_TOLERANCE) {
            report_value(MESSAGE_ELEVATION_LIMIT, elevation);
            exceeded = true;
        }
    }
    if (mode != LIMITS_ANGLES_ONLY) {
        const array1<double, 6>& limits = machine_model.xyz_limits;
        for (int axis = 1; axis <= 3; ++axis) {
            const double value = motion_state.position[axis];
            if (value < limits[2 * axis - 1] || value > limits[2 * axis]) {
                report_value(MESSAGE_X_LIMIT + axis - 1, value);
                exceeded = true;
            }
        }
    }
    mode = exceeded ? 1 : 0;
}

}  // namespace kv
