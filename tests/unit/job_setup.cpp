// Job set-up and the small record handlers: the conversion of option-file
// lengths into the output units, the three-axis flag, and the circle and
// spline surface records.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <unistd.h>
#include <vector>

#include "../tools/cutfile_writer.h"
#include "control/control.h"
#include "job/job.h"
#include "kinematics/kinematics.h"
#include "output/output.h"
#include "ppnsub/ppnsub.h"

using namespace kv;
using namespace cutfile_writer;

namespace {

void fresh_configuration() {
    static bool ready = false;
    int st = 0;
    if (!ready) {
        init_units(st);
        init_message_table(st);
        register_builtin_messages();
        ready = true;
    }
    set_configuration_defaults();
    machine_model = machine_model_t{};
}

TEST(ConvertOptionUnits, ScalesLengthsOnlyBetweenDifferentUnits) {
    struct row {
        int option_units, output_units;
        double factor;
    };
    const row rows[] = {
        {30, 40, 25.4},                 // an option file in inches, metric output
        {40, 30, 0.03937007874015748},  // millimetres to inches
        {40, 40, 1.0},
        {0, 40, 1.0},                   // "option file units" unset converts nothing
        {30, 30, 1.0},
    };
    for (const row& r : rows) {
        fresh_configuration();
        configuration_store.intsp[88] = r.option_units;
        configuration_store.intsp[39] = r.output_units;
        real_option(1) = 100.0;    // maximum feedrate
        real_option(16) = 10.0;    // arc radius limit
        real_option(101) = 2.0;    // pcs origin x
        real_option(104) = 30.0;   // pcs angle: not a length
        real_option(116) = -50.0;  // minimum x value
        machine_model.withdrawal = 4.0;
        machine_model.tool_azimuth_centre[2] = 1.0;
        convert_option_units();
        EXPECT_DOUBLE_EQ(real_option(1), 100.0 * r.factor) << r.option_units << " " << r.output_units;
        EXPECT_DOUBLE_EQ(real_option(16), 10.0 * r.factor);
        EXPECT_DOUBLE_EQ(real_option(101), 2.0 * r.factor);
        EXPECT_DOUBLE_EQ(real_option(104), 30.0);
        EXPECT_DOUBLE_EQ(real_option(116), -50.0 * r.factor);
        EXPECT_DOUBLE_EQ(machine_model.withdrawal, 4.0 * r.factor);
        EXPECT_DOUBLE_EQ(machine_model.tool_azimuth_centre[2], 1.0 * r.factor);
    }
}

TEST(ThreeAxisFlag, OnlyForAThreeAxisCutfileWithoutFiveAxisSettings) {
    struct row {
        int multiaxis, workplane_angles, fiveaxis_always, expected;
    };
    const row rows[] = {{0, 0, 0, 1}, {1, 0, 0, 0}, {0, 3000, 0, 0}, {0, 0, 1, 0}};
    for (const row& r : rows) {
        fresh_configuration();
        set_cutfile_multiaxis(r.multiaxis);
        configuration_store.intsp[82] = r.workplane_angles;
        configuration_store.intsp[97] = r.fiveaxis_always;
        set_three_axis_flag();
        EXPECT_EQ(get_three_axis_flag(), r.expected) << r.multiaxis << r.workplane_angles << r.fiveaxis_always;
    }
    set_cutfile_multiaxis(0);
}

// The surface record handler on one record of a cutfile.
class SurfaceRecord : public ::testing::Test {
protected:
    std::filesystem::path dir;
    void SetUp() override {
        fresh_configuration();
        store_three_axis_flag(1);
        configuration_store.intsp[26] = 1;  // circles are output
        pass1_results.unit_factor = 1.0;
        pending_move_flags = pending_move_flags_t{};
        dir = std::filesystem::temp_directory_path() /
              ("kv_surface_" + std::to_string(::getpid()) + "_" +
               ::testing::UnitTest::GetInstance()->current_test_info()->name());
        std::filesystem::create_directories(dir);
    }
    void TearDown() override {
        int st = 0;
        if (cldata_reader.unit >= 0) filclo(cldata_reader.unit, st);
        cldata_reader.unit = -1;
        std::filesystem::remove_all(dir);
    }
    void handle(const record& r) {
        const std::string path = (dir / "s.cut").string();
        ASSERT_TRUE(write_file(path, encode({r, make_record(2, 14000, 0)}, 3)));
        int status = -1;
        open_cldata(path, CLDATA_DOUBLE_LE, status);
        ASSERT_EQ(status, 0);
        ASSERT_FALSE(next_cldata_record());
        handle_surface_record();
    }
    static record circle(double ax, double ay, double az, double radius) {
        return make_record(1, 3000, 2,
                           {iw(0), iw(4), rw(0), rw(0), rw(0), rw(45), rw(40), rw(-2), rw(ax), rw(ay), rw(az),
                            rw(radius)});
    }
};

TEST_F(SurfaceRecord, CircleInAPrincipalPlane) {
    handle(circle(0, 0, 1, 15));
    EXPECT_EQ(pending_move_flags.circle_pending, 1);
    EXPECT_DOUBLE_EQ(circle_state.circle_record[1], 15.0);
    EXPECT_DOUBLE_EQ(circle_state.circle_record[4], 1.0);
    EXPECT_DOUBLE_EQ(motion_state.position[4], 45.0);
    EXPECT_DOUBLE_EQ(motion_state.position[5], 40.0);
}

TEST_F(SurfaceRecord, TiltedCircleIsPassedOver) {
    handle(circle(0.5, 0, 0.866, 15));
    EXPECT_EQ(pending_move_flags.circle_pending, 0);
}

TEST_F(SurfaceRecord, ArcRadiusLimits) {
    struct row {
        double limit, minimum, radius;
        int pending;
    };
    const row rows[] = {{0, 0, 5000, 1}, {100, 1, 15, 1}, {100, 1, 150, 0}, {100, 20, 15, 0}, {100, 1, -15, 1}};
    for (const row& r : rows) {
        real_option(16) = r.limit;
        real_option(20) = r.minimum;
        pending_move_flags.circle_pending = 0;
        handle(circle(0, 0, 1, r.radius));
        EXPECT_EQ(pending_move_flags.circle_pending, r.pending) << r.limit << " " << r.minimum << " " << r.radius;
        TearDown();
        SetUp();
    }
}

TEST_F(SurfaceRecord, CirclesOffAndSplines) {
    configuration_store.intsp[26] = 2;
    handle(circle(0, 0, 1, 15));
    EXPECT_EQ(pending_move_flags.circle_pending, 0);
    TearDown();
    SetUp();
    handle(make_record(1, 3000, 2, {iw(0), iw(126), iw(0), iw(7)}));
    EXPECT_EQ(pending_move_flags.spline_a_pending, 1);
    EXPECT_EQ(pending_move_flags.spline_b_pending, 0);
    EXPECT_EQ(spline_state.spline_point_counts[1], 7);
    EXPECT_EQ(spline_state.spline_point_counts[2], 0);
}

}  // namespace
