// The values that a head-head machine on a fixed axis pair (machine type 4,
// subtypes 21-25) writes on its rotary words in place of solved angles.
#include <cmath>

#include "control/control.h"
#include "kinematics/kinematics.h"
#include "output/output.h"

namespace kv {

namespace {

constexpr int TOOL_LENGTH_REAL = 13;   // the tool length when the toolpath gives none
constexpr int KEY_X_COORDINATE = 8;
constexpr int KEY_Y_COORDINATE = 9;
constexpr double SHORTEST_XY_MOVE = 0.0001;
// A unit tool vector whose z component is not above this lies in the XY
// plane for the head.
constexpr double HORIZONTAL_TOLERANCE = 1e-5;

// The size of one unit of a key's word (1 when the key names no word).
double word_unit(int key) {
    const int w = configuration_store.key[key];
    const int m = w >= 1 && w < NO_WORD ? MULT(w) : 1;
    return m != 0 ? static_cast<double>(m) : 1.0;
}

// Subtype 21: the tool leans across the XY direction of the move (elevation)
// and along it (azimuth), each as an angle over the tool length.
void angles_across_move(const vector3& v, double l, double previous_elevation, double previous_azimuth,
                        double& elevation, double& azimuth) {
    const motion_state_t& ms = motion_state;
    const double ux = word_unit(KEY_X_COORDINATE);
    const double uy = word_unit(KEY_Y_COORDINATE);
    const double ix = ms.increments[1] / ux;
    const double iy = ms.increments[2] / uy;
    array1<double, 2>& kept = kinematics_values.kept_xy_increment;
    if (std::sqrt(ix * ix + iy * iy) >= SHORTEST_XY_MOVE) {
        kept[1] = ix;
        kept[2] = iy;
    }
    const double n = std::sqrt(kept[1] * kept[1] + kept[2] * kept[2]);
    if (n < SHORTEST_XY_MOVE) {
        elevation = previous_elevation;
        azimuth = previous_azimuth;
        return;
    }
    const double px = ms.previous_position_units[1] / ux;
    const double py = ms.previous_position_units[2] / uy;
    const double wx = px + ix + v[1];
    const double wy = py + iy + v[2];
    const double d = angle_constants.degrees_to_radians;
    elevation = std::atan2(-((px - wx) * kept[2] + (wy - py) * kept[1]) / n, l) / d;
    azimuth = std::atan2((v[1] * kept[1] + v[2] * kept[2]) / n, l) / d;
}

}  // namespace

void azimuth_elevation_head_values(const vector3& position, vector3& tool_vector, double previous_elevation,
                                   double previous_azimuth, double& elevation, double& azimuth, int& status) {
    machine_model_t& m = machine_model;
    status = 0;
    if (!(m.tool_length > 0.0)) {
        m.tool_length = real_option(TOOL_LENGTH_REAL);
        if (!(m.tool_length > 0.0)) m.tool_length = 1.0;
    }
    const double l = m.tool_length;
    // Every pair writes the tool's lean over the tool length above the tip:
    // a tool vector in the XY plane has no such lean, and one pointing below
    // it would be written as its mirror above. The head cannot take either.
    const double length = vector_length(tool_vector);
    if (!(length > 0.0) || tool_vector[3] / length <= HORIZONTAL_TOLERANCE) {
        elevation = previous_elevation;
        azimuth = previous_azimuth;
        status = ROTARY_VECTOR_IMPOSSIBLE;
        return;
    }
    const double scale = l / tool_vector[3];
    for (int k = 1; k <= 3; ++k) tool_vector[k] *= scale;
    const vector3& v = tool_vector;
    array1<double, 2>& sums = kinematics_values.special_angles;
    switch (m.machine_subtype) {
    case 21:
        angles_across_move(v, l, previous_elevation, previous_azimuth, elevation, azimuth);
        return;
    case 22:
    case 25:
        azimuth = position[1] + v[1];
        elevation = position[2] + v[2];
        return;
    case 24:
        azimuth = v[1];
        elevation = v[2];
        return;
    case 23:
        // Incremental values: the sums keep what was written, to the third decimal.
        azimuth = v[1] - sums[1];
        elevation = v[2] - sums[2];
        sums[1] += nearest_int(azimuth * 1000.0) / 1000.0;
        sums[2] += nearest_int(elevation * 1000.0) / 1000.0;
        return;
    default:
        return;
    }
}

}  // namespace kv
