// Test support: compiles option-file text onto a fresh store, and prints the
// store's entries that differ from the defaults, one per line, so that a test
// compares a compiled control with the lines it expects.
#pragma once

#include <gtest/gtest.h>

#include <cstdio>
#include <sstream>
#include <string>
#include <unistd.h>

#include "control/control.h"
#include "job/job.h"
#include "ppnsub/ppnsub.h"

namespace kv_test {

using namespace kv;

struct run_stopped {
    int code;
};

inline void throw_on_stop(int code) { throw run_stopped{code}; }

// The store as a run finds it before any control is loaded: static values,
// then set_configuration_defaults.
inline const configuration_store_t& default_store() {
    static const configuration_store_t* defaults = [] {
        auto* fresh = new configuration_store_t();
        configuration_store = *fresh;
        set_configuration_defaults();
        *fresh = configuration_store;
        return fresh;
    }();
    return *defaults;
}

inline void reset_store() {
    configuration_store = default_store();
    option_compiler.selected_word_count = 0;
}

inline std::string quoted(std::string_view field) {
    std::string q(1, '"');
    q.append(trimmed(field)).push_back('"');
    return q;
}

// Every entry of the store that differs from the defaults.
inline std::string nondefault_entries() {
    const configuration_store_t& d = default_store();
    const configuration_store_t& s = configuration_store;
    std::ostringstream out;
    auto diff_int = [&](const char* name, int a, int b) {
        if (a != b) out << name << " = " << a << "\n";
    };
    diff_int("NGPS", s.NGPS, d.NGPS);
    diff_int("active_word_count", s.active_word_count, d.active_word_count);
    for (int w = 0; w <= MAXWORDS; ++w)
        if (!text_equals(s.gpnams[w], d.gpnams[w])) out << "gpnams(" << w << ") = " << quoted(s.gpnams[w]) << "\n";
    for (int w = 1; w <= MAXWORDS; ++w) {
        if (!text_equals(s.wrdch[w], d.wrdch[w])) out << "wrdch(" << w << ") = " << quoted(s.wrdch[w]) << "\n";
        for (int c = 1; c <= NFORMAT; ++c)
            if (s.word_formats[w][c] != d.word_formats[w][c])
                out << "word_formats(" << w << "," << c << ") = " << s.word_formats[w][c] << "\n";
        if (s.wperm[w] != d.wperm[w]) out << "wperm(" << w << ") = " << s.wperm[w] << "\n";
        if (s.wrdlnk[w] != d.wrdlnk[w]) out << "wrdlnk(" << w << ") = " << s.wrdlnk[w] << "\n";
        if (s.wrdrut[w] != d.wrdrut[w]) out << "wrdrut(" << w << ") = " << s.wrdrut[w] << "\n";
        if (std::string(s.word_zero_text[w].view()) != std::string(d.word_zero_text[w].view()))
            out << "word_zero_text(" << w << ") = " << quoted(s.word_zero_text[w]) << "\n";
        if (s.word_upper_case[w] != d.word_upper_case[w]) out << "word_upper_case(" << w << ") = " << s.word_upper_case[w] << "\n";
    }
    for (int k = 1; k <= NUMKEYS; ++k)
        if (s.key[k] != d.key[k]) out << "key(" << k << ") = " << s.key[k] << "\n";
    for (int n = 0; n <= NUMCODES; ++n)
        if (s.icodes[1][n] != d.icodes[1][n] || s.icodes[2][n] != d.icodes[2][n])
            out << "icodes(" << n << ") = " << s.icodes[1][n] << " " << s.icodes[2][n] << "\n";
    for (int n = 1; n <= NUMCODES; ++n)
        if (!text_equals(s.scodes[n], d.scodes[n])) out << "scodes(" << n << ") = " << quoted(s.scodes[n]) << "\n";
    for (int n = 1; n <= NUMINTSP; ++n)
        if (s.intsp[n] != d.intsp[n]) out << "intsp(" << n << ") = " << s.intsp[n] << "\n";
    for (int c = 1; c <= NUMREALS; ++c)
        if (s.real_options[c] != d.real_options[c]) out << "R(" << c << ") = " << s.real_options[c] << "\n";
    for (int n = 1; n <= NUMSPCHAR; ++n)
        if (!text_equals(s.spchar[n], d.spchar[n])) out << "spchar(" << n << ") = " << quoted(s.spchar[n]) << "\n";
    for (int i = 1; i <= MAXSPB; ++i)
        if (s.blkspc[i] != d.blkspc[i]) out << "blkspc(" << i << ") = " << s.blkspc[i] << "\n";
    diff_int("special_block_count", s.special_block_count, d.special_block_count);
    for (int i = 1; i <= PPFUN_SLOTS; ++i)
        if (!text_equals(s.ppfstr[i], d.ppfstr[i])) out << "ppfstr(" << i << ") = " << quoted(s.ppfstr[i]) << "\n";
    for (int i = 1; i <= USER_SLOTS; ++i)
        if (!text_equals(s.user_block_names[i], d.user_block_names[i]))
            out << "user_block_names(" << i << ") = " << quoted(s.user_block_names[i]) << "\n";
    for (int i = 1; i <= 2; ++i)
        if (s.block_counters[i] != d.block_counters[i]) out << "block_counters(" << i << ") = " << s.block_counters[i] << "\n";
    // Blocks: the items in use, each with its string, and any item or string
    // beyond them that was written.
    for (int b = 1; b <= NUMBLOCKS; ++b) {
        if (s.blklen[b] != d.blklen[b]) out << "blklen(" << b << ") = " << s.blklen[b] << "\n";
        for (int i = 1; i <= MAXITEMS; ++i) {
            const block_item_t& it = s.block_items[b][i];
            if (it.code == 0 && it.value == 0 && it.string_ref == 0 && s.block_reals[b][i] == 0.0) continue;
            out << "item(" << b << "," << i << ") = " << it.code << " " << it.value << " " << it.string_ref << " "
                << s.block_reals[b][i];
            if (it.string_ref / 10 > 0) out << " " << quoted(s.block_texts[b][it.string_ref / 10]);
            out << "\n";
        }
    }
    return out.str();
}

struct compile_result {
    int exit_code = -1;  // -1: the compile returned
    std::string messages;
};

// Compiles the text as the file "t.opt" onto a fresh store (or onto what the
// previous compile left when fresh is false). stdin_text, when given, is what
// a query reads from standard input.
inline compile_result compile(const std::string& contents, int continue_after_error = 0, bool fresh = true,
                              const char* stdin_text = nullptr) {
    static bool ready = false;
    int status = 0;
    if (!ready) {
        init_units(status);
        init_message_table(status);
        register_builtin_messages();
        set_stop_hook(throw_on_stop);
        ready = true;
    }
    if (fresh) reset_store();
    command_switches.continue_after_error = continue_after_error;
    const std::string name = "/tmp/kv_store_" + std::to_string(getpid()) + ".opt";
    std::FILE* f = std::fopen(name.c_str(), "wb");
    std::fwrite(contents.data(), 1, contents.size(), f);
    std::fclose(f);
    std::string input_name;
    std::FILE* saved_stdin = unit_table.stream[5];
    std::FILE* input = nullptr;
    if (stdin_text != nullptr) {
        input_name = name + ".in";
        std::FILE* g = std::fopen(input_name.c_str(), "wb");
        std::fputs(stdin_text, g);
        std::fclose(g);
        input = std::fopen(input_name.c_str(), "rb");
        unit_table.stream[5] = input;
    }
    int unit = -1;
    open_unit(unit, name, OPEN_READ, FORM_TEXT, status);
    EXPECT_EQ(status, 0);
    compile_result r;
    testing::internal::CaptureStderr();
    try {
        parse_option_file(unit, "t.opt");
    } catch (const run_stopped& s) {
        r.exit_code = s.code;
    }
    flush_console_hold();  // a query's prompt, held until an answer or a line follows
    r.messages = testing::internal::GetCapturedStderr();
    filclo(unit, status);
    std::remove(name.c_str());
    if (input != nullptr) {
        unit_table.stream[5] = saved_stdin;
        std::fclose(input);
        std::remove(input_name.c_str());
    }
    command_switches.continue_after_error = 0;
    return r;
}

// The lines of message 149 for a line of t.opt.
inline std::string at(int line) { return "Error reading option file t.opt, line " + std::to_string(line) + "\n"; }

}  // namespace kv_test
