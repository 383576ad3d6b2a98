// SPDX-License-Identifier: MIT
// A private XDG_CONFIG_HOME for one test, so that no test reads or writes a
// developer's real ~/.config/corvalen/aliases.conf.
#pragma once

#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <string>

namespace peers {

class ConfigDir {
public:
    ConfigDir() {
        std::string pattern = std::filesystem::temp_directory_path() / "corvalen-config-XXXXXX";
        root_ = ::mkdtemp(pattern.data());
        ::setenv("XDG_CONFIG_HOME", root_.c_str(), 1);
    }
    ~ConfigDir() {
        std::error_code ignored;
        std::filesystem::permissions(file().parent_path(), std::filesystem::perms::owner_all, ignored);
        std::filesystem::remove_all(root_, ignored);
        ::unsetenv("XDG_CONFIG_HOME");
    }
    ConfigDir(const ConfigDir&) = delete;
    ConfigDir& operator=(const ConfigDir&) = delete;

    [[nodiscard]] std::filesystem::path file() const { return std::filesystem::path(root_) / "corvalen/aliases.conf"; }
    void write(const std::string& text) const {
        std::filesystem::create_directories(file().parent_path());
        std::ofstream(file(), std::ios::binary) << text;
    }
    [[nodiscard]] std::string read() const {
        std::ifstream in(file(), std::ios::binary);
        return {std::istreambuf_iterator<char>(in), {}};
    }

private:
    std::string root_;
};

}  // namespace peers
