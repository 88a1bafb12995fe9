// Output blocks: item codes and their classes, the "=C" form of an item, the
// slots of the cldat blocks by major word, and the storing of block items.
#include "control/control.h"

namespace kv {

int item_class(int code) {
    const int a = code < 0 ? -code : code;
    return (a / 1000) % 100;
}

int item_carries_string(int code) { return code >= STRING_ITEM_MIN && code <= STRING_ITEM_MAX ? 1 : 0; }

int forget_previous_code(int code) {
    if (code >= 1 && code <= NUMCODES) return -(CODE_FORGET_ITEM + code);
    const int cls = item_class(code);
    // Only key and word items (classes 1..19) have a modifier digit; the
    // control items (texts, conditions, repeats, block variables, calls) and
    // an item already marked keep their code rather than turning into an
    // item of another kind.
    if (code < 0 || cls < 1 || cls > 19) return code;
    const int m = cls % 10;
    return code + (MOD_VALUE_FORGET - m) * 1000;
}

int cldat_slot(int major_word) {
    if (major_word < 0) return 0;
    const configuration_store_t& cs = configuration_store;
    int slot = major_word % MAXCLDAT + 1;
    // At most MAXSPB probes: a table filled with other major words (possible
    // only from a built-in list or an MCD file) has no slot to offer.
    for (int probe = 0; probe < MAXSPB; ++probe) {
        if (cs.blkspc[slot] == -1 || cs.blkspc[slot] == major_word) return slot;
        slot = slot % MAXSPB + 1;
    }
    return 0;
}

int find_cldat_block(int major_word) {
    const int slot = cldat_slot(major_word);
    if (slot == 0 || configuration_store.blkspc[slot] != major_word) return 0;
    return CLDAT_BASE + slot;
}

int store_block_item(int b, int i, int code, int value, double real, int continuation,
                     std::string_view string, int& next_string) {
    if (i < 1 || i > MAXITEMS) return 1;
    configuration_store_t& cs = configuration_store;
    int s = 0;
    if (item_carries_string(code)) {
        if (next_string < 1 || next_string > MAXITEMS) return 1;
        s = next_string++;
        cs.block_texts[b][s].set(string);
    }
    cs.block_items[b][i] = block_item_t{code, value, s * 10 + continuation};
    cs.block_reals[b][i] = real;
    return 0;
}

}  // namespace kv
