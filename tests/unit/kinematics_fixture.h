// A table-table machine for the multi-axis motion tests: azimuth table about
// X carried by the elevation table about Z (the pole axis), both through the
// origin, tool along +Z, no limits, identity pcs, the multi-axis transform
// on, a running move.
#pragma once

#include <cmath>

#include "control/control.h"
#include "kinematics/kinematics.h"
#include "output/output.h"
#include "ppnsub/ppnsub.h"

namespace kv_test {

inline void load_table_table_machine() {
    using namespace kv;
    static bool ready = false;
    if (!ready) {
        int status = 0;
        init_units(status);
        init_message_table(status);
        register_builtin_messages();
        ready = true;
    }
    set_configuration_defaults();
    machine_model = machine_model_t{};
    multiaxis_motion_state = multiaxis_motion_state_t{};
    linearisation_state = linearisation_state_t{};
    motion_state = motion_state_t{};
    const double axes[][4] = {{44, 1, 0, 0}, {74, 0, 0, 1}, {341, 0, 0, 1}};
    for (const auto& a : axes)
        for (int i = 0; i < 3; ++i) real_option(static_cast<int>(a[0]) + i) = a[i + 1];
    configuration_store.intsp[1] = 1;  // "multiaxis coordinate transform"
    setup_multiaxis_kinematics();
    multiaxis_motion_state.multiaxis_restart_state = 0;
    for (int i = 1; i <= 16; ++i) {
        pcs_matrices.pcs_rotation[i] = (i % 5 == 1) ? 1.0 : 0.0;
        pcs_matrices.pcs_placement[i] = pcs_matrices.pcs_rotation[i];
        pcs_matrices.pcs_inverse[i] = pcs_matrices.pcs_rotation[i];
    }
    machine_model.tool_length = 0.0;
}

inline void set_limits(double az_min, double az_max, double el_min, double el_max) {
    kv::machine_model.azimuth_limits[1] = az_min;
    kv::machine_model.azimuth_limits[2] = az_max;
    kv::machine_model.elevation_limits[1] = el_min;
    kv::machine_model.elevation_limits[2] = el_max;
}

inline kv::vector3 v3(double x, double y, double z) { return kv::vector3{{x, y, z}}; }

// The tool axis at azimuth a (degrees) and elevation 0: +Z turned about X.
inline kv::vector3 tilt(double a) {
    const double r = a * 0.017453292519943295;
    return v3(0.0, -std::sin(r), std::cos(r));
}

}  // namespace kv_test
