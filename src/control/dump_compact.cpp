// The compact column dump "-c": words and formats, integer, real and character
// settings, keys, function codes, word order and the first regular blocks, in
// fixed columns on the temporary file. Write failures are not reported.
#include <cstdio>
#include <cstring>

#include "control/control.h"
#include "job/job.h"
#include "ppnsub/ppnsub.h"

namespace kv {

namespace {

configuration_store_t& cs = configuration_store;

constexpr int COMPACT_TABLE = 80;      // integers, keys, codes and word order written
constexpr int COMPACT_REALS = 20;
constexpr int COMPACT_CHARACTERS = 10;
constexpr int COMPACT_BLOCKS = 19;
constexpr int VALUES_A_LINE = 10;
constexpr int REAL_WIDTH = 6;
constexpr int ITEM_TEXT_SHOWN = 25;
constexpr int ITEM_TEXT_COLUMN = 19;
constexpr int CODE_TEXT_LIMIT = 1000;  // a code value above this is a text code
constexpr int COMPACT_LINE = 256;

int temporary_unit() { return job_files.file_units[unit_slot(FILE_TEMPORARY)]; }

void write_line(const char* s, int n) {
    int status = 0;
    filwri(temporary_unit(), std::string_view(s, static_cast<std::size_t>(n)), status);
}

void write_cstring(const char* s) { write_line(s, static_cast<int>(std::strlen(s))); }

// Values of a table, VALUES_A_LINE to a line.
struct row_writer {
    char line[COMPACT_LINE];
    int len = 0;
    int values = 0;
};

void add_piece(row_writer& r, const char* piece) {
    const int n = static_cast<int>(std::strlen(piece));
    if (r.len + n < COMPACT_LINE) {
        std::memcpy(r.line + r.len, piece, static_cast<std::size_t>(n));
        r.len += n;
    }
    if (++r.values == VALUES_A_LINE) {
        write_line(r.line, r.len);
        r.len = 0;
        r.values = 0;
    }
}

void finish_rows(row_writer& r) {
    if (r.values > 0) write_line(r.line, r.len);
    r.len = 0;
    r.values = 0;
}

void write_int_rows(const int* first, int count) {
    row_writer r;
    char piece[16];
    for (int i = 0; i < count; ++i) {
        std::snprintf(piece, sizeof piece, "%6d", first[i]);
        add_piece(r, piece);
    }
    finish_rows(r);
}

// A real in six characters: the most significant digits that fit, and
// asterisks when not even one does.
void compact_real(double v, char* out) {
    for (int p = REAL_WIDTH; p >= 1; --p) {
        char s[64];
        const int n = std::snprintf(s, sizeof s, "%.*g", p, v);
        if (n > 0 && n <= REAL_WIDTH) {
            std::memset(out, ' ', REAL_WIDTH);
            std::memcpy(out + REAL_WIDTH - n, s, static_cast<std::size_t>(n));
            out[REAL_WIDTH] = '\0';
            return;
        }
    }
    std::memset(out, '*', REAL_WIDTH);
    out[REAL_WIDTH] = '\0';
}

// The first n characters of a field, blanks and NULs shown as "~".
int tilde_text(std::string_view field, int limit, char* out) {
    std::string_view s = field.substr(0, static_cast<std::size_t>(limit) < field.size() ? static_cast<std::size_t>(limit) : field.size());
    int t = trimmed_length(s);
    if (t < 1) t = 1;
    for (int k = 0; k < t; ++k) {
        const char ch = k < static_cast<int>(s.size()) ? s[static_cast<std::size_t>(k)] : ' ';
        out[k] = (ch == ' ' || ch == '\0') ? '~' : ch;
    }
    out[t] = '\0';
    return t;
}

void set_mirrored_settings() {
    cs.intsp[6] = truncate_to_int(avals(1, 8));
    cs.intsp[7] = truncate_to_int(avals(2, 8));
    for (int i = 1; i <= 4; ++i) cs.intsp[9 + i] = truncate_to_int(avals(i, 9));
    cs.intsp[26] = truncate_to_int(avals(1, 10));
    cs.intsp[20] = truncate_to_int(avals(2, 10));
    cs.intsp[27] = truncate_to_int(avals(3, 10));
    cs.intsp[28] = truncate_to_int(avals(4, 10));
    for (int i = 1; i <= 4; ++i) cs.intsp[33 + i] = truncate_to_int(avals(i, 11));
}

void write_words(int words) {
    char line[COMPACT_LINE];
    std::snprintf(line, sizeof line, "%4d", cs.NGPS);
    write_cstring(line);
    for (int w = 1; w <= words; ++w) {
        text<WORD_CHARS_LENGTH>& letters = cs.wrdch[w];
        array1<int, NFORMAT>& f = cs.word_formats[w];
        if (trimmed_length(letters) == 0) letters.set("#");
        const int shown = f[WRDCHL] < 1 ? 1 : (f[WRDCHL] > WORD_CHARS_LENGTH ? WORD_CHARS_LENGTH : f[WRDCHL]);
        for (int k = 1; k <= shown; ++k)
            if (letters[k] == ' ') letters[k] = '~';

        char name[5];
        char chars[16];
        for (int k = 0; k < 4; ++k) name[k] = cs.gpnams[w][k + 1] == '\0' ? ' ' : cs.gpnams[w][k + 1];
        name[4] = '\0';
        for (int k = 0; k < 15; ++k) chars[k] = letters[k + 1] == '\0' ? ' ' : letters[k + 1];
        chars[15] = '\0';
        std::snprintf(line, sizeof line, " %s %s", name, chars);
        write_cstring(line);

        char zero[8];
        std::string_view z = trimmed(cs.spchar[4].view().substr(0, 5));
        std::snprintf(zero, sizeof zero, " %.*s", static_cast<int>(z.size()), z.data());
        std::snprintf(line, sizeof line, "%3d%3d%3d%3d%3d%3d%3d%3d%3d%3d%3d%3d%3d%3d%3d%s%2d%2d", f[WRDCHL],
                      f[IZSUPM] % 2, f[IZSUPM] / 2, f[IZSUPI] % 2, f[IZSUPI] / 2, f[IDECM], f[IDECI], f[WRDMOD],
                      f[SINREQ], f[WRDFAC], f[SCALE_DIVISOR], cs.wperm[w], f[WRDMET], f[WRDIMP], f[WRDLEN], zero,
                      f[ITPPOS], f[WRDPOS]);
        write_cstring(line);
    }
}

// The word and kind of an item, as the compact dump classes it.
void item_word_and_kind(const block_item_t& item, int& word, int& kind) {
    const int code = item.code;
    const int cls = (code / 1000) % 100;
    if (code < 0) {
        // A function code followed by "=C" is shown as its function code.
        const int slot = (-code) % 1000;
        word = (slot >= 1 && slot <= NUMCODES) ? cs.icodes[1][slot] : COMPACT_TABLE;
        kind = 2;
    } else if (cls >= 10) {
        word = code % 1000;
        kind = (code / 1000) % 10;
    } else if (cls >= 1) {
        // A "msg" item names no key role: its word is shown as 99.
        const int role = code % 1000;
        word = (role >= 1 && role <= NUMKEYS) ? cs.key[role] : MSG_ROLE;
        kind = (code / 1000) % 10;
    } else if (code >= 1 && code <= COMPACT_TABLE && cs.icodes[2][code] <= CODE_TEXT_LIMIT) {
        word = cs.icodes[1][code];
        kind = 2;
    } else {
        word = COMPACT_TABLE;
        kind = (code / 1000) % 10;
    }
    if (kind == 1) kind = 2;
    if (code / 100000 == 999) kind = (code % 10000) / 1000 == 5 ? 1 : 0;
    if (kind == 6) kind = 3;
}

// Each block head stands on a line of its own, so that the item lines keep
// their columns.
void write_blocks() {
    char line[COMPACT_LINE];
    for (int b = 1; b <= COMPACT_BLOCKS; ++b) {
        const int count = cs.blklen[b] < 0 ? 0 : (cs.blklen[b] > MAXITEMS ? MAXITEMS : cs.blklen[b]);
        std::snprintf(line, sizeof line, "%5d%5d", b, cs.blklen[b]);
        write_cstring(line);
        for (int i = 1; i <= count; ++i) {
            const block_item_t& item = cs.block_items[b][i];
            int word = 0;
            int kind = 0;
            item_word_and_kind(item, word, kind);
            std::string_view source;
            const int s = item.string_ref / 10;
            if (item.code / 100000 == 999 && s >= 1 && s <= MAXITEMS) source = cs.block_texts[b][s].view();
            else if (item.code >= 1 && item.code < COMPACT_TABLE) source = cs.scodes[item.code].view();
            char shown[ITEM_TEXT_SHOWN + 1];
            tilde_text(source, ITEM_TEXT_SHOWN, shown);
            int n = std::snprintf(line, sizeof line, "    %4d%4d%5d", word, kind, item.value);
            if (n < 0) n = 0;
            const int column = n + 1 < ITEM_TEXT_COLUMN ? ITEM_TEXT_COLUMN : n + 2;
            while (n < column - 1) line[n++] = ' ';
            // 1 marks the item that ends an output line (continuation digit 0).
            n += std::snprintf(line + n, sizeof line - static_cast<std::size_t>(n), "%s~  %d", shown,
                               item.string_ref % 10 == 0 ? 1 : 0);
            write_line(line, n);
        }
    }
}

}  // namespace

void write_cfg_dump() {
    if (temporary_unit() < 0) return;
    set_mirrored_settings();
    const int words = cs.NGPS < 0 ? 0 : (cs.NGPS > MAXDEFWORDS ? MAXDEFWORDS : cs.NGPS);
    write_words(words);

    write_cstring(" 80");
    write_int_rows(cs.intsp.data(), COMPACT_TABLE);

    write_cstring(" 20");
    row_writer r;
    for (int n = 1; n <= COMPACT_REALS; ++n) {
        char piece[REAL_WIDTH + 1];
        compact_real(spval(n), piece);
        add_piece(r, piece);
    }
    finish_rows(r);

    write_cstring(" 10");
    for (int n = 1; n <= COMPACT_CHARACTERS; ++n) {
        char shown[SPCHAR_LENGTH + 1];
        const int t = tilde_text(cs.spchar[n].view(), SPCHAR_LENGTH, shown);
        for (int k = 1; k <= t; ++k) cs.spchar[n][k] = shown[k - 1];
        write_line(shown, t);
    }

    write_cstring(" 80");
    write_int_rows(cs.key.data(), COMPACT_TABLE);

    // Function codes ten to a line, like the tables.
    write_cstring(" 80");
    for (int s = 1; s <= COMPACT_TABLE; ++s) {
        char piece[32];
        const int value = cs.icodes[2][s];
        if (value <= CODE_TEXT_LIMIT) {
            std::snprintf(piece, sizeof piece, "%6d %5d", cs.icodes[1][s], value);
        } else {
            char code_text[6];
            std::memcpy(code_text, cs.scodes[s].view().data(), 5);
            code_text[5] = '\0';
            for (int k = 0; k < 5; ++k)
                if (code_text[k] == '\0') code_text[k] = ' ';
            if (code_text[0] == ' ') code_text[0] = '~';
            std::snprintf(piece, sizeof piece, "%6d %s", cs.icodes[1][s], code_text);
        }
        add_piece(r, piece);
    }
    finish_rows(r);

    write_cstring(" 80");
    write_int_rows(cs.wrdrut.data(), COMPACT_TABLE);

    write_blocks();
}

}  // namespace kv
