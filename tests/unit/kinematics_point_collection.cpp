// The collection of a multi-axis GOTO into tips and tool vectors: records with
// six values a point, records with three (no tool vectors), zero tool vectors,
// and the tool axis that points without a vector take.
#include "record_fixture.h"

#include <cmath>
#include <vector>

#include "kinematics/kinematics.h"

using namespace kv;

namespace {

const double S = std::sqrt(0.5);

vector3 v3(double x, double y, double z) { return vector3{{x, y, z}}; }

class PointCollection : public kv_test::RecordJob {
protected:
    void SetUp() override {
        RecordJob::SetUp();
        multiaxis_motion_state = multiaxis_motion_state_t{};
        multiaxis_motion_state.multiaxis_restart_state = 0;
        for (int i = 1; i <= 16; ++i) pcs_matrices.pcs_rotation[i] = (i % 5 == 1) ? 1.0 : 0.0;
        toolpath_tables.toolpath_index = 1;
        toolpath_tables.toolpath_from_axis[1] = v3(0, -S, S);
        arm_repeated_point_test(1);
    }

    // Collects a GOTO record of the given values (data words 3 onward).
    int collect(const std::vector<double>& values) {
        std::vector<kv_test::word> data{kv_test::iw(0), kv_test::iw(0)};
        for (const double v : values) data.push_back(kv_test::rw(v));
        open_records({kv_test::make_record(1, 5000, 5, data)});
        int count = -1;
        collect_multiaxis_points(0, 0, count);
        return count;
    }

    static vector3 at(int column, int p) {
        const std::span<double> c = point_column_values(column);
        const std::size_t i = static_cast<std::size_t>(3 * (p - 1));
        return v3(c[i], c[i + 1], c[i + 2]);
    }
};

void expect_vector(const vector3& got, const vector3& want, const char* what) {
    for (int k = 1; k <= 3; ++k) EXPECT_NEAR(got[k], want[k], 1e-12) << what << " component " << k;
}

TEST_F(PointCollection, RecordsWithAndWithoutToolVectors) {
    const vector3 current = v3(0, 0, 1);
    struct row {
        const char* name;
        std::vector<double> values;
        std::vector<vector3> tips;
        std::vector<vector3> vectors;
    };
    const std::vector<row> rows = {
        {"one point with its vector", {10, 10, 5, 0, -S, S}, {v3(10, 10, 5)}, {v3(0, -S, S)}},
        {"one point without a vector", {10, 10, 5}, {v3(10, 10, 5)}, {current}},
        {"three points without vectors",
         {10, 10, -2, 20, 10, -2, 20, 0, -2},
         {v3(10, 10, -2), v3(20, 10, -2), v3(20, 0, -2)},
         {current, current, current}},
        {"a zero tool vector", {10, 10, 5, 0, 0, 0}, {v3(10, 10, 5)}, {current}},
        {"two points with vectors",
         {1, 2, 3, 1, 0, 0, 4, 5, 6, 0, 1, 0},
         {v3(1, 2, 3), v3(4, 5, 6)},
         {v3(1, 0, 0), v3(0, 1, 0)}},
    };
    for (const row& r : rows) {
        multiaxis_motion_state.tool_axis = current;
        ASSERT_EQ(collect(r.values), static_cast<int>(r.tips.size())) << r.name;
        for (std::size_t p = 0; p < r.tips.size(); ++p) {
            expect_vector(at(POINT_COLUMN_TIPS, static_cast<int>(p) + 1), r.tips[p], r.name);
            expect_vector(at(POINT_COLUMN_VECTORS, static_cast<int>(p) + 1), r.vectors[p], r.name);
        }
        int st = 0;
        filclo(cldata_reader.unit, st);
        cldata_reader.unit = -1;
    }
}

// The first move of a toolpath takes the toolpath's own tool axis (here the
// tilted workplane's), turned by the pcs rotation like a record's vectors;
// moves after it keep the axis in force.
TEST_F(PointCollection, FirstMoveTakesTheToolpathAxis) {
    multiaxis_motion_state.tool_axis = v3(0, 0, 1);
    for (const int restart : {2, 1}) {
        multiaxis_motion_state.multiaxis_restart_state = restart;
        ASSERT_EQ(collect({10, 10, 5}), 1);
        expect_vector(at(POINT_COLUMN_VECTORS, 1), v3(0, -S, S), "first move");
        int st = 0;
        filclo(cldata_reader.unit, st);
        cldata_reader.unit = -1;
    }

    // A pcs rotation of a quarter turn about Z turns the toolpath axis too.
    for (int i = 1; i <= 16; ++i) pcs_matrices.pcs_rotation[i] = 0.0;
    pcs_matrices.pcs_rotation[2] = 1.0;   // row 1: x -> y
    pcs_matrices.pcs_rotation[5] = -1.0;  // row 2: y -> -x
    pcs_matrices.pcs_rotation[11] = 1.0;
    pcs_matrices.pcs_rotation[16] = 1.0;
    multiaxis_motion_state.multiaxis_restart_state = 2;
    ASSERT_EQ(collect({10, 10, 5}), 1);
    expect_vector(at(POINT_COLUMN_VECTORS, 1), v3(S, 0, S), "pcs-turned toolpath axis");
}

}  // namespace
