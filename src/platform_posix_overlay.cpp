// POSIX side of the platform layer: overlay mounts, which show one file at
// several paths, in the mount and in its upper and lower folders, with
// another device and, once the file is copied up or with xino, another
// inode number at each. The mount table gives the layers.
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <new>
#include <unistd.h>

#include "platform_posix.h"
#include "system_calls.h"

namespace kerfline {

namespace {

// One overlay mount: the folder it is mounted on, then its layers.
struct Overlay {
    std::vector<std::string> places;
};

// A field of the mount table with its octal escapes ("\040" for a space)
// made bytes again.
std::string unescaped(std::string_view field) {
    std::string bytes;
    const auto octal = [&](std::size_t at) { return field[at] >= '0' && field[at] <= '7'; };
    for (std::size_t i = 0; i < field.size(); ++i) {
        if (field[i] == '\\' && i + 3 < field.size() && octal(i + 1) && octal(i + 2) && octal(i + 3)) {
            bytes += static_cast<char>((field[i + 1] - '0') * 64 + (field[i + 2] - '0') * 8 +
                                       (field[i + 3] - '0'));
            i += 3;
        } else {
            bytes += field[i];
        }
    }
    return bytes;
}

// The layers a mount option names: "lowerdir" holds several, split at ':';
// within each, as in the option the kernel was given, "\:", "\," and "\\"
// stand for the character after the backslash. Only absolute paths can be
// told apart from where the mount was made.
void add_layers(std::string_view value, bool several, std::vector<std::string>& places) {
    std::string layer;
    auto done = [&] {
        char real[PATH_MAX];
        if (!layer.empty() && layer[0] == '/' && ::realpath(layer.c_str(), real) != nullptr) {
            places.emplace_back(real);
        }
        layer.clear();
    };
    for (std::size_t i = 0; i < value.size(); ++i) {
        if (value[i] == '\\' && i + 1 < value.size()) {
            layer += value[++i];
        } else if (value[i] == ':' && several) {
            done();
        } else {
            layer += value[i];
        }
    }
    done();
}

// Every overlay mount of this process's mount table.
std::vector<Overlay> overlays() {
    std::vector<Overlay> found;
    std::FILE* table = std::fopen("/proc/self/mountinfo", "re");
    if (table == nullptr) return found;
    char* line = nullptr;
    std::size_t capacity = 0;
    for (ssize_t length; (length = ::getline(&line, &capacity, table)) > 0;) {
        // ID PARENT MAJOR:MINOR ROOT MOUNT-POINT OPTIONS [OPTIONAL...] - TYPE SOURCE SUPER-OPTIONS
        std::string_view rest(line, static_cast<std::size_t>(length));
        if (rest.ends_with('\n')) rest.remove_suffix(1);
        std::vector<std::string_view> fields;
        for (std::size_t at = 0; at <= rest.size();) {
            const std::size_t end = std::min(rest.find(' ', at), rest.size());
            fields.push_back(rest.substr(at, end - at));
            at = end + 1;
        }
        std::size_t dash = 6;
        while (dash < fields.size() && fields[dash] != "-") ++dash;
        if (fields.size() < 5 || dash + 3 >= fields.size() || fields[dash + 1] != "overlay") continue;
        Overlay overlay;
        overlay.places.push_back(unescaped(fields[4]));
        std::string_view options = fields[dash + 3];
        for (std::size_t at = 0; at <= options.size();) {
            const std::size_t end = std::min(options.find(',', at), options.size());
            const std::string option = unescaped(options.substr(at, end - at));
            at = end + 1;
            const std::size_t equals = option.find('=');
            const std::string_view key = std::string_view(option).substr(0, equals);
            if (equals == std::string::npos) continue;
            const std::string_view value = std::string_view(option).substr(equals + 1);
            if (key == "upperdir" || key == "lowerdir" || key == "lowerdir+" || key == "datadir+") {
                add_layers(value, key == "lowerdir", overlay.places);
            }
        }
        if (overlay.places.size() > 1) found.push_back(std::move(overlay));
    }
    std::free(line);
    std::fclose(table);
    return found;
}

// The other paths of the file at `real`, a path without links, in every
// overlay mount whose mount folder or a layer holds it.
void other_paths(const std::string& real, std::vector<std::string>& paths) {
    for (const Overlay& overlay : overlays()) {
        for (const std::string& place : overlay.places) {
            if (!real.starts_with(place) || real.size() <= place.size() || real[place.size()] != '/') {
                continue;
            }
            const std::string_view rest = std::string_view(real).substr(place.size());
            for (const std::string& other : overlay.places) {
                if (&other != &place) paths.push_back(other + std::string(rest));
            }
        }
    }
}

// The path an open descriptor was opened at, as the kernel keeps it: none
// for a pipe, a socket or a file removed since.
bool path_of(int fd, std::string& path) {
    char link[32];
    std::snprintf(link, sizeof link, "/proc/self/fd/%d", fd);
    char target[PATH_MAX];
    const ssize_t length = sys::readlink(link, target, sizeof target);
    if (length <= 0 || target[0] != '/' || static_cast<std::size_t>(length) == sizeof target) return false;
    path.assign(target, static_cast<std::size_t>(length));
    return !path.ends_with(" (deleted)");
}

bool paths_of_descriptor(int fd, std::vector<std::string>& paths) {
    try {
        std::string path;
        paths.clear();
        if (!path_of(fd, path)) return true;
        other_paths(path, paths);
        if (!paths.empty()) paths.push_back(path);
        return true;
    } catch (const std::bad_alloc&) {
        return false;
    }
}

}  // namespace

bool File::overlay_paths(std::vector<std::string>& paths) const {
    return paths_of_descriptor(static_cast<int>(handle_), paths);
}

bool standard_stream_overlay_paths(StandardStream stream, std::vector<std::string>& paths) {
    constexpr int descriptors[] = {STDIN_FILENO, STDOUT_FILENO, STDERR_FILENO};
    return paths_of_descriptor(descriptors[static_cast<int>(stream)], paths);
}

bool where_is(std::string_view path, std::string& where) {
    try {
        where.clear();
        char real[PATH_MAX];
        const std::string name(path);
        if (::realpath(name.c_str(), real) != nullptr) {
            where = real;
            return true;
        }
        // Not there yet: where it would be made, in its folder.
        std::string folder, file;
        if (!posix::made_at(name, folder, file) || ::realpath(folder.c_str(), real) == nullptr) return true;
        where = std::string(real) + (std::string_view(real) == "/" ? "" : "/") + file;
        return true;
    } catch (const std::bad_alloc&) {
        return false;
    }
}

bool posix::made_at(const std::string& path, std::string& folder, std::string& file) {
    if (path.empty()) return false;
    // A link that points nowhere is followed, as an open that creates its
    // file follows it.
    std::string target = path;
    for (int links = 0; links < 40; ++links) {
        char pointed[PATH_MAX];
        const ssize_t length = sys::readlink(target.c_str(), pointed, sizeof pointed);
        if (length <= 0 || static_cast<std::size_t>(length) == sizeof pointed) break;
        const std::string to(pointed, static_cast<std::size_t>(length));
        const std::size_t slash = target.rfind('/');
        target = to.starts_with('/') || slash == std::string::npos ? to : target.substr(0, slash + 1) + to;
    }
    const std::size_t slash = target.rfind('/');
    folder = slash == std::string::npos ? "." : slash == 0 ? "/" : target.substr(0, slash);
    file = target.substr(slash == std::string::npos ? 0 : slash + 1);
    return true;
}

}  // namespace kerfline
