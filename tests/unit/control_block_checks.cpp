// The checks of a loaded control's blocks ("if" and "repeat" structure,
// literals per output line, expression syntax) and the expansion of "call
// block" items into the items of the user blocks they name.
#include <vector>

#include "output/output.h"
#include "store_printer.h"

using namespace kv;
using namespace kv_test;

namespace {

constexpr int TAPE_START = 1;

struct item_spec {
    int code;
    const char* string;   // nullptr: the item carries none
    int continuation = 1; // 0 ends the output line
};

struct BlockChecks : testing::Test {
    void SetUp() override {
        static bool ready = false;
        if (!ready) {
            int status = 0;
            init_units(status);
            init_message_table(status);
            register_builtin_messages();
            set_stop_hook(throw_on_stop);
            ready = true;
        }
        reset_store();
        command_switches.continue_after_error = 1;
    }
    void TearDown() override { command_switches.continue_after_error = 0; }
};

void set_block(int b, const std::vector<item_spec>& items) {
    int next_string = 1;
    int i = 0;
    for (const item_spec& it : items) {
        ++i;
        store_block_item(b, i, it.code, 0, static_cast<double>(i), it.continuation,
                         it.string != nullptr ? it.string : "", next_string);
    }
    configuration_store.blklen[b] = i;
}

std::vector<item_spec> repeated(const item_spec& it, int n) { return std::vector<item_spec>(static_cast<std::size_t>(n), it); }

std::vector<item_spec> operator+(std::vector<item_spec> a, const std::vector<item_spec>& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

// The messages of check_loaded_blocks over the store as it stands.
std::string run_checks() {
    testing::internal::CaptureStderr();
    check_loaded_blocks();
    return testing::internal::GetCapturedStderr();
}

const std::string bad_block = "Error: invalid syntax in \"tape start\" block\n";
std::string invalid(const char* word) { return bad_block + "Invalid \"" + word + "\" expression\n"; }

const item_spec IF{IF_ITEM, "1 eq 1"};
const item_spec ELSE_IF{ELSE_IF_ITEM, "1 eq 2"};
const item_spec ELSE{ELSE_ITEM, nullptr};
const item_spec END_IF{END_IF_ITEM, nullptr};
const item_spec LITERAL{LITERAL_ITEM, "text"};
const item_spec LINE_END{LITERAL_ITEM, "end", 0};

}  // namespace

TEST_F(BlockChecks, IfStructure) {
    struct Case {
        const char* name;
        std::vector<item_spec> items;
        std::string messages;
    };
    const Case cases[] = {
        {"nine open at once", repeated(IF, 9) + repeated(END_IF, 9), ""},
        {"a tenth open", repeated(IF, 10) + repeated(END_IF, 10), "Maximum depth exceeded\n" + invalid("if")},
        {"if, else if, else", {IF, ELSE_IF, ELSE, END_IF}, ""},
        {"else if after else", {IF, ELSE, ELSE_IF, END_IF}, invalid("elseif")},
        {"two else", {IF, ELSE, ELSE, END_IF}, invalid("else")},
        {"else outside an if", {ELSE}, invalid("else")},
        {"else if outside an if", {ELSE_IF}, invalid("elseif")},
        {"end if without if", {END_IF}, bad_block + "Unterminated \"if\" block\n"},
        {"if left open", {IF, LITERAL}, bad_block + "Unterminated \"if\" block\n"},
        {"else of an outer if after a nested one", {IF, IF, ELSE, END_IF, ELSE, END_IF}, ""},
    };
    for (const Case& c : cases) {
        reset_store();
        set_block(TAPE_START, c.items);
        EXPECT_EQ(run_checks(), c.messages) << c.name;
    }
    // Without "-o" the first fault stops the run.
    reset_store();
    command_switches.continue_after_error = 0;
    set_block(TAPE_START, {ELSE});
    int code = -1;
    testing::internal::CaptureStderr();
    try {
        check_loaded_blocks();
    } catch (const run_stopped& s) {
        code = s.code;
    }
    EXPECT_EQ(testing::internal::GetCapturedStderr(), invalid("else"));
    EXPECT_EQ(code, 4);
}

TEST_F(BlockChecks, RepeatStructure) {
    const std::string repeat_fault = bad_block +
                                     "Error: a \"repeat\" block is not correct.  Check the block is terminated.  "
                                     "Nested \"repeat\" blocks are not allowed.\n";
    struct Case {
        const char* name;
        std::vector<item_spec> items;
        std::string messages;
    };
    const Case cases[] = {
        {"counted", {{REPEAT_ITEM, "3"}, LITERAL, {END_REPEAT_ITEM, nullptr}}, ""},
        {"count of a text", {{REPEAT_ITEM, "\"x\""}, {END_REPEAT_ITEM, nullptr}},
         "Error: expression \"\"x\"\" is incorrect\n"},
        {"nested", {{REPEAT_ITEM, "2"}, {REPEAT_ITEM, "2"}, {END_REPEAT_ITEM, nullptr}, {END_REPEAT_ITEM, nullptr}},
         repeat_fault},
        {"unterminated", {{REPEAT_ITEM, "2"}, LITERAL}, repeat_fault},
        {"end without repeat", {{END_REPEAT_ITEM, nullptr}}, repeat_fault},
        // A called block's items take the call's place when the job starts.
        {"a call of a block holding a repeat, inside a repeat",
         {{REPEAT_ITEM, "2"}, {CALL_BLOCK_ITEM, "loop"}, {END_REPEAT_ITEM, nullptr}}, repeat_fault},
        {"a call of a block holding a repeat, after a repeat",
         {{REPEAT_ITEM, "2"}, LITERAL, {END_REPEAT_ITEM, nullptr}, {CALL_BLOCK_ITEM, "loop"}}, ""},
        {"a call of a block without one, inside a repeat",
         {{REPEAT_ITEM, "2"}, {CALL_BLOCK_ITEM, "plain"}, {END_REPEAT_ITEM, nullptr}}, ""},
    };
    for (const Case& c : cases) {
        reset_store();
        configuration_store.user_block_names[1].set("loop");
        set_block(USER_BASE + 1, {{REPEAT_ITEM, "3"}, LITERAL, {END_REPEAT_ITEM, nullptr}});
        configuration_store.user_block_names[2].set("plain");
        set_block(USER_BASE + 2, {LITERAL});
        set_block(TAPE_START, c.items);
        EXPECT_EQ(run_checks(), c.messages) << c.name;
    }
}

TEST_F(BlockChecks, LiteralsPerOutputLine) {
    const std::string too_many = bad_block + "Error: too many string literals in output line\n";
    const item_spec key_text{KEY_TEXT_ITEM + 12, "T"};   // a text given to a key: no literal
    const item_spec message{KEY_TEXT_ITEM + MSG_ROLE, "m"};  // "msg" takes a literal
    const item_spec set{SET_ITEM, "swa"};
    struct Case {
        const char* name;
        std::vector<item_spec> items;
        std::string messages;
    };
    const Case cases[] = {
        {"95 in a line", repeated(LITERAL, 94) + std::vector<item_spec>{LINE_END}, ""},
        {"96 in a line", repeated(LITERAL, 95) + std::vector<item_spec>{LINE_END}, too_many},
        {"95 in each of two lines",
         repeated(LITERAL, 94) + std::vector<item_spec>{LINE_END} + repeated(LITERAL, 94) +
             std::vector<item_spec>{LINE_END},
         ""},
        {"msg items count", repeated(message, 96), too_many},
        {"key texts and settings do not", repeated(key_text, 100) + repeated(set, 100) + repeated(LITERAL, 95), ""},
    };
    for (const Case& c : cases) {
        reset_store();
        set_block(TAPE_START, c.items);
        EXPECT_EQ(run_checks(), c.messages) << c.name;
    }
}

TEST_F(BlockChecks, ExpressionsAndConditions) {
    set_block(TAPE_START, {{WORD_EXPR_ITEM + 3, "1 +"}, {IF_ITEM, "1 xx 2"}, {END_IF_ITEM, nullptr},
                           {KEY_EXPR_ITEM + 8, "nosuch"}, {WORD_FORGET_ITEM + 3, "2 * 3"}});
    EXPECT_EQ(run_checks(), bad_block + "Error: expression \"1 +\" is incorrect\nError: incomplete expression\n" +
                                bad_block + "Error: expression \"1 xx 2\" is incorrect\n" + "Bad var - nosuch\n" +
                                bad_block + "Error: expression \"nosuch\" is incorrect\n");
}

TEST_F(BlockChecks, ValuesOfTheJobArePresentOnlyDuringTheChecks) {
    configuration_store.intsp[31] = 0;
    configuration_store.intsp[61] = 4;
    derived_settings.counter = 4;
    // A repeat count is evaluated: "counter" moves, then starts again.
    set_block(TAPE_START, {{REPEAT_ITEM, "counter"}, {END_REPEAT_ITEM, nullptr}, {WORD_EXPR_ITEM + 3, "contactnormalx"}});
    EXPECT_EQ(run_checks(), "");
    EXPECT_EQ(derived_settings.counter, 4);
    EXPECT_EQ(configuration_store.intsp[31], 0);
    EXPECT_EQ(get_srat_defined(), 0);
    EXPECT_EQ(cutfile_has_contact_normals(), 0);
}

TEST_F(BlockChecks, CallBlocksAreReplacedByUserBlocks) {
    configuration_store_t& cs = configuration_store;
    cs.user_block_names[1].set("lights");
    set_block(USER_BASE + 1, {{LITERAL_ITEM, "on"}, {WORD_TEXT_ITEM + 2, "T1", 0}});
    set_block(TAPE_START, {{LITERAL_ITEM, "a"}, {CALL_BLOCK_ITEM, "lights"}, {8013, nullptr}, {CALL_BLOCK_ITEM, "lights"},
                           {LITERAL_ITEM, "b", 0}});
    testing::internal::CaptureStderr();
    expand_all_blocks();
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
    ASSERT_EQ(cs.blklen[TAPE_START], 7);
    const int codes[] = {LITERAL_ITEM, LITERAL_ITEM, WORD_TEXT_ITEM + 2, 8013, LITERAL_ITEM, WORD_TEXT_ITEM + 2,
                         LITERAL_ITEM};
    const char* strings[] = {"a", "on", "T1", nullptr, "on", "T1", "b"};
    const double reals[] = {1, 1, 2, 3, 1, 2, 5};
    const int digits[] = {1, 1, 0, 1, 1, 0, 0};
    int s = 0;
    for (int i = 1; i <= 7; ++i) {
        const block_item_t& it = cs.block_items[TAPE_START][i];
        EXPECT_EQ(it.code, codes[i - 1]) << i;
        EXPECT_EQ(it.string_ref % 10, digits[i - 1]) << i;
        EXPECT_EQ(cs.block_reals[TAPE_START][i], reals[i - 1]) << i;
        if (strings[i - 1] == nullptr) {
            EXPECT_EQ(it.string_ref / 10, 0) << i;
        } else {
            EXPECT_EQ(it.string_ref / 10, ++s) << i;
            EXPECT_EQ(cs.block_texts[TAPE_START][s].str(), strings[i - 1]) << i;
        }
    }
    // The user block itself is left alone.
    EXPECT_EQ(cs.blklen[USER_BASE + 1], 2);
}

TEST_F(BlockChecks, CallBlockFaults) {
    configuration_store_t& cs = configuration_store;
    set_block(TAPE_START, {{LITERAL_ITEM, "a"}, {CALL_BLOCK_ITEM, "missing"}, {LITERAL_ITEM, "b", 0}});
    testing::internal::CaptureStderr();
    expand_all_blocks();
    EXPECT_EQ(testing::internal::GetCapturedStderr(), bad_block + "User block \"missing\" not found\n");
    EXPECT_EQ(cs.blklen[TAPE_START], 2);
    EXPECT_EQ(cs.block_texts[TAPE_START][2].str(), "b");

    // 500 items and two calls of a 300-item block would make 1098 items.
    reset_store();
    cs.user_block_names[3].set("big");
    set_block(USER_BASE + 3, repeated(LITERAL, 300));
    set_block(TAPE_START, repeated({8013, nullptr}, 249) + std::vector<item_spec>{{CALL_BLOCK_ITEM, "big"}} +
                              repeated({8013, nullptr}, 249) + std::vector<item_spec>{{CALL_BLOCK_ITEM, "big"}});
    testing::internal::CaptureStderr();
    expand_all_blocks();
    EXPECT_EQ(testing::internal::GetCapturedStderr(), bad_block + "Too many output words in block\n");
    EXPECT_EQ(cs.blklen[TAPE_START], MAXITEMS);

    // Without "-o" the run stops.
    reset_store();
    command_switches.continue_after_error = 0;
    set_block(TAPE_START, {{CALL_BLOCK_ITEM, "missing"}});
    int code = -1;
    testing::internal::CaptureStderr();
    try {
        expand_all_blocks();
    } catch (const run_stopped& s) {
        code = s.code;
    }
    testing::internal::GetCapturedStderr();
    EXPECT_EQ(code, 4);
}
