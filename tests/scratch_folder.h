// A scratch folder for tests that leave files behind.
#pragma once

#include <filesystem>
#include <map>
#include <string>

namespace kerfline::testing {

// A fresh, empty folder under `parent`, by default the system's temporary
// folder, removed with everything in it when the object goes.
class ScratchFolder {
public:
    explicit ScratchFolder(
        const std::filesystem::path& parent = std::filesystem::temp_directory_path());
    ~ScratchFolder();
    ScratchFolder(const ScratchFolder&) = delete;
    ScratchFolder& operator=(const ScratchFolder&) = delete;

    const std::filesystem::path& path() const { return path_; }
    void write(const std::string& name, const std::string& bytes) const;
    std::string read(const std::string& name) const;
    // Every regular file below the folder, by relative path, with its bytes.
    std::map<std::string, std::string> files() const;

private:
    std::filesystem::path path_;
};

}  // namespace kerfline::testing
