#include "companion_output.h"

#include <cinttypes>
#include <cmath>

namespace quillo::companion {

namespace {

std::string Escape(const std::string& text) {
    std::string out;
    for (char c : text) {
        const unsigned char u = static_cast<unsigned char>(c);
        if (c == '"' || c == '\\') {
            out += '\\';
            out += c;
        } else if (u < 0x20) {
            char buffer[8];
            std::snprintf(buffer, sizeof buffer, "\\u%04x", u);
            out += buffer;
        } else {
            out += c;
        }
    }
    return out;
}

}  // namespace

void JsonLine::Key(const char* key) {
    if (body_.size() > 1) body_ += ",";
    body_ += "\"" + Escape(key) + "\":";
}

JsonLine& JsonLine::Add(const char* key, const std::string& value) {
    Key(key);
    body_ += "\"" + Escape(value) + "\"";
    return *this;
}

JsonLine& JsonLine::Add(const char* key, const char* value) {
    return Add(key, std::string(value));
}

JsonLine& JsonLine::Add(const char* key, double value) {
    Key(key);
    if (!std::isfinite(value)) {
        body_ += "null";
        return *this;
    }
    char buffer[32];
    std::snprintf(buffer, sizeof buffer, "%.9g", value);
    body_ += buffer;
    return *this;
}

JsonLine& JsonLine::Add(const char* key, int64_t value) {
    Key(key);
    body_ += std::to_string(value);
    return *this;
}

JsonLine& JsonLine::Add(const char* key, uint64_t value) {
    Key(key);
    body_ += std::to_string(value);
    return *this;
}

JsonLine& JsonLine::Add(const char* key, bool value) {
    Key(key);
    body_ += value ? "true" : "false";
    return *this;
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
