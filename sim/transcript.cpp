// SPDX-License-Identifier: MIT
#include "transcript.h"

#include <cerrno>
#include <cstring>
#include <stdexcept>

namespace tq820sim {

Transcript::Transcript(const std::string& path, std::chrono::steady_clock::time_point start)
    : start_(start) {
    if (path.empty()) return;
    file_ = std::fopen(path.c_str(), "w");
    if (file_ == nullptr)
        throw std::runtime_error("cannot write transcript " + path + ": " + std::strerror(errno));
}

Transcript::~Transcript() {
    if (file_ != nullptr) std::fclose(file_);
}

void Transcript::write(const char* kind, const std::string& text) {
    if (file_ == nullptr) return;
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start_).count();
    std::fprintf(file_, "%.6f %s %s\n", seconds, kind, text.c_str());
    std::fflush(file_);
}

}  // namespace tq820sim
