// Names of keys, function codes, settings and blocks for the dumps and for
// messages: the keyword of a kind and code, or a made-up name for one that
// no keyword names but that the loaded control uses.
#include <cstdio>

#include "control/control.h"

namespace kv {

namespace {

// The first entry in table order that names the kind and code. A keyword
// that is both key and function code also names its key role (code mod 100)
// and its code (100 x slot).
int keyword_for(int kind, int code) {
    const keyword_table_t& t = keyword_table;
    for (int i = 1; i <= KEYWORD_COUNT; ++i) {
        const int k = t.keyword_kind[i];
        const int c = t.keyword_code[i];
        if (k == kind && c == code) return i;
        if (k != KIND_KEY_CODE) continue;
        if (kind == KIND_KEY && c % 100 == code) return i;
        if (kind == KIND_CODE && c / 100 * 100 == code) return i;
    }
    return 0;
}

bool in_range(int n, int lo, int hi) { return n >= lo && n <= hi; }

// Whether the loaded control uses a kind and code that no keyword names.
// Codes outside their table are not in use.
bool holds_something(int kind, int code) {
    const configuration_store_t& cs = configuration_store;
    switch (kind) {
    case KIND_KEY:
        return in_range(code, 1, NUMKEYS) && cs.key[code] != NO_WORD;
    case KIND_CODE: {
        if (code % 100 != 0) return false;
        const int slot = code / 100;
        return in_range(slot, 1, NUMCODES) && cs.icodes[1][slot] >= 1 && cs.icodes[2][slot] != UNSET_CODE;
    }
    case KIND_INTEGER:
        return in_range(code, 1, NUMINTSP) && cs.intsp[code] >= 1;
    case KIND_REAL:
        return in_range(code, 1, NUMREALS) && cs.real_options[code] != 0.0;
    case KIND_CHARACTER:
        return in_range(code, 1, NUMSPCHAR) && trimmed_length(cs.spchar[code]) > 0;
    case KIND_BLOCK:
        if (in_range(code, CLDAT_BASE + 1, CLDAT_BASE + MAXSPB)) return cs.blkspc[code - CLDAT_BASE] != -1;
        if (in_range(code, PPFUN_BASE + 1, PPFUN_BASE + PPFUN_SLOTS))
            return trimmed_length(cs.ppfstr[code - PPFUN_BASE]) > 0;
        if (in_range(code, USER_BASE + 1, USER_BASE + USER_SLOTS))
            return trimmed_length(cs.user_block_names[code - USER_BASE]) > 0;
        return false;
    default:
        return false;
    }
}

// "ppfun" or "user", a blank and the trimmed block name between double quotes.
void named_block(const char* prefix, std::string_view block_name, std::span<char> name) {
    char buffer[16 + BLOCK_TEXT_LENGTH];
    const std::string_view n = trimmed(block_name);
    const int length = std::snprintf(buffer, sizeof buffer, "%s \"%.*s\"", prefix, static_cast<int>(n.size()), n.data());
    assign_text(name, std::string_view(buffer, static_cast<std::size_t>(length)));
}

}  // namespace

int keyword_in_use(int kind, int code) {
    return keyword_for(kind, code) > 0 || holds_something(kind, code) ? 1 : 0;
}

void keyword_name(int kind, int code, std::span<char> name) {
    const int i = keyword_for(kind, code);
    if (i > 0) {
        assign_text(name, keyword_table.keyword_text[i].view());
        return;
    }
    assign_text(name, "");
    if (!holds_something(kind, code)) return;
    char buffer[32];
    int length = 0;
    switch (kind) {
    case KIND_KEY:
        length = std::snprintf(buffer, sizeof buffer, "key %3d", code);
        break;
    case KIND_CODE:
        length = std::snprintf(buffer, sizeof buffer, "code %3d", code / 100);
        break;
    case KIND_INTEGER:
        length = std::snprintf(buffer, sizeof buffer, "integer %3d", code);
        break;
    case KIND_REAL:
        length = std::snprintf(buffer, sizeof buffer, "real %3d", code);
        break;
    case KIND_CHARACTER:
        length = std::snprintf(buffer, sizeof buffer, "character %3d", code);
        break;
    case KIND_BLOCK:
        if (code <= CLDAT_BASE + MAXSPB) {
            length = std::snprintf(buffer, sizeof buffer, "cldat %5d", configuration_store.blkspc[code - CLDAT_BASE]);
        } else if (code <= PPFUN_BASE + PPFUN_SLOTS) {
            named_block("ppfun", configuration_store.ppfstr[code - PPFUN_BASE], name);
            return;
        } else {
            named_block("user", configuration_store.user_block_names[code - USER_BASE], name);
            return;
        }
        break;
    default:
        return;
    }
    assign_text(name, std::string_view(buffer, static_cast<std::size_t>(length)));
}

}  // namespace kv
