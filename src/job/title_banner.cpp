// The title box that opens every run: product, version and revision centred
// in a frame of stars, built line by line in a table of at most 20 lines.
#include "job/job.h"

namespace kv {

title_banner_t title_banner;

int find_nonblank_span(std::string_view text, int& first, int& last) {
    first = 0;
    last = -1;
    if (text.data() == nullptr) return 0;
    const int n = static_cast<int>(text.size());
    while (first < n && text[static_cast<std::size_t>(first)] == ' ') ++first;
    if (first == n) {
        first = 0;
        return 0;
    }
    last = n - 1;
    while (text[static_cast<std::size_t>(last)] == ' ') --last;
    return last - first + 1;
}

void banner_begin_line(std::string_view text, int n) {
    title_banner_t& b = title_banner;
    if (b.finished || b.line_count >= TITLE_LINES) return;  // a 21st line is not started
    ++b.line_count;
    b.lines[b.line_count].clear();
    b.line_length[b.line_count] = 0;
    banner_append(text, n);
}

void banner_append(std::string_view text, int n) {
    title_banner_t& b = title_banner;
    if (b.finished || b.line_count == 0) return;
    int& col = b.line_length[b.line_count];
    for (int i = 0; i < n && i < static_cast<int>(text.size()) && col < TITLE_WIDTH; ++i)
        b.lines[b.line_count][++col] = text[static_cast<std::size_t>(i)];
}

int banner_column() {
    const title_banner_t& b = title_banner;
    return b.line_count == 0 ? -1 : b.line_length[b.line_count];
}

void banner_finish() { title_banner.finished = 1; }

namespace {

void append_blanks(int n) {
    for (int i = 0; i < n; ++i) banner_append(" ", 1);
}

void append_stars(int n) {
    for (int i = 0; i < n; ++i) banner_append("*", 1);
}

// Blanks up to column edge - 1, then the closing star.
void close_line(int edge) {
    append_blanks(edge - 1 - banner_column());
    banner_append("*", 1);
}

}  // namespace

void build_title_banner(std::string_view product, std::string_view version, std::string_view revision) {
    title_banner = title_banner_t{};
    int pf = 0, pl = 0, vf = 0, vl = 0, rf = 0, rl = 0;
    const int p = find_nonblank_span(product, pf, pl);
    const int v = find_nonblank_span(version, vf, vl);
    const int r = find_nonblank_span(revision, rf, rl);
    if (p == 0 && v == 0 && r == 0) {
        banner_finish();
        return;
    }
    const std::string_view ptext = p > 0 ? product.substr(static_cast<std::size_t>(pf), static_cast<std::size_t>(p)) : "";
    const std::string_view vtext = v > 0 ? version.substr(static_cast<std::size_t>(vf), static_cast<std::size_t>(v)) : "";
    const std::string_view rtext = r > 0 ? revision.substr(static_cast<std::size_t>(rf), static_cast<std::size_t>(r)) : "";

    const int w1 = v > 0 ? (p > 0 ? p + 1 : 0) + v + 8 : p;
    const int w2 = r > 0 ? r + 9 : 0;
    const int w = w1 > w2 ? w1 : w2;
    int h = (TITLE_WIDTH - w) / 2 - 2;
    if (h < 0) h = 0;
    const int edge = h + w + 4;

    banner_begin_line("", 0);
    append_blanks(h);
    append_stars(w + 4);

    if (p > 0 || v > 0) {
        banner_begin_line("", 0);
        append_blanks(h);
        banner_append("* ", 2);
        append_blanks((w2 - w1) / 2);
        banner_append(ptext, p);
        if (v > 0) {
            if (p > 0) banner_append(" ", 1);
            banner_append("VERSION ", 8);
            banner_append(vtext, v);
        }
        close_line(edge);
    }
    if (r > 0) {
        banner_begin_line("", 0);
        append_blanks(h);
        banner_append("* ", 2);
        append_blanks((w1 - w2) / 2);
        banner_append("Revision ", 9);
        banner_append(rtext, r);
        close_line(edge);
    }
    banner_begin_line("", 0);
    append_blanks(h);
    append_stars(w + 4);
    banner_finish();
}

}  // namespace kv
