// Output files written under an unfinished name in their own folder, made to
// reach the disk and renamed over the final name only when finished, so that
// a failed or interrupted run never leaves a cut or empty file where the last
// good one was; outputs set aside to be finished together (the tapes of a
// split); devices written directly; and the identity of files, by which an
// output is kept off an input.
#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "ppnsub/ppnsub.h"

namespace kv {

namespace {

std::size_t slot(int u) { return static_cast<std::size_t>(u); }

// Symbolic links followed from an output's name to the file it replaces
// before the name is given up as a loop.
constexpr int MAX_LINK_HOPS = 40;

// Times a run takes the file of its set's record again when the run before
// removed it meanwhile.
constexpr int SET_RECORD_TRIES = 40;

void copy_name(std::array<char, OUTPUT_NAME_LEN>& to, const std::string& from) {
    const std::size_t n = from.size() < OUTPUT_NAME_LEN - 1 ? from.size() : OUTPUT_NAME_LEN - 1;
    std::memcpy(to.data(), from.data(), n);
    to[n] = '\0';
}

// The folder part of a path ("." when it has none) and the name in it.
void split_path(const std::string& path, std::string& folder, std::string& name) {
    const std::size_t s = path.find_last_of('/');
    folder = s == std::string::npos ? std::string(".") : path.substr(0, s == 0 ? 1 : s);
    name = s == std::string::npos ? path : path.substr(s + 1);
}

static_assert(std::atomic<set_aside_output*>::is_always_lock_free,
              "the interrupt handler walks the outputs set aside");

// Whether the unfinished file at path belongs to an output of this run.
bool held_by_this_run(const std::string& path) {
    for (int u = 0; u <= MAXUNIT; ++u) {
        if (unit_table.unfinished[slot(u)] != 0 && path == unit_table.unfinished_name[slot(u)].data()) return true;
    }
    for (const set_aside_output* o = unit_table.set_aside_first.load(); o != nullptr; o = o->next.load()) {
        if (path == o->unfinished_name) return true;
    }
    return false;
}

char* copy_of(const char* text) {
    const std::size_t n = std::strlen(text);
    char* copy = new char[n + 1];
    std::memcpy(copy, text, n + 1);
    return copy;
}

// Links the unfinished output of unit u into the outputs set aside; the
// unit's own entry is cleared only afterwards, so that the file is in one
// list or the other at every moment.
void set_aside(int u) {
    set_aside_output* o = new set_aside_output;
    o->final_name = copy_of(unit_table.final_name[slot(u)].data());
    o->unfinished_name = copy_of(unit_table.unfinished_name[slot(u)].data());
    if (unit_table.set_aside_last != nullptr) {
        unit_table.set_aside_last->next.store(o);
    } else {
        unit_table.set_aside_first.store(o);
    }
    unit_table.set_aside_last = o;
}

// Empties the list of outputs set aside (first unlinked, so the interrupt
// handler no longer walks it, then freed).
void forget_set_aside() {
    set_aside_output* o = unit_table.set_aside_first.exchange(nullptr);
    unit_table.set_aside_last = nullptr;
    while (o != nullptr) {
        set_aside_output* next = o->next.load();
        delete[] o->final_name;
        delete[] o->unfinished_name;
        delete o;
        o = next;
    }
}

// Whether the folder's leftovers were looked for already in this run; the
// folder is noted as looked for when not.
bool folder_scanned(const std::string& folder) {
    struct stat st {};
    if (::stat(folder.c_str(), &st) != 0) return false;
    unit_table_t& t = unit_table;
    const std::array<unsigned long long, 2> id = {static_cast<unsigned long long>(st.st_dev),
                                                  static_cast<unsigned long long>(st.st_ino)};
    for (std::size_t k = 0; k < t.scanned_folder_count; ++k)
        if (t.scanned_folders[k] == id) return true;
    // Past the table's size a folder is looked through again: slower, no worse.
    if (t.scanned_folder_count < t.scanned_folders.size()) t.scanned_folders[t.scanned_folder_count++] = id;
    return false;
}

// Removes the unfinished files of outputs in folder left by runs that no
// longer exist (killed outright, or the machine went down). A file of a run
// still going on, on this machine, is left alone. A folder is read once a
// run: the tapes of a split share it, and a program folder may hold tens of
// thousands of files.
void clear_unfinished_leftovers(const std::string& folder) {
    if (folder_scanned(folder)) return;
    DIR* d = ::opendir(folder.c_str());
    if (d == nullptr) return;
    const long own = static_cast<long>(::getpid());
    while (const dirent* e = ::readdir(d)) {
        const std::string entry(e->d_name);
        const std::size_t mark = entry.rfind(UNFINISHED_MARK);
        if (mark == std::string::npos || mark == 0) continue;
        // The rest is the process number and the output's number: digits,
        // '-', digits.
        const char* p = entry.c_str() + mark + UNFINISHED_MARK.size();
        char* end = nullptr;
        errno = 0;
        const long pid = std::strtol(p, &end, 10);
        if (end == p || *end != '-' || errno != 0 || pid <= 0) continue;
        const char* q = end + 1;
        if (*q == '\0' || std::strspn(q, "0123456789") != std::strlen(q)) continue;
        const std::string path = folder + "/" + entry;
        struct stat st {};
        if (::lstat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) continue;
        if (pid == own) {
            if (held_by_this_run(path)) continue;
        } else if (pid > INT_MAX || ::kill(static_cast<pid_t>(pid), 0) == 0 || errno == EPERM) {
            continue;
        }
        ::unlink(path.c_str());
    }
    ::closedir(d);
}

// The file that writing to path replaces: path itself, or the file that its
// chain of symbolic links ends at, which need not exist yet (a link to a file
// still to be made). False for a chain too long or a link that cannot be read.
bool resolve_links(const std::string& path, std::string& target) {
    std::string p = path;
    for (int hop = 0; hop <= MAX_LINK_HOPS; ++hop) {
        struct stat st {};
        if (::lstat(p.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) {
            target = p;
            return true;
        }
        std::array<char, PATH_MAX> buffer{};
        const ssize_t n = ::readlink(p.c_str(), buffer.data(), buffer.size());
        if (n <= 0 || static_cast<std::size_t>(n) >= buffer.size()) return false;
        std::string next(buffer.data(), static_cast<std::size_t>(n));
        // A relative link is relative to the folder that holds the link.
        const std::size_t s = p.find_last_of('/');
        if (next[0] != '/' && s != std::string::npos) next = p.substr(0, s + 1) + next;
        p = next;
    }
    return false;
}

// The beginning of a name made from the file name in folder and a suffix:
// the name itself, cut short when the name and the suffix together would be
// longer than the folder's file system allows a name to be. With `distinct`
// a name cut short ends in a hash of the whole name, so that two long names
// give two names.
std::string name_within_limit(const std::string& folder, const std::string& name, std::size_t suffix, bool distinct) {
    const long limit = ::pathconf(folder.c_str(), _PC_NAME_MAX);
    const std::size_t most = limit > 0 ? static_cast<std::size_t>(limit) : NAME_MAX;
    if (name.size() + suffix <= most || suffix >= most) return name;
    if (!distinct) return name.substr(0, most - suffix);
    std::uint64_t hash = 0xcbf29ce484222325ull;  // FNV-1a
    for (unsigned char c : name) hash = (hash ^ c) * 0x100000001b3ull;
    char tag[18];
    std::snprintf(tag, sizeof tag, "-%016llx", static_cast<unsigned long long>(hash));
    if (suffix + sizeof tag - 1 >= most) return name.substr(0, most - suffix);
    return name.substr(0, most - suffix - (sizeof tag - 1)) + tag;
}

// All signals held off while a set of outputs takes its names, so that an
// interrupt does not leave half of it.
struct signals_held {
    sigset_t before;
    signals_held() {
        sigset_t all;
        sigfillset(&all);
        sigprocmask(SIG_BLOCK, &all, &before);
    }
    ~signals_held() { sigprocmask(SIG_SETMASK, &before, nullptr); }
    signals_held(const signals_held&) = delete;
    signals_held& operator=(const signals_held&) = delete;
};

// Makes what was written to an unfinished file reach the disk before the file
// takes its final name.
bool sync_file(std::FILE* stream) {
    return ::fsync(fileno(stream)) == 0 || errno == EINVAL;
}

// Makes a rename in the folder of path reach the disk. The file has its new
// name by then, whatever comes of this: a folder that cannot be synchronised
// (a file system without that service) leaves the name to the system's own
// writing, and is not a failure of the run.
void sync_folder_of(const std::string& path) {
    std::string folder, name;
    split_path(path, folder, name);
    const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return;
    [[maybe_unused]] const int synced = ::fsync(fd);
    ::close(fd);
}

// Renames every output set aside into place, in the order set aside; once
// one cannot be renamed, it and the rest are removed (IO_FAILED). The names
// then reach the disk: each folder once (the tapes of a split share theirs),
// not once a tape.
int rename_set_aside() {
    int status = IO_OK;
    for (const set_aside_output* o = unit_table.set_aside_first.load(); o != nullptr; o = o->next.load()) {
        if (status == IO_OK && std::rename(o->unfinished_name, o->final_name) == 0) continue;
        status = IO_FAILED;
        ::unlink(o->unfinished_name);
    }
    std::string synced;
    for (const set_aside_output* o = unit_table.set_aside_first.load(); o != nullptr; o = o->next.load()) {
        std::string folder, name;
        split_path(o->final_name, folder, name);
        if (folder == synced) continue;
        sync_folder_of(o->final_name);
        synced = folder;
    }
    return status;
}

// The set's record, open and locked (-1 when there is none and create is
// not set, or it cannot be made). The lock lasts while the descriptor is
// open: a run of the same set at the same time waits here until this one's
// set is whole. A record that the run before removed while this one waited
// is no longer the set's: the name's file, if any, is taken again.
int lock_set_record(const std::string& record, bool create) {
    for (int tries = 0; tries < SET_RECORD_TRIES; ++tries) {
        const int fd = ::open(record.c_str(), O_RDWR | O_CLOEXEC | (create ? O_CREAT : 0), 0666);
        if (fd < 0) return -1;
        while (::flock(fd, LOCK_EX) != 0 && errno == EINTR) {
        }
        struct stat held {}, named {};
        if (::fstat(fd, &held) == 0 && ::stat(record.c_str(), &named) == 0 && held.st_dev == named.st_dev &&
            held.st_ino == named.st_ino)
            return fd;
        ::close(fd);
    }
    return -1;
}

// What a set's record notes of a file it wrote: the file (device, file
// number) and its state (size, time of the last change), so that the file is
// known again only as long as nothing has written to it since, in place or
// under its name.
std::string recorded_status(const struct stat& st) {
    return std::to_string(st.st_dev) + " " + std::to_string(st.st_ino) + " " + std::to_string(st.st_size) + " " +
           std::to_string(st.st_mtim.tv_sec) + " " + std::to_string(st.st_mtim.tv_nsec);
}

// Removes the files that the record open on fd names (lines of a file's
// recorded status and its name, whole lines only) in folder, but for those
// among keep, each only while it is still the very file recorded.
void remove_recorded_files(int fd, const std::string& folder, const std::vector<std::string>& keep) {
    std::string old;
    char buffer[4096];
    for (off_t at = 0;;) {
        const ssize_t n = ::pread(fd, buffer, sizeof buffer, at);
        if (n <= 0) break;
        old.append(buffer, static_cast<std::size_t>(n));
        at += n;
    }
    std::size_t start = 0;
    for (std::size_t end; (end = old.find('\n', start)) != std::string::npos; start = end + 1) {
        const std::string line = old.substr(start, end - start);
        // The status is five numbers; the name follows the fifth blank.
        std::size_t at = 0;
        for (int k = 0; k < 5 && at != std::string::npos; ++k) {
            at = line.find(' ', at);
            if (at != std::string::npos) ++at;
        }
        if (at == std::string::npos) continue;
        const std::string name = line.substr(at);
        if (name.empty() || name == "." || name == ".." || name.find('/') != std::string::npos) continue;
        bool kept = false;
        for (const std::string& k : keep) kept = kept || k == name;
        if (kept) continue;
        const std::string path = folder + "/" + name;
        struct stat st {};
        if (::lstat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) continue;
        if (recorded_status(st) != line.substr(0, at - 1)) continue;
        ::unlink(path.c_str());
    }
}

// The identity of a file from its status; only a regular file is known.
file_identity identity_of_status(const struct stat& st) {
    file_identity id;
    if (!S_ISREG(st.st_mode)) return id;
    id.device = static_cast<unsigned long long>(st.st_dev);
    id.inode = static_cast<unsigned long long>(st.st_ino);
    id.known = 1;
    return id;
}

void forget_unfinished(int u) {
    unit_table.unfinished[slot(u)] = 0;
    unit_table.unfinished_name[slot(u)][0] = '\0';
    unit_table.final_name[slot(u)][0] = '\0';
}

}  // namespace

int open_output_stream(int u, std::string_view name, int mode_index) {
    std::FILE*& stream = unit_table.stream[slot(u)];
    stream = nullptr;
    forget_unfinished(u);
    if (mode_index < 0 || mode_index >= static_cast<int>(stream_mode_names.size())) return -1;
    const std::string path(trimmed(name));
    if (path.empty() || path.find('\0') != std::string::npos) return -1;

    // A device, a pipe or a socket has no content to keep: it is written
    // directly.
    if (is_device_name(path)) return open_stream(stream, path, mode_index);
    struct stat st {};
    const bool exists = ::stat(path.c_str(), &st) == 0;
    if (exists && !S_ISREG(st.st_mode)) return -1;  // a folder
    // A file that may not be written is not replaced either.
    if (exists && ::access(path.c_str(), W_OK) != 0) return -1;

    // The unfinished file is made beside the file it will replace: for a
    // symbolic link, the file the link names, even one that does not exist
    // yet, so that the link goes on naming the output.
    std::string final_path;
    if (!resolve_links(path, final_path)) return -1;
    std::string folder, base;
    split_path(final_path, folder, base);
    const std::string suffix = std::string(UNFINISHED_MARK) + std::to_string(::getpid()) + "-" +
                               std::to_string(++unit_table.outputs_opened);
    const std::string stem = name_within_limit(folder, base, suffix.size(), false);
    const std::string unfinished = final_path.substr(0, final_path.size() - base.size()) + stem + suffix;
    if (final_path.size() >= OUTPUT_NAME_LEN || unfinished.size() >= OUTPUT_NAME_LEN) return -1;

    clear_unfinished_leftovers(folder);
    copy_name(unit_table.final_name[slot(u)], final_path);
    copy_name(unit_table.unfinished_name[slot(u)], unfinished);
    unit_table.unfinished[slot(u)] = 1;
    const int flags = O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC;
    int fd = ::open(unfinished.c_str(), flags, 0666);
    if (fd < 0 && errno == EEXIST) {
        // Only a run gone before with this process number left it.
        ::unlink(unfinished.c_str());
        fd = ::open(unfinished.c_str(), flags, 0666);
    }
    if (fd < 0) {
        // No new file can be made beside the final one (the folder may not be
        // written, or is missing): the output cannot be written without
        // putting the file there now at risk, so it is not opened at all.
        forget_unfinished(u);
        return -1;
    }
    if (exists) {
        // The file that is replaced passes on its owner and its permissions.
        // (Only the superuser may hand a file to another owner; otherwise the
        // new file stays the writer's, as a file it creates would be.)
        const int owned = ::fchown(fd, st.st_uid, st.st_gid);
        (void)owned;
        ::fchmod(fd, st.st_mode & 07777);
    }
    stream = ::fdopen(fd, stream_mode_names[static_cast<std::size_t>(mode_index)]);
    if (stream == nullptr) {
        ::close(fd);
        ::unlink(unfinished.c_str());
        forget_unfinished(u);
        return -1;
    }
    return 0;
}

int close_output_stream(int u, int finish) {
    std::FILE*& stream = unit_table.stream[slot(u)];
    bool ok = stream != nullptr;
    if (stream != nullptr) {
        ok = std::fflush(stream) == 0 && std::ferror(stream) == 0;
        if (ok && finish != 0 && unit_table.unfinished[slot(u)] != 0) ok = sync_file(stream);
        ok = std::fclose(stream) == 0 && ok;
        stream = nullptr;
    }
    if (unit_table.unfinished[slot(u)] != 0) {
        const char* unfinished = unit_table.unfinished_name[slot(u)].data();
        if (ok && finish == CLOSE_SET_ASIDE) {
            set_aside(u);
        } else {
            if (ok && finish == CLOSE_FINISH) ok = std::rename(unfinished, unit_table.final_name[slot(u)].data()) == 0;
            if (ok && finish == CLOSE_FINISH) sync_folder_of(unit_table.final_name[slot(u)].data());
            if (!ok || finish == CLOSE_DISCARD) ::unlink(unfinished);
        }
        forget_unfinished(u);
    }
    return ok ? 0 : -1;
}

void finish_set_aside_outputs(int& status) {
    status = IO_OK;
    if (unit_table.set_aside_first.load() == nullptr) return;
    const signals_held held;
    status = rename_set_aside();
    forget_set_aside();
}

void finish_output_set(std::string_view first, int& status) {
    status = IO_OK;
    std::string folder, base;
    split_path(std::string(trimmed(first)), folder, base);
    const std::string record =
        folder + "/" + name_within_limit(folder, base, SET_RECORD_MARK.size(), true) + std::string(SET_RECORD_MARK);
    // A set of one output (the run did not split its tape) has nothing to
    // record: its record, when a run before left one, is read and removed.
    int outputs = 0;
    for (const set_aside_output* o = unit_table.set_aside_first.load(); o != nullptr; o = o->next.load()) ++outputs;
    const bool numbered = outputs > 1;
    const int fd = lock_set_record(record, numbered);
    const signals_held held;
    status = rename_set_aside();
    if (status == IO_OK && fd >= 0) {
        // The files of this run, in the record's folder, by name.
        std::string written;
        std::vector<std::string> names;
        for (const set_aside_output* o = unit_table.set_aside_first.load(); o != nullptr; o = o->next.load()) {
            std::string f, n;
            split_path(o->final_name, f, n);
            struct stat st {};
            if (f != folder || n.find('\n') != std::string::npos || ::lstat(o->final_name, &st) != 0) continue;
            names.push_back(n);
            written += recorded_status(st) + " " + n + "\n";
        }
        remove_recorded_files(fd, folder, names);
        // Written in place: only whole lines of a record are read, and a name
        // is removed only while it is the file recorded, so a record cut short
        // loses nothing but the removal of a stale file.
        if (!numbered) {
            ::unlink(record.c_str());
        } else if (::ftruncate(fd, 0) == 0 &&
                   ::pwrite(fd, written.data(), written.size(), 0) == static_cast<ssize_t>(written.size())) {
            ::fsync(fd);
        }
    }
    forget_set_aside();
    if (fd >= 0) ::close(fd);
}

void discard_set_aside_outputs() {
    for (const set_aside_output* o = unit_table.set_aside_first.load(); o != nullptr; o = o->next.load()) {
        ::unlink(o->unfinished_name);
    }
    forget_set_aside();
}

int remove_output_file(std::string_view name) {
    const std::string path(trimmed(name));
    struct stat st {};
    if (path.empty() || path.find('\0') != std::string::npos || ::lstat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) {
        return IO_NOT_FOUND;
    }
    return ::unlink(path.c_str()) == 0 ? IO_OK : IO_FAILED;
}

void remove_unfinished_outputs() {
    for (int u = 0; u <= MAXUNIT; ++u) {
        if (unit_table.unfinished[slot(u)] != 0) ::unlink(unit_table.unfinished_name[slot(u)].data());
    }
    for (const set_aside_output* o = unit_table.set_aside_first.load(); o != nullptr; o = o->next.load()) {
        ::unlink(o->unfinished_name);
    }
}

bool is_device_name(std::string_view name) {
    const std::string path(trimmed(name));
    if (path.empty() || path.find('\0') != std::string::npos) return false;
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0) return false;
    const auto device = [](const struct stat& s) { return !S_ISREG(s.st_mode) && !S_ISDIR(s.st_mode); };
    // The links of the device folder (/dev/stdout, /dev/fd/1) name a stream
    // of this process, whatever file stands behind it.
    if (path.compare(0, DEVICE_FOLDER.size(), DEVICE_FOLDER) == 0 && device(st)) return true;
    return ::stat(path.c_str(), &st) == 0 && device(st);
}

file_identity identity_of_file(std::string_view name) {
    const std::string path(trimmed(name));
    struct stat st {};
    if (path.empty() || path.find('\0') != std::string::npos || ::stat(path.c_str(), &st) != 0) return {};
    return identity_of_status(st);
}

file_identity identity_of_unit(int u) {
    if (u < 0 || u > MAXUNIT || unit_table.stream[slot(u)] == nullptr) return {};
    struct stat st {};
    if (::fstat(fileno(unit_table.stream[slot(u)]), &st) != 0) return {};
    return identity_of_status(st);
}

bool same_final_name(int a, int b) {
    if (a < 0 || b < 0 || a > MAXUNIT || b > MAXUNIT || a == b) return false;
    if (unit_table.unfinished[slot(a)] == 0 || unit_table.unfinished[slot(b)] == 0) return false;
    std::string folder_a, name_a, folder_b, name_b;
    split_path(unit_table.final_name[slot(a)].data(), folder_a, name_a);
    split_path(unit_table.final_name[slot(b)].data(), folder_b, name_b);
    // The folders are compared as files, so that two spellings of one folder
    // ("./", a link) are seen to be one.
    struct stat sa {}, sb {};
    return name_a == name_b && ::stat(folder_a.c_str(), &sa) == 0 && ::stat(folder_b.c_str(), &sb) == 0 &&
           sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino;
}

bool same_file(const file_identity& a, const file_identity& b) {
    return a.known != 0 && b.known != 0 && a.device == b.device && a.inode == b.inode;
}

}  // namespace kv
