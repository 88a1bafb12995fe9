// Evaluates the expressions and conditions of block items while a block runs,
// and checks them without evaluating after a control is loaded. Operators
// apply strictly from left to right, without precedence or parentheses.
#include <cmath>

#include "control/control.h"
#include "output/output.h"

namespace kv {

namespace {

constexpr double DIVISOR_TOLERANCE = 1e-12;  // a divisor this small counts as zero
constexpr int NUMBER_FIELD = 14;              // characters of a number token that are read
constexpr int TOLERANCE_KEY = 8;              // the X word: conditions compare to a tenth of its resolution

bool is_number_type(int type) {
    return type == VALUE_INTEGER || type == VALUE_REAL_LITERAL || type == VALUE_REAL;
}

// Numbers of the three kinds combine freely; any other type stands alone.
int type_family(int type) { return is_number_type(type) ? VALUE_REAL : type; }

bool is_operator_char(char ch) { return ch == '+' || ch == '-' || ch == '/' || ch == '*' || ch == '%'; }

double read_number(std::string_view token) {
    int error = 0;
    const double v = read_real_field(token, NUMBER_FIELD, 0, error, 0);
    return error != 0 ? 0.0 : v;
}

// A text being built with its length, so that blanks kept inside quotes at
// the end of a text survive concatenation.
struct counted_text {
    text<EXPRESSION_RESULT_LENGTH> t;
    int length = 0;
    void set(std::string_view s, int n) {
        t.set(s.substr(0, static_cast<std::size_t>(n)));
        length = n < EXPRESSION_RESULT_LENGTH ? n : EXPRESSION_RESULT_LENGTH;
    }
    void append(const counted_text& o) {
        for (int i = 1; i <= o.length && length < EXPRESSION_RESULT_LENGTH; ++i) t[++length] = o.t[i];
    }
    bool blank() const { return trimmed_length(t.view()) == 0; }
};

// The next token of a line; its text and length (blanks kept inside quotes).
template <std::size_t N>
int take_token(text<N>& line, text<N>& token, int& length) {
    return tokenise_line(line.span(), token.span(), length);
}

}  // namespace

int int_remainder(int a, int b) { return int_mod(a, b); }

void resolve_word_name_index(std::span<char> name, int& index, int& status) {
    status = EXPR_OK;
    const std::string_view f(name.data(), name.size());
    const int open = find_char(f, '{');
    if (open <= 1) return;
    const int close = find_last_char(f, '}');
    if (close <= open) {
        status = EXPR_BAD_INDEX;
        return;
    }
    const std::string_view word_name = f.substr(static_cast<std::size_t>(open), static_cast<std::size_t>(close - open - 1));
    const int w = word_name.empty() ? 0 : find_word(word_name);
    if (w == 0) {
        status = EXPR_BAD_INDEX;
        return;
    }
    index = w;
    for (std::size_t i = static_cast<std::size_t>(open - 1); i < name.size(); ++i) name[i] = ' ';
}

void evaluate_operand(std::string_view token, int evaluate, std::span<char> result_text, double& value, int& type,
                      int& status) {
    status = EXPR_OK;
    array1<text<EXPRESSION_LENGTH>, MAX_INDEX_LEVELS> names;
    array1<int, MAX_INDEX_LEVELS> kinds;
    text<EXPRESSION_LENGTH> level_text(token);
    int levels = 0;

    // Descend through the index brackets, one level for each.
    for (;;) {
        text<EXPRESSION_LENGTH> tok;
        int length = 0;
        const int kind = take_token(level_text, tok, length);
        if (kind != TOKEN_WORD && kind != TOKEN_INTEGER && kind != TOKEN_REAL) {
            status = EXPR_NOT_OPERAND;
            return;
        }
        const std::string_view t = tok.view();
        if (trimmed(t) == "nil") {
            type = VALUE_NIL;
            value = 0.0;
            return;
        }
        const int open = find_char(t, '[');
        if (open == 1) {
            status = EXPR_BAD_INDEX;
            return;
        }
        ++levels;
        if (levels > MAX_INDEX_LEVELS) {
            status = EXPR_TOO_DEEP;
            return;
        }
        kinds[levels] = kind;
        if (open == 0) {
            names[levels] = tok;
            break;
        }
        const int close = find_last_char(t, ']');
        if (close <= open) {
            status = EXPR_NO_BRACKET;
            return;
        }
        if (close == open + 1) {
            type = VALUE_NIL;
            value = 0.0;
            return;
        }
        names[levels].set(t.substr(0, static_cast<std::size_t>(open - 1)));
        level_text.set(t.substr(static_cast<std::size_t>(open), static_cast<std::size_t>(close - open - 1)));
        kinds[levels] = TOKEN_WORD;
    }

    // Evaluate from the innermost level outward; each level indexes the one around it.
    double inner = 0.0;
    bool has_inner = false;
    for (int l = levels; l >= 1; --l) {
        if (kinds[l] == TOKEN_INTEGER || kinds[l] == TOKEN_REAL) {
            value = read_number(names[l].view());
            type = kinds[l] == TOKEN_INTEGER ? VALUE_INTEGER : VALUE_REAL_LITERAL;
        } else {
            int index = has_inner ? truncate_to_int(inner) : 0;
            resolve_word_name_index(names[l].span(), index, status);
            if (status != EXPR_OK) return;
            get_system_variable(names[l].view(), index, l, evaluate, result_text, value, type, status);
            if (status != EXPR_OK) return;
        }
        inner = value;
        has_inner = true;
    }
}

void evaluate_expression(std::string_view text_in, int evaluate, std::span<char> result_text, double& value, int& type,
                         int& status) {
    value = 0.0;
    assign_text(result_text, "");
    counted_text result;
    counted_text w;
    char pending = ' ';
    bool operator_seen = false;
    int left_type = VALUE_NIL;
    double left = 0.0;
    int current_type = VALUE_NIL;
    int current_status = EXPR_OK;
    bool any_token = false;

    text<EXPRESSION_LENGTH> line(text_in);
    text<EXPRESSION_LENGTH> tok;
    text<EXPRESSION_RESULT_LENGTH> operand_text;
    for (;;) {
        int length = 0;
        const int kind = take_token(line, tok, length);
        if (kind == TOKEN_NONE) break;
        any_token = true;
        if (kind != TOKEN_STRING && is_operator_char(tok[1])) {
            // The rest of an operator token is ignored: a negative number is
            // written as a subtraction from 0.
            left = value;
            pending = tok[1];
            left_type = current_type;
            operator_seen = true;
            continue;
        }
        double operand = 0.0;
        int operand_type = VALUE_NIL;
        int operand_status = EXPR_OK;
        if (kind == TOKEN_STRING) {
            operand_type = VALUE_TEXT;
            w.set(tok.view(), length);
        } else if (kind != TOKEN_WORD && kind != TOKEN_INTEGER && kind != TOKEN_REAL) {
            operand_status = EXPR_NOT_OPERAND;  // a parenthesised group or an open string
        } else {
            evaluate_operand(tok.view(), evaluate, operand_text.span(), operand, operand_type, operand_status);
            if (operand_status == EXPR_OK && operand_type == VALUE_TEXT)
                w.set(operand_text.view(), trimmed_length(operand_text.view()));
        }
        current_type = operand_type;
        if (operand_status != EXPR_OK) {
            current_status = operand_status;
            break;
        }
        if (operator_seen && type_family(operand_type) != type_family(left_type)) {
            current_status = EXPR_TYPE_MISMATCH;
            break;
        }
        if (pending != ' ' && !is_number_type(operand_type) && !(pending == '+' && operand_type == VALUE_TEXT)) {
            current_status = EXPR_BAD_OPERATOR;
            break;
        }
        // A text after "+" is appended below; any other first non-blank text
        // becomes the result.
        if (operand_type == VALUE_TEXT && pending != '+' && result.blank() && !w.blank()) result = w;
        if (evaluate != 0) {
            switch (pending) {
            case '+':
                if (operand_type == VALUE_TEXT) {
                    if (result.blank()) {
                        result = w;
                    } else {
                        result.append(w);
                    }
                } else {
                    value = left + operand;
                }
                break;
            case '-':
                value = left - operand;
                break;
            case '*':
                value = left * operand;
                break;
            case '/':
            case '%':
                if (std::fabs(operand) <= DIVISOR_TOLERANCE) {
                    current_status = EXPR_DIVIDE_BY_ZERO;
                } else if (pending == '/') {
                    value = left / operand;
                } else {
                    value = left - operand * std::trunc(left / operand);
                }
                break;
            default:
                if (operand_type != VALUE_TEXT) value = operand;
                break;
            }
            if (current_status != EXPR_OK) break;
        }
        pending = ' ';
        current_status = EXPR_OK;
    }
    // Without tokens the type and status stay as the caller set them.
    if (!any_token) return;
    if (current_status == EXPR_OK && pending != ' ') current_status = EXPR_INCOMPLETE;
    if (current_type == VALUE_TEXT) {
        // Only the kept part of a text reaches the caller's field.
        assign_text(result_text, result.t.view().substr(0, static_cast<std::size_t>(result.length)));
    }
    type = current_type;
    status = current_status;
}

int evaluate_condition(std::string_view text_in, int evaluate, int& status) {
    status = EXPR_BAD_CONDITION;
    int r = 0;
    if (trimmed_length(text_in) > CONDITION_LENGTH) return 0;
    int mult = MULT(configuration_store.key[TOLERANCE_KEY]);
    if (mult < 1) mult = 1;
    const double tol = 0.1 / static_cast<double>(mult);

    text<CONDITION_LENGTH> line(text_in);
    text<CONDITION_LENGTH> tok;
    text<EXPRESSION_RESULT_LENGTH> left_text;
    text<EXPRESSION_RESULT_LENGTH> right_text;
    text<CONDITION_LENGTH> joiner("or");
    int length = 0;
    int kind = take_token(line, tok, length);
    while (kind != TOKEN_NONE) {
        bool negate = false;
        while (kind != TOKEN_STRING && (trimmed(tok.view()) == "~" || trimmed(tok.view()) == "not")) {
            negate = !negate;
            kind = take_token(line, tok, length);
        }
        if (kind == TOKEN_NONE) return r;

        // Left operand: one token.
        double lv = 0.0;
        int lt = VALUE_NIL;
        if (kind == TOKEN_STRING) {
            lt = VALUE_TEXT;
            left_text.set(tok.view().substr(0, static_cast<std::size_t>(length)));
        } else {
            int st = EXPR_OK;
            evaluate_expression(tok.view(), evaluate, left_text.span(), lv, lt, st);
            if (st != EXPR_OK) {
                status = st;
                return r;
            }
        }

        int c = 0;
        if (lt == VALUE_LOGICAL) {
            c = lv == 1.0 ? 1 : 0;
        } else {
            text<CONDITION_LENGTH> relation;
            take_token(line, relation, length);
            const int rkind = take_token(line, tok, length);
            double rv = 0.0;
            right_text.clear();
            if (rkind == TOKEN_INTEGER || rkind == TOKEN_REAL) {
                rv = read_number(tok.view());
                right_text.set(tok.view());
            } else if (rkind == TOKEN_STRING) {
                right_text.set(tok.view().substr(0, static_cast<std::size_t>(length)));
            } else if (rkind == TOKEN_WORD) {
                int rt = VALUE_NIL;
                int st = EXPR_OK;
                evaluate_expression(tok.view(), evaluate, right_text.span(), rv, rt, st);
                if (st != EXPR_OK) {
                    status = st;
                    return r;
                }
            } else {
                return r;  // a relation without its right operand
            }
            const std::string_view rel = trimmed(relation.view());
            int order = 0;
            double diff = 0.0;
            const bool texts = lt == VALUE_TEXT;
            if (texts) {
                order = compare_texts(left_text.view(), right_text.view());
            } else {
                diff = lv - rv;
            }
            if (rel == "eq" || rel == "=" || rel == "==") {
                c = texts ? order == 0 : std::fabs(diff) <= tol;
            } else if (rel == "ne" || rel == "<>" || rel == "><" || rel == "!=") {
                c = texts ? order != 0 : std::fabs(diff) > tol;
            } else if (rel == "le" || rel == "<=" || rel == "=<") {
                c = texts ? order <= 0 : diff <= tol;
            } else if (rel == "ge" || rel == ">=" || rel == "=>") {
                c = texts ? order >= 0 : diff >= -tol;
            } else if (rel == "gt" || rel == ">") {
                c = texts ? order > 0 : diff > tol;
            } else if (rel == "lt" || rel == "<") {
                c = texts ? order < 0 : diff < -tol;
            } else {
                return r;
            }
        }
        if (negate) c = 1 - c;
        const std::string_view j = trimmed(joiner.view());
        if (j == "or") {
            r = (r != 0 || c != 0) ? 1 : 0;
        } else if (j == "and") {
            r = (r != 0 && c != 0) ? 1 : 0;
        } else {
            return r;
        }

        // The joiner; a text that ends after it is incomplete.
        if (take_token(line, joiner, length) == TOKEN_NONE) {
            status = EXPR_OK;
            return r;
        }
        kind = take_token(line, tok, length);
    }
    return r;
}

void evaluate_block_expression(std::string_view text_in, std::span<char> result_text, double& value, int& type,
                               int& status) {
    value = 0.0;
    evaluate_expression(text_in, 1, result_text, value, type, status);
}

int evaluate_block_condition(std::string_view text_in, int& status) { return evaluate_condition(text_in, 1, status); }

void check_expression_syntax(std::string_view text_in, int& status) {
    text<EXPRESSION_RESULT_LENGTH> result;
    double value = 0.0;
    int type = VALUE_NIL;
    status = EXPR_OK;
    evaluate_expression(text_in, 0, result.span(), value, type, status);
}

int check_condition_syntax(std::string_view text_in, int& status) {
    evaluate_condition(text_in, 0, status);
    return status;
}

void report_expression_error(int status, std::string_view expression, std::string_view block_name) {
    if (status == EXPR_OK) return;
    set_message_string_arg(1, trimmed(block_name));
    issue_message(254);
    set_message_string_arg(1, trimmed(expression));
    issue_message(212);
    switch (status) {
    case EXPR_NOT_OPERAND:
        issue_message(288);
        break;
    case EXPR_DIVIDE_BY_ZERO:
        issue_message(281);
        break;
    case EXPR_TYPE_MISMATCH:
        issue_message(289);
        break;
    case EXPR_BAD_OPERATOR:
        issue_message(290);
        break;
    case EXPR_INCOMPLETE:
        issue_message(291);
        break;
    case EXPR_REPEAT_TOO_LARGE:
        set_message_int_arg(1, MAX_REPEAT_COUNT);
        issue_message(303);
        break;
    default:
        break;
    }
    abort_on_option_error();
}

void report_invalid_expression(std::string_view text_in, std::string_view name) {
    set_message_string_arg(1, trimmed(text_in));
    issue_message(254);
    set_message_string_arg(1, trimmed(name));
    issue_message(249);
    abort_on_option_error();
}

}  // namespace kv
