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

// rotary_axis_chars 3 and 4: the directions of the azimuth and the elevation.
double direction_sign(int k) { return machine_model.rotary_axis_chars[k + 2] == '-' ? -1.0 : 1.0; }

// Limits of a word's angle as limits of the machine angle: the word is
// sign x (angle + offset), so the angle is sign x word - offset; a negative
// sign exchanges the two ends. An end left unset stays unset.
void limits_as_machine_angles(array1<double, 2>& limits, int k) {
    const double sign = direction_sign(k);
    const double offset = rotary_word_offset(k);
    const double low = limits[1], high = limits[2];
    const bool low_unset = !minimum_set(low), high_unset = !maximum_set(high);
    if (sign > 0.0) {
        limits[1] = low_unset ? low : low - offset;
        limits[2] = high_unset ? high : high - offset;
    } else {
        limits[1] = high_unset ? LIMIT_MINIMUM_UNSET : -high - offset;
        limits[2] = low_unset ? LIMIT_MAXIMUM_UNSET : -low - offset;
    }
}

}  // namespace

void set_rotary_limits_as_machine_angles() {
    if (!rotary_machine(machine_model.machine_type)) return;
    limits_as_machine_angles(machine_model.azimuth_limits, 1);
    limits_as_machine_angles(machine_model.elevation_limits, 2);
}

double word_degrees(int k, double angle) {
    if (!rotary_machine(machine_model.machine_type)) return angle;
    return direction_sign(k) * (angle + rotary_word_offset(k));
}

double azimuth_minimum() { return machine_model.azimuth_limits[1]; }
double azimuth_maximum() { return machine_model.azimuth_limits[2]; }
double elevation_minimum() { return machine_model.elevation_limits[1]; }
double elevation_maximum() { return machine_model.elevation_limits[2]; }

void check_axis_limits(double azimuth, double elevation, int& mode) {
    bool exceeded = false;
    if (mode != LIMITS_POSITION_ONLY) {
        if (azimuth - azimuth_minimum() < -ROTARY_LIMIT_TOLERANCE ||
            azimuth - azimuth_maximum() > ROTARY_LIMIT_TOLERANCE) {
            report_value(MESSAGE_AZIMUTH_LIMIT, word_degrees(1, azimuth));
            exceeded = true;
        }
        if (elevation - elevation_minimum() < -ROTARY_LIMIT_TOLERANCE ||
            elevation - elevation_maximum() > ROTARY_LIMIT_TOLERANCE) {
            report_value(MESSAGE_ELEVATION_LIMIT, word_degrees(2, elevation));
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
