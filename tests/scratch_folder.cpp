#include "scratch_folder.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <unistd.h>

namespace kerfline::testing {

namespace fs = std::filesystem;

ScratchFolder::ScratchFolder(const fs::path& parent) {
    std::string pattern = (parent / "kerfline-test-XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr) {
        throw std::runtime_error(std::string("mkdtemp: ") + std::strerror(errno));
    }
    path_ = pattern;
}

ScratchFolder::~ScratchFolder() {
    std::error_code ignored;
    fs::remove_all(path_, ignored);
}

void ScratchFolder::write(const std::string& name, const std::string& bytes) const {
    std::ofstream file(path_ / name, std::ios::binary | std::ios::trunc);
    file.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    if (!file) throw std::runtime_error("cannot write " + name);
}

std::string ScratchFolder::read(const std::string& name) const {
    std::ifstream file(path_ / name, std::ios::binary);
    if (!file) throw std::runtime_error("cannot read " + name);
    return {std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
}

std::map<std::string, std::string> ScratchFolder::files() const {
    std::map<std::string, std::string> found;
    for (const auto& entry : fs::recursive_directory_iterator(path_)) {
        if (entry.is_regular_file() && !entry.is_symlink()) {
            const std::string name = fs::relative(entry.path(), path_).string();
            found[name] = read(name);
        }
    }
    return found;
}

}  // namespace kerfline::testing
