// Stream slots under the unit table: opening a platform stream by trimmed name
// and mode index, rewinding, closing, and whole-buffer transfers; whether a
// file can be read again from its start.
#include <sys/stat.h>

#include <string>

#include "ppnsub/ppnsub.h"

namespace kv {

const std::array<const char*, 4> stream_mode_names = {"rb", "r", "wb", "w"};

int open_stream(std::FILE*& slot, std::string_view name, int mode_index) {
    slot = nullptr;
    if (mode_index < 0 || mode_index >= static_cast<int>(stream_mode_names.size())) return -1;
    const std::string path(trimmed(name));
    // A name with a NUL inside would reach the platform cut short.
    if (path.empty() || path.find('\0') != std::string::npos) return -1;
    std::FILE* f = std::fopen(path.c_str(), stream_mode_names[static_cast<std::size_t>(mode_index)]);
    if (f == nullptr) return -1;
    // A directory opens for reading on this platform but yields no data; it is
    // not a file the system can use.
    struct stat st {};
    if (fstat(fileno(f), &st) == 0 && S_ISDIR(st.st_mode)) {
        std::fclose(f);
        return -1;
    }
    slot = f;
    return 0;
}

bool is_rereadable_file(std::string_view name) {
    const std::string path(trimmed(name));
    struct stat st {};
    if (path.empty() || path.find('\0') != std::string::npos || ::stat(path.c_str(), &st) != 0) return false;
    return S_ISREG(st.st_mode) || S_ISBLK(st.st_mode);
}

int rewind_stream(std::FILE* stream) {
    if (stream == nullptr) return -1;
    if (std::fseek(stream, 0L, SEEK_SET) != 0) return -1;
    std::clearerr(stream);
    return 0;
}

int close_stream(std::FILE* stream) {
    if (stream == nullptr) return -1;
    return std::fclose(stream) == 0 ? 0 : -1;
}

std::size_t read_stream_bytes(std::FILE* stream, void* buffer, std::size_t count) {
    if (stream == nullptr || count == 0) return 0;
    return std::fread(buffer, 1, count, stream);
}

std::size_t write_stream_bytes(std::FILE* stream, const void* buffer, std::size_t count) {
    if (stream == nullptr || count == 0) return 0;
    return std::fwrite(buffer, 1, count, stream);
}

}  // namespace kv
