#include "companion_output.h"

namespace quillo::companion {

std::string JsonLine::Text() const {
    return object_.dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::replace);
}

CompanionOutput::CompanionOutput(bool live, bool quiet) : live_(live), quiet_(quiet) {}

CompanionOutput::~CompanionOutput() {
    Finish();
    if (log_ != nullptr) std::fclose(log_);
}

bool CompanionOutput::OpenLog(const std::string& path, std::string& error) {
    std::lock_guard<std::mutex> lock(mutex_);
    log_ = std::fopen(path.c_str(), "w");
    if (log_ == nullptr) {
        error = "cannot write the log file " + path;
        return false;
    }
    return true;
}

void CompanionOutput::ClearStatusLocked() {
    if (!live_ || status_.empty()) return;
    // Overwrite the status line with blanks and return to its start.
    std::printf("\r%*s\r", static_cast<int>(status_.size()), "");
}

void CompanionOutput::Event(const std::string& text, const std::string& json, bool important) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!text.empty() && (!quiet_ || important)) {
        ClearStatusLocked();
        std::printf("%s\n", text.c_str());
        if (live_ && !status_.empty()) std::printf("%s", status_.c_str());
        std::fflush(stdout);
    }
    if (log_ != nullptr && !json.empty()) {
        std::fprintf(log_, "%s\n", json.c_str());
        std::fflush(log_);
    }
}

void CompanionOutput::Status(const std::string& text) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!live_) return;
    ClearStatusLocked();
    status_ = text;
    std::printf("%s", status_.c_str());
    std::fflush(stdout);
}

void CompanionOutput::Finish() {
    std::lock_guard<std::mutex> lock(mutex_);
    if (live_ && !status_.empty()) {
        std::printf("\n");
        std::fflush(stdout);
        status_.clear();
    }
}

}  // namespace quillo::companion
