// Rows of a "define table" section: the picture of a word's output format
// (name, address letters, sign, zero marks, digits before and after the
// point, an "inch" part and trailing options) applied one field at a time.
#include <algorithm>
#include <climits>

#include "control/control.h"

namespace kv {

namespace {

constexpr int SYM_MODAL = SYM_KEYWORD_BASE + 19;
constexpr int SYM_NOT_PERMANENT = SYM_KEYWORD_BASE + 29;
constexpr int SYM_PERMANENT = SYM_KEYWORD_BASE + 30;
constexpr int SYM_EVERY_BLOCK = SYM_KEYWORD_BASE + 31;
constexpr int SYM_SPACES = SYM_KEYWORD_BASE + 32;
constexpr int SYM_INCH = SYM_KEYWORD_BASE + 33;

constexpr int LAST_TABLE_POSITION = 16;  // fields after this one are ignored

// The integer in characters 2..4 of a field, 0 when they are not a number.
int scale_digits(std::string_view field) {
    if (field.size() < 2) return 0;
    int error = 0;
    const int v = read_int_field(field.substr(1), 3, error);
    return error ? 0 : v;
}

// Applies the field at position p. Returns 1 when the position takes it,
// 0 when an optional position passes it on to the next one.
int apply_at(int p, std::string_view field, int value, int w) {
    int* f = configuration_store.word_formats[w].data() - 1;  // f[column], 1-based
    const bool zero = field == "0";
    const bool point = field == ".";
    switch (p) {
    case 2:
        configuration_store.wrdch[w].set(field);
        f[WRDCHL] = trimmed_length(field);
        return 1;
    case 3:
        if (field == "+-") { f[SINREQ] = 2; return 1; }
        if (field == "-") { f[SINREQ] = 1; return 1; }
        f[SINREQ] = 0;
        return 0;
    case 4:
        f[IZSUPM] = f[IZSUPI] = zero ? 1 : 0;
        return zero ? 1 : 0;
    case 5:
        f[WRDLEN] = value;
        return 1;
    case 6:
        f[IDECM] = f[IDECI] = point ? 1 : 0;
        return point ? 1 : 0;
    case 7:
        if (!zero) return 0;
        f[IZSUPM] += 2;
        f[IZSUPI] += 2;
        f[WRDMET] = f[WRDIMP] = 0;
        return 1;
    case 8:
        // A damaged row may carry digit counts near the integer limit: the sum
        // is taken in wider arithmetic and held at the limit.
        f[WRDLEN] = static_cast<int>(std::clamp(static_cast<long long>(f[WRDLEN]) + value,
                                                static_cast<long long>(INT_MIN),
                                                static_cast<long long>(INT_MAX)));
        f[WRDMET] = f[WRDIMP] = value;
        return 1;
    case 9:
        f[IZSUPI] = zero ? 1 : 0;
        return zero ? 1 : 0;
    case 11:
        f[IDECI] = point ? 1 : 0;
        return point ? 1 : 0;
    case 12:
        if (!zero) return 0;
        f[IZSUPI] += 2;
        f[WRDIMP] = 0;
        return 1;
    case 13:
        f[WRDIMP] = value;
        return 1;
    case 15:
        f[ITPPOS] = value;
        return 1;
    default:  // 10 (imperial digits before the point), 14, 16 and beyond
        return 1;
    }
}

}  // namespace

int parse_word_format(int symbol, std::string_view field, int& position, int value, int& word) {
    configuration_store_t& cs = configuration_store;
    field = trimmed(field);

    if (position == 0) {
        position = 1;
        const int found = find_word(field);
        if (found > 0) {
            word = found;
            return 0;
        }
        if (cs.NGPS >= MAXDEFWORDS) {
            word = 0;  // the row's fields go nowhere
            return 158;
        }
        word = cs.NGPS + 1;
        cs.gpnams[word].set(field);
        cs.NGPS = word;
        return 0;
    }
    if (word < 1 || word >= NO_WORD) {
        ++position;
        return 0;
    }

    if (position == 1) cs.word_formats[word][WRDMOD] = 0;
    if (position > 1) {
        int handled = 1;
        if (symbol == SYM_MODAL) {
            cs.word_formats[word][WRDMOD] = 1;
        } else if (symbol == SYM_NOT_PERMANENT) {
            cs.wperm[word] = 0;
        } else if (symbol == SYM_PERMANENT) {
            cs.wperm[word] = 1;
        } else if (symbol == SYM_EVERY_BLOCK) {
            cs.wperm[word] = 2;
        } else if (symbol == SYM_SPACES) {
            position = 14;
        } else if (symbol == SYM_INCH) {
            position = 8;
        } else if (!field.empty() && field[0] == 'x') {
            cs.word_formats[word][WRDFAC] = scale_digits(field);
        } else if (!field.empty() && field[0] == '/') {
            cs.word_formats[word][SCALE_DIVISOR] = scale_digits(field);
        } else {
            handled = 0;
        }
        if (handled) return 0;
    }

    do {
        ++position;
    } while (position <= LAST_TABLE_POSITION && !apply_at(position, field, value, word));
    return 0;
}

}  // namespace kv
