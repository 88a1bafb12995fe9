// The MCD file of a control: the loaded store written as records in a fixed
// order ("-x"), and read back in place of a machine file, with the older
// layout that files of earlier versions have.
#include <algorithm>
#include <array>
#include <string>

#include "control/control.h"
#include "job/job.h"
#include "ppnsub/ppnsub.h"

namespace kv {

mcd_reserved_t mcd_reserved;

namespace {

constexpr int MCD_NAME_LENGTH = 256;   // the composed file name
constexpr int STOP_UNREADABLE = 5;     // exit code: the control cannot be loaded

// Error groups of the reader, one per record (or record family).
constexpr int GROUP_SPCHAR = 1;
constexpr int GROUP_INTSP = 2;
constexpr int GROUP_SPVAL = 3;
constexpr int GROUP_LISTS = 4;
constexpr int GROUP_FORMATS = 5;
constexpr int GROUP_LINKS = 6;
constexpr int GROUP_PERMANENCE = 7;
constexpr int GROUP_ORDER = 8;
constexpr int GROUP_LETTERS = 9;
constexpr int GROUP_KEYS = 10;
constexpr int GROUP_CODE_WORDS = 11;
constexpr int GROUP_CODE_VALUES = 12;
constexpr int GROUP_CODE_TEXTS = 13;
constexpr int GROUP_BLOCK_LENGTHS = 14;
constexpr int GROUP_BLOCK_TEXTS = 15;
constexpr int GROUP_BLOCK_ITEMS = 16;
constexpr int GROUP_WORD_NAMES = 17;
constexpr int GROUP_COUNTS = 18;
constexpr int GROUP_RESERVED_INTS = 19;
constexpr int GROUP_RESERVED_REALS = 20;

// What the records of a layout hold.
struct mcd_layout {
    int lists;          // real list columns
    int block_lengths;  // entries of blklen
    int blocks;         // blocks with strings and items
    int items;          // strings and items of each block
    int reserved_ints;
};
constexpr mcd_layout CURRENT_LAYOUT = {AVALS_LISTS, MCD_BLOCKS, MCD_BLOCKS, MAXITEMS, MCD_RESERVED_INTS};
// Older files: characters 37 and 38 of the version text tell how many
// reserved integers follow (the files of 17 regular blocks hold 622).
constexpr int OLD_RESERVED_SHORT = 622;
mcd_layout older_layout(std::string_view version) {
    const std::string_view minor = version.substr(36, 2);
    const bool short_reserve = minor == "12" || minor == "14" || minor == "16";
    return {MCD_OLD_LISTS, MCD_OLD_BLOCKS, MCD_OLD_BLOCKS, MCD_OLD_ITEMS,
            short_reserve ? OLD_RESERVED_SHORT : MCD_OLD_RESERVED_INTS};
}

// A real list column: avals(1..count, j), contiguous in R.
std::span<double> list_column(int j, int count) {
    return {&avals(1, j), static_cast<std::size_t>(count)};
}

std::span<int> code_column(int row) {
    return {&configuration_store.icodes[row][1], static_cast<std::size_t>(NUMCODES)};
}

// Values that later code uses as table indices. A record can carry a correct
// checksum and still hold a number outside its table (a file made by hand or
// by another program); such a record is refused like a damaged one, so that
// nothing past this point has to trust the file.
bool is_word_number(int v) { return v >= 1 && v <= MAXWORDS; }  // MAXWORDS is NO_WORD, "no word"
bool is_link(int v) { return v == NO_LINK || is_word_number(v); }
bool is_order_entry(int v) { return v == ORDER_END || v == MSG_ROLE || is_word_number(v); }
// s x 10 + c: string s of the block (0 none, at most the strings a block of
// this layout holds) and the continuation digit.
bool is_string_ref(int v, int strings) { return v >= 0 && v / 10 <= strings; }

template <class P>
bool all_values(std::span<const int> values, P valid) {
    return std::all_of(values.begin(), values.end(), valid);
}

// Entries of the word order before its first empty entry. The "msg" slot
// makes the order one entry longer than the word count.
int order_length() {
    const configuration_store_t& cs = configuration_store;
    int n = 0;
    while (n < MAXWORDS && cs.wrdrut[n + 1] != ORDER_END) ++n;
    return n;
}

void write_records(int unit, int words) {
    const configuration_store_t& cs = configuration_store;
    write_mcd_string(unit, text<MCD_VERSION_LENGTH>(MCD_VERSION_TEXT));
    write_mcd_string(unit, cs.gpnams[0]);
    const std::array<int, 2> counts = {words, cs.special_block_count};
    write_mcd_integers(unit, counts);
    for (int i = 1; i <= NUMSPCHAR; ++i) write_mcd_string(unit, cs.spchar[i]);
    write_mcd_integers(unit, std::span<const int>(cs.intsp.data(), NUMINTSP));
    write_mcd_reals(unit, std::span<const double>(&spval(1), NUMSPVAL));
    for (int j = 1; j <= AVALS_LISTS; ++j) write_mcd_reals(unit, list_column(j, MCD_LIST_ENTRIES));

    std::array<int, MAXWORDS> column{};
    for (int c = 1; c <= MCD_WORD_COLUMNS; ++c) {
        for (int w = 1; w <= words; ++w) column[static_cast<std::size_t>(w - 1)] = cs.word_formats[w][c];
        write_mcd_integers(unit, std::span<const int>(column.data(), static_cast<std::size_t>(words)));
    }
    write_mcd_integers(unit, std::span<const int>(cs.wrdlnk.data(), static_cast<std::size_t>(words)));
    write_mcd_integers(unit, std::span<const int>(cs.wperm.data(), static_cast<std::size_t>(words)));
    // The whole order, so that an order with the "msg" slot keeps its last word.
    const int order = std::max(words, order_length());
    write_mcd_integers(unit, std::span<const int>(cs.wrdrut.data(), static_cast<std::size_t>(order)));
    for (int w = 1; w <= words; ++w) write_mcd_string(unit, cs.wrdch[w]);
    write_mcd_integers(unit, std::span<const int>(cs.key.data(), NUMKEYS));
    write_mcd_integers(unit, code_column(1));
    write_mcd_integers(unit, code_column(2));
    for (int n = 1; n <= NUMCODES; ++n) write_mcd_string(unit, cs.scodes[n]);
    write_mcd_integers(unit, std::span<const int>(cs.blklen.data(), MCD_BLOCKS));

    std::array<int, MAXITEMS> items{};
    for (int b = 1; b <= MCD_BLOCKS; ++b) {
        for (int s = 1; s <= MAXITEMS; ++s) write_mcd_string(unit, cs.block_texts[b][s]);
        for (int field = 1; field <= 3; ++field) {
            for (int i = 1; i <= MAXITEMS; ++i) {
                const block_item_t& it = cs.block_items[b][i];
                items[static_cast<std::size_t>(i - 1)] = field == 1 ? it.code : field == 2 ? it.value : it.string_ref;
            }
            write_mcd_integers(unit, items);
        }
    }
    for (int w = 1; w <= words; ++w) write_mcd_string(unit, cs.gpnams[w]);
    write_mcd_integers(unit, std::span<const int>(mcd_reserved.ints.data(), MCD_RESERVED_INTS));
    write_mcd_reals(unit, std::span<const double>(mcd_reserved.reals.data(), MCD_RESERVED_REALS));
    for (int i = 1; i <= PPFUN_SLOTS; ++i) write_mcd_string(unit, cs.ppfstr[i]);
}

// Reads records 3 to 21 into the store; 0, or 1000 x group + record error.
int read_records(int unit, const mcd_layout& layout) {
    configuration_store_t& cs = configuration_store;
    int status = 0;
    auto failed = [&](int group) { return status != 0 ? group * MCD_GROUP_FACTOR + status : 0; };

    std::array<int, 2> counts{};
    read_mcd_integers(unit, counts, status);
    if (status == 0 && (counts[0] < 0 || counts[0] > MAXDEFWORDS || counts[1] < 0 || counts[1] > MAXCLDAT))
        status = MCD_BAD_CHECK;  // the word count bounds every word record that follows
    if (status != 0) return failed(GROUP_COUNTS);
    const int words = counts[0];
    cs.NGPS = words;
    cs.special_block_count = counts[1];
    cs.active_word_count = words;

    for (int i = 1; i <= NUMSPCHAR && status == 0; ++i) read_mcd_string(unit, cs.spchar[i], status);
    if (status != 0) return failed(GROUP_SPCHAR);
    read_mcd_integers(unit, std::span<int>(cs.intsp.data(), NUMINTSP), status);
    if (status != 0) return failed(GROUP_INTSP);
    read_mcd_reals(unit, std::span<double>(&spval(1), NUMSPVAL), status);
    if (status != 0) return failed(GROUP_SPVAL);
    for (int j = 1; j <= layout.lists && status == 0; ++j) read_mcd_reals(unit, list_column(j, MCD_LIST_ENTRIES), status);
    if (status != 0) return failed(GROUP_LISTS);

    std::array<int, MAXWORDS> column{};
    const std::span<int> word_values(column.data(), static_cast<std::size_t>(words));
    for (int c = 1; c <= MCD_WORD_COLUMNS; ++c) {
        read_mcd_integers(unit, word_values, status);
        if (status != 0) return failed(GROUP_FORMATS);
        for (int w = 1; w <= words; ++w) cs.word_formats[w][c] = column[static_cast<std::size_t>(w - 1)];
    }
    const std::span<int> links(cs.wrdlnk.data(), static_cast<std::size_t>(words));
    read_mcd_integers(unit, links, status);
    if (status == 0 && !all_values(links, is_link)) status = MCD_BAD_CHECK;
    if (status != 0) return failed(GROUP_LINKS);
    read_mcd_integers(unit, std::span<int>(cs.wperm.data(), static_cast<std::size_t>(words)), status);
    if (status != 0) return failed(GROUP_PERMANENCE);
    // The order may hold one entry per word and the "msg" slot; the entries
    // after it end the order, whatever the default words left there.
    int order = 0;
    read_mcd_integers(unit, std::span<int>(cs.wrdrut.data(), MAXWORDS), words, order, status);
    if (status == 0 && !all_values(std::span<const int>(cs.wrdrut.data(), static_cast<std::size_t>(order)), is_order_entry))
        status = MCD_BAD_CHECK;
    if (status != 0) return failed(GROUP_ORDER);
    for (int i = order + 1; i <= MAXWORDS; ++i) cs.wrdrut[i] = ORDER_END;
    for (int w = 1; w <= words && status == 0; ++w) read_mcd_string(unit, cs.wrdch[w], status);
    if (status != 0) return failed(GROUP_LETTERS);
    read_mcd_integers(unit, std::span<int>(cs.key.data(), NUMKEYS), status);
    if (status == 0 && !all_values(std::span<const int>(cs.key.data(), NUMKEYS), is_word_number)) status = MCD_BAD_CHECK;
    if (status != 0) return failed(GROUP_KEYS);
    read_mcd_integers(unit, code_column(1), status);
    if (status == 0 && !all_values(code_column(1), is_word_number)) status = MCD_BAD_CHECK;
    if (status != 0) return failed(GROUP_CODE_WORDS);
    read_mcd_integers(unit, code_column(2), status);
    if (status != 0) return failed(GROUP_CODE_VALUES);
    for (int n = 1; n <= NUMCODES && status == 0; ++n) read_mcd_string(unit, cs.scodes[n], status);
    if (status != 0) return failed(GROUP_CODE_TEXTS);

    read_mcd_integers(unit, std::span<int>(cs.blklen.data(), static_cast<std::size_t>(layout.block_lengths)), status);
    for (int b = 1; b <= layout.block_lengths && status == 0; ++b)
        if (cs.blklen[b] < 0 || cs.blklen[b] > MAXITEMS) status = MCD_BAD_CHECK;  // the item count bounds every block walk
    if (status != 0) return failed(GROUP_BLOCK_LENGTHS);
    std::array<int, MAXITEMS> items{};
    const std::span<int> item_values(items.data(), static_cast<std::size_t>(layout.items));
    for (int b = 1; b <= layout.blocks; ++b) {
        // A blank string or an empty item past those the block holds is
        // already so: only the others are laid down in the store.
        const auto laid = [&](const auto& table, int i) {
            return i <= static_cast<int>(table[b].laid_entries().size());
        };
        for (int s = 1; s <= layout.items && status == 0; ++s) {
            text<BLOCK_TEXT_LENGTH> string;
            read_mcd_string(unit, string, status);
            if (laid(cs.block_texts, s) || string.view().find_first_not_of(' ') != std::string_view::npos)
                cs.block_texts[b][s] = string;
        }
        if (status != 0) return failed(GROUP_BLOCK_TEXTS);
        for (int field = 1; field <= 3; ++field) {
            read_mcd_integers(unit, item_values, status);
            if (status == 0 && field == 3 &&
                !all_values(item_values, [&](int v) { return is_string_ref(v, layout.items); }))
                status = MCD_BAD_CHECK;
            if (status != 0) return failed(GROUP_BLOCK_ITEMS);
            for (int i = 1; i <= layout.items; ++i) {
                const int v = items[static_cast<std::size_t>(i - 1)];
                if (v == 0 && !laid(cs.block_items, i)) continue;
                block_item_t& it = cs.block_items[b][i];
                if (field == 1) it.code = v;
                else if (field == 2) it.value = v;
                else it.string_ref = v;
            }
        }
    }

    for (int w = 1; w <= words && status == 0; ++w) {
        read_mcd_string(unit, cs.gpnams[w], status);
        // A name that was written with a trailing "_" (to keep it from being
        // read as a keyword) is the name without it.
        const int n = trimmed_length(cs.gpnams[w]);
        if (n > 0 && cs.gpnams[w][n] == '_') cs.gpnams[w][n] = ' ';
    }
    if (status != 0) return failed(GROUP_WORD_NAMES);
    read_mcd_integers(unit, std::span<int>(mcd_reserved.ints.data(), static_cast<std::size_t>(layout.reserved_ints)), status);
    if (status != 0) return failed(GROUP_RESERVED_INTS);
    read_mcd_reals(unit, std::span<double>(mcd_reserved.reals.data(), MCD_RESERVED_REALS), status);
    if (status != 0) return failed(GROUP_RESERVED_REALS);
    // The ppfun block names that follow are not read: those blocks keep blank names.
    return 0;
}

// The MCD file takes the control's name in the current folder: a name that
// holds a folder ("../other/mill", "/lib/mill", "~/mill", "c:mill") would put
// it somewhere else.
bool holds_folder(std::string_view name) {
    return name.find_first_of("/\\:") != std::string_view::npos || (!name.empty() && name.front() == '~');
}

}  // namespace

void write_mcd_file(int& status) {
    configuration_store_t& cs = configuration_store;
    status = 0;
    const std::string_view control = trimmed(cs.gpnams[0].view());
    if (holds_folder(control)) {
        set_message_string_arg(1, control);
        issue_message(302);
        status = IO_FAILED;
        return;
    }
    // The file always takes the extension "mcd": a control named like another
    // file ("job.cut") writes job.cut.mcd, never over that file.
    std::string file(control);
    if (!file.ends_with(".mcd")) file += ".mcd";
    text<MCD_NAME_LENGTH> name;
    int st = IO_OK;
    build_file_name(name, file, "", "", st);
    // No file the run reads (the machine file the control was loaded from,
    // the startup or message file) is ever written over.
    if (st == IO_OK && is_job_input(name)) st = IO_FAILED;
    int unit = NO_UNIT;
    if (st == IO_OK) open_unit(unit, name, OPEN_WRITE, FORM_TEXT, st);
    if (st != IO_OK) {
        issue_message(228);
        status = st;
        return;
    }
    reset_mcd_lines();
    write_records(unit, std::clamp(cs.NGPS, 0, MAXDEFWORDS));
    flush_mcd_repeats(unit);
    write_mcd_file_checksum(unit);
    // A file that did not reach the disk whole is a failure, not a control:
    // it never takes the file's name.
    if (mcd_line_state.write_failed != 0) discard_unit(unit, st);
    else filclo(unit, st);
    if (mcd_line_state.write_failed != 0 || st != IO_OK) {
        issue_message(221);
        status = IO_FAILED;
    }
}

void read_mcd_file(int& unit, std::string_view name, int& status) {
    configuration_store_t& cs = configuration_store;
    status = 0;
    reset_mcd_lines();
    // Records 1 and 2 have no error group: what they hold is judged instead.
    int ignored = 0;
    text<MCD_VERSION_LENGTH> version;
    read_mcd_string(unit, version, ignored);
    if (trimmed_length(version) == 0) {
        issue_message(208);
        stop_run(STOP_UNREADABLE);
    }
    print_error_line(version);
    const mcd_layout layout = text_equals(version, MCD_VERSION_TEXT) ? CURRENT_LAYOUT : older_layout(version);
    read_mcd_string(unit, cs.gpnams[0], ignored);

    text<WORD_NAME_LENGTH> stripped;
    text<WORD_NAME_LENGTH> looked_for;
    strip_extension(stripped, trimmed(name));
    file_name_part(looked_for, trimmed(stripped.view()));
    if (!text_equals(looked_for, cs.gpnams[0])) {
        issue_message(155);
        status = MCD_NAME_MISMATCH;
    } else {
        status = read_records(unit, layout);
        // Each record checks itself; only the whole file's checksum sees
        // records that were moved or repeat lines that were changed.
        if (status == 0) {
            const int whole = check_mcd_file_checksum(unit);
            if (whole != 0) status = MCD_WHOLE_FILE_GROUP * MCD_GROUP_FACTOR + whole;
        }
    }
    int st = 0;
    filclo(unit, st);
}

}  // namespace kv