// Refuses a loaded control whose word formats cannot write a length: every
// value of such a word would reach the tape as 0 (a scale of 0, negative
// decimal places) or beyond the range of a word integer (over 9 places).
#include "control/control.h"
#include "ppnsub/ppnsub.h"

namespace kv {

namespace {

constexpr int MESSAGE_FORMAT_CANNOT_WRITE = 183;
constexpr int MOST_DECIMAL_PLACES = 9;   // 10 to the power 10 is no word integer
constexpr int EXIT_CONTROL_REFUSED = 4;

[[noreturn]] void refuse_format(int w, std::string_view what, int value) {
    set_message_string_arg(1, trimmed(configuration_store.gpnams[w].view()));
    set_message_string_arg(2, what);
    set_message_int_arg(1, value);
    issue_message(MESSAGE_FORMAT_CANNOT_WRITE);
    stop_run(EXIT_CONTROL_REFUSED);
}

}  // namespace

void check_word_formats() {
    const configuration_store_t& cs = configuration_store;
    for (int w = 1; w <= cs.active_word_count && w < NO_WORD; ++w) {
        const array1<int, NFORMAT>& f = cs.word_formats[w];
        // A word whose field is empty writes its letters alone.
        if (f[WRDLEN] == 0) continue;
        for (int column : {WRDMET, WRDIMP}) {
            if (f[column] < 0 || f[column] > MOST_DECIMAL_PLACES) refuse_format(w, "decimal places", f[column]);
        }
        if (f[WRDFAC] == 0) refuse_format(w, "scale factor", 0);
    }
}

}  // namespace kv
