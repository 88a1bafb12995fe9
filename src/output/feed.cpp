// Feed rate output: the feed word and the feed-per-minute or per-revolution
// function of the next move, clamped to the machine's feed limits, with the
// per-axis feed words and the nine-step and inverse-time multi-axis feeds.
#include <algorithm>
#include <cmath>

#include "control/control.h"
#include "job/job.h"
#include "kinematics/kinematics.h"
#include "output/output.h"

namespace kv {

feed_state_t feed_state;

namespace {

// Real settings.
constexpr int MAXIMUM_FEEDRATE_REAL = 1;
constexpr int MINIMUM_FEEDRATE_REAL = 2;
constexpr int RAPID_FEEDRATE_REAL = 3;
// Integer settings.
constexpr int AXIS_FEED_WORDS_SETTING = 70;  // 0 none, 1 programmed feed, 2 each axis's share
constexpr int INVERSE_TIME_SETTING = 72;
constexpr int FEED_STEPS_SETTING = 73;
constexpr int CODED_FEED_SETTING = 75;
// Keys.
constexpr int FEED_KEY = 16;
constexpr int FEED_PER_REVOLUTION_KEY = 17;
constexpr int X_FEED_KEY = 4;
constexpr int FEED_STEP_COUNT = 9;
constexpr int OUTPUT_UNITS_SETTING = 39;  // "units": 40 metric
constexpr int OUTPUT_METRIC = 40;
constexpr int MSG_PER_REVOLUTION_CONVERTED = 320;
constexpr int MSG_NO_SPINDLE_SPEED = 321;
// Axis moves shorter than this write no per-axis feed word.
constexpr double AXIS_MOVE_MINIMUM = 0.001;
constexpr double MOVE_LENGTH_MINIMUM = 0.0001;
// An inverse-time feed is the reciprocal of the block's time in minutes, not
// a feed per minute: the per-minute limits do not bound it, and it keeps at
// least this many decimal places, with the decimal point, whatever the feed
// word gives the per-minute feeds (whole millimetres a minute are common,
// whole reciprocal minutes are 5% off at F7.37).
constexpr int INVERSE_TIME_DECIMALS = 3;

double clamp_feed(double f) {
    return std::min(std::max(f, real_option(MINIMUM_FEEDRATE_REAL)), real_option(MAXIMUM_FEEDRATE_REAL));
}


int feed_per_minute() { return motion_state.output_mode_flags[FEED_PER_MINUTE_FLAG] != 0; }

// Puts the feed word into its inverse-time format (on) or back into its
// per-minute one. A change forgets the word's last value, which was kept at
// the other resolution.
void use_inverse_time_format(int on) {
    feed_state_t& f = feed_state;
    const int w = key_word(FEED_KEY);
    if (on == f.inverse_time_format || w < 1 || w >= NO_WORD) return;
    if (on) {
        f.per_minute_decimals = word_format(w, WRDPRN);
        f.per_minute_point = word_format(w, IDEC_CURRENT);
        word_format(w, WRDPRN) = std::max(f.per_minute_decimals, INVERSE_TIME_DECIMALS);
        word_format(w, IDEC_CURRENT) = 1;
    } else {
        word_format(w, WRDPRN) = f.per_minute_decimals;
        word_format(w, IDEC_CURRENT) = f.per_minute_point;
    }
    f.inverse_time_format = on;
    setwrd(w, 0, SETWRD_FORGET);
}

// The feed-mode function, or message 135 when the control gives it no word.
void output_feed_function(int function) {
    const int w = fcode_word(function);
    if (w != 0 && w != NO_WORD) {
        gset(function, SETWRD_SET_REQUEST);
    } else {
        issue_message(135);
    }
}

// The control writes a feed per revolution as such only with both its code
// (function 18) and its word (key 17); any other control gets it per minute.
int writes_feed_per_revolution() {
    return has_word(fcode_word(FEED_FUNCTION_PER_REVOLUTION)) &&
           get_gcode_value(FEED_FUNCTION_PER_REVOLUTION) != UNSET_CODE &&
           has_word(key_word(FEED_PER_REVOLUTION_KEY));
}

// The mode the feed goes out in: per revolution only where the cutfile gives
// it so and the control can write it.
int per_revolution_output() { return !feed_per_minute() && writes_feed_per_revolution(); }

// A feed per revolution the control cannot write, as a feed per minute: the
// run stops when no spindle speed is in force (no feed is ever written for a
// spindle that stands), and says once that it converts.
double converted_feed(double feed) {
    if (feed_per_minute()) return feed;
    if (tool_state.speed_in_force <= 0.0) {
        set_message_int_arg(1, cldata_record_number());
        issue_message(MSG_NO_SPINDLE_SPEED);
        stop_run(EXIT_RUN_ERROR);
    }
    if (feed_state.conversion_warned == 0) {
        feed_state.conversion_warned = 1;
        issue_message(MSG_PER_REVOLUTION_CONVERTED);
    }
    return feed_per_minute_of(feed);
}

// The feed value into the feed word (per minute) or the per-revolution word.
// A change of mode forgets both words' last values: the machine reads the
// feed anew in its new mode.
void set_feed_value(int value, int per_minute_word_requested, int per_revolution) {
    feed_state_t& f = feed_state;
    const int function = per_revolution ? FEED_FUNCTION_PER_REVOLUTION : FEED_FUNCTION_PER_MINUTE;
    if (f.mode_written != 0 && f.mode_written != function) {
        for (int key : {FEED_KEY, FEED_PER_REVOLUTION_KEY}) {
            const int w = key_word(key);
            if (has_word(w)) setwrd(w, 0, SETWRD_FORGET);
        }
    }
    f.mode_written = function;
    if (!per_revolution) {
        if (per_minute_word_requested) setwrd(key_word(FEED_KEY), value, SETWRD_SET_REQUEST);
    } else {
        setwrd(key_word(FEED_PER_REVOLUTION_KEY), value, SETWRD_SET_REQUEST);
    }
    output_feed_function(function);
}

}  // namespace

void fedrat() {
    const array1<int, NUMINTSP>& intsp = configuration_store.intsp;
    use_inverse_time_format(0);
    const int rapid = pending_move_flags.rapid_pending != 0;
    if (intsp[CODED_FEED_SETTING] == 2) {
        // A code stands for a feed a minute and writes no feed mode: a feed
        // per revolution goes in converted.
        coded_feed(rapid ? feed_state.feedrate : converted_feed(feed_state.feedrate));
        return;
    }
    const int axis_mode = intsp[AXIS_FEED_WORDS_SETTING];
    // The rapid feedrate is a feed a minute whatever the cutfile's feed.
    const int per_revolution = !rapid && per_revolution_output();
    const double feedrate = per_revolution || rapid ? feed_state.feedrate : converted_feed(feed_state.feedrate);
    vector3 d;
    for (int i = 1; i <= 3; ++i) d[i] = motion_state.position[i] - motion_state.previous_position[i];

    vector3 v;
    double f = feedrate;
    if (axis_mode >= 2) {
        vector3 u;
        double length = 0.0;
        unit_vector_with_length(d, u, length);
        if (length <= MOVE_LENGTH_MINIMUM) return;
        for (int i = 1; i <= 3; ++i) v[i] = u[i] * feedrate;
        f = std::sqrt(v[1] * v[1] + v[2] * v[2]);
    }
    const int feed_word = key_word(FEED_KEY);
    // The feed limits are feeds a minute: a feed per revolution that the
    // control writes as such is not held to them (0.1 a revolution is no
    // feed of 0.1 a minute to raise to the minimum).
    int value = truncate_to_int((per_revolution ? f : clamp_feed(f)) * MULT(feed_word) + 0.5);

    array1<int, 3> axis_values;
    if (axis_mode != 0) {
        for (int i = 1; i <= 3; ++i) {
            const int w = key_word(X_FEED_KEY + i - 1);
            const int m = w == 0 ? 1 : MULT(w);
            if (axis_mode == 2) {
                axis_values[i] = truncate_to_int(clamp_feed(std::fabs(v[i])) * m + 0.5);
            } else {
                axis_values[i] = truncate_to_int(feedrate * m + 0.5);
            }
        }
    }
    if (rapid) {
        value = truncate_to_int(MULT(feed_word) * real_option(RAPID_FEEDRATE_REAL) + 0.5);
    }

    set_feed_value(value, axis_mode != 2, per_revolution);

    if (axis_mode != 0) {
        for (int i = 1; i <= 3; ++i) {
            const int w = key_word(X_FEED_KEY + i - 1);
            if (w != NO_WORD && std::fabs(d[i]) >= AXIS_MOVE_MINIMUM) setwrd(w, axis_values[i], SETWRD_SET_REQUEST);
        }
        if (feed_word != NO_WORD && (std::fabs(d[1]) >= AXIS_MOVE_MINIMUM || std::fabs(d[2]) >= AXIS_MOVE_MINIMUM)) {
            setwrd(feed_word, value, SETWRD_SET_REQUEST);
        }
    }
}

void fedrat_multiaxis() {
    const array1<int, NUMINTSP>& intsp = configuration_store.intsp;
    array1<double, 2>& step = multiaxis_feed.move_feed_values;
    const double maximum = real_option(MAXIMUM_FEEDRATE_REAL);
    int value = 0;
    const int inverse_time = intsp[FEED_STEPS_SETTING] != 1 && intsp[INVERSE_TIME_SETTING] == 1;
    use_inverse_time_format(inverse_time && feed_per_minute());
    if (intsp[FEED_STEPS_SETTING] == 1) {
        step[1] = clamp_feed(step[1]);
        if (!pending_move_flags.rapid_pending) {
            // The range up to the maximum feedrate in nine steps 1..9; a
            // maximum of 0 leaves every feed in the top step.
            const double width = maximum / FEED_STEP_COUNT;
            const int n = width > 0.0 ? truncate_to_int(step[1] / width) + 1 : FEED_STEP_COUNT;
            value = std::min(FEED_STEP_COUNT, n);
        }
    } else if (inverse_time) {
        const double f = step[2] > 0.0 ? 1.0 / step[2] : maximum;
        step[1] = f;
        value = truncate_to_int(f * MULT(key_word(FEED_KEY)) + 0.5);
        // A block with a time has a feed: never one written as 0.
        if (value < 1 && f > 0.0) value = 1;
    } else {
        if (pending_move_flags.rapid_pending) step[1] = real_option(RAPID_FEEDRATE_REAL);
        const double f = clamp_feed(step[1]);
        step[1] = f;
        value = truncate_to_int(f * MULT(key_word(FEED_KEY)) + 0.5);
    }
    // The step feed is a combined feed per minute (a feed per revolution was
    // converted at the spindle speed when it was computed).
    if (!feed_per_minute() && !pending_move_flags.rapid_pending) converted_feed(feed_state.feedrate);
    set_feed_value(value, 1, 0);
}

double feed_per_minute_of(double feed) {
    if (feed_per_minute()) return feed;
    const tool_state_t& t = tool_state;
    const double speed = std::fabs(t.speed_in_force);
    if (!t.surface_speed) return feed * speed;
    const motion_state_t& m = motion_state;
    const double radius = (std::fabs(m.position[1]) + std::fabs(m.previous_position[1])) / 2.0;
    if (radius <= 0.0) return 0.0;
    const double surface_length = get_intsp(OUTPUT_UNITS_SETTING) == OUTPUT_METRIC ? 1000.0 : 12.0;
    return feed * speed * surface_length / (2.0 * std::acos(-1.0) * radius);
}

void cycle_feed(double feed, int per_revolution) {
    // Cycle words are truncated toward zero.
    const int saved = motion_state.output_mode_flags[FEED_PER_MINUTE_FLAG];
    motion_state.output_mode_flags[FEED_PER_MINUTE_FLAG] = per_revolution ? 0 : 1;
    const int native = per_revolution_output();
    const double f = native ? feed : converted_feed(feed);
    cycle_parameters.feed_written = f;
    cycle_parameters.feed_per_minute = feed_per_minute_of(feed);
    const int w = key_word(native ? FEED_PER_REVOLUTION_KEY : FEED_KEY);
    if (has_word(w)) {
        const int value = truncate_to_int(static_cast<double>(MULT(w)) * f);
        set_feed_value(value, 1, native);
    }
    motion_state.output_mode_flags[FEED_PER_MINUTE_FLAG] = saved;
}

void request_feed_word() {
    const int per_revolution = feed_state.mode_written == FEED_FUNCTION_PER_REVOLUTION;
    const int w = key_word(per_revolution ? FEED_PER_REVOLUTION_KEY : FEED_KEY);
    if (has_word(w)) setwrd(w, 0, SETWRD_REQUEST);
}

int feed_mode_word_owed() {
    const int function = feed_state.mode_written;
    if (function == 0 || !writes_feed_per_revolution()) return 0;
    const int w = fcode_word(function);
    const int code = get_gcode_value(function);
    if (!has_word(w) || code == UNSET_CODE) return 0;
    return word_output_state.word_previous[w] == code ? 0 : w;
}

}  // namespace kv
