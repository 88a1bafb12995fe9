// Console helpers: text fields at their trimmed length, and terminated texts,
// written straight to standard output or standard error; the standard
// descriptors made safe at start-up.
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "ppnsub/ppnsub.h"

namespace kv {

namespace {

void put(std::FILE* f, std::string_view s) {
    flush_console_hold();
    if (!s.empty()) std::fwrite(s.data(), 1, s.size(), f);
}

// A line goes out in one write when it is short enough to be joined, so that
// an unbuffered console gets it whole.
void put_line(std::FILE* f, std::string_view prefix, std::string_view s) {
    flush_console_hold();
    constexpr std::size_t JOINED = 4096;
    if (prefix.size() + s.size() < JOINED) {
        char line[JOINED];
        if (!prefix.empty()) std::memcpy(line, prefix.data(), prefix.size());
        if (!s.empty()) std::memcpy(line + prefix.size(), s.data(), s.size());
        line[prefix.size() + s.size()] = '\n';
        std::fwrite(line, 1, prefix.size() + s.size() + 1, f);
        return;
    }
    put(f, prefix);
    put(f, s);
    std::fputc('\n', f);
}

std::string_view cstring(const char* text) { return text == nullptr ? std::string_view() : std::string_view(text); }

}  // namespace

void guard_standard_streams() {
    for (int fd = 0; fd <= 2; ++fd) {
        if (::fcntl(fd, F_GETFD) != -1 || errno != EBADF) continue;
        if (fd == STDOUT_FILENO) unit_table.output_closed_at_start = true;
        // The lowest free descriptor is this one, as the lower ones are open.
        const int opened = ::open(NULL_DEVICE_NAME, fd == 0 ? O_RDONLY : O_WRONLY);
        if (opened >= 0 && opened != fd) {
            ::dup2(opened, fd);
            ::close(opened);
        }
    }
}

void print_line(std::string_view field) { put_line(stdout, {}, trimmed(field)); }

void print_field(std::string_view field) { put(stdout, trimmed(field)); }

void print_prefixed_line(const char* prefix, std::string_view field) {
    put_line(stdout, cstring(prefix), trimmed(field));
}

void print_prefixed_field(const char* prefix, std::string_view field) {
    put(stdout, cstring(prefix));
    put(stdout, trimmed(field));
}

void print_cstring_line(const char* text) { put_line(stdout, {}, cstring(text)); }

void print_two_cstrings_line(const char* a, const char* b) { put_line(stdout, cstring(a), cstring(b)); }

void print_error_line(std::string_view field) { put_line(stderr, {}, trimmed(field)); }

void print_error_cstring(const char* text) { put_line(stderr, {}, cstring(text)); }

}  // namespace kv
