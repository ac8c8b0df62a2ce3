// Everything the companion prints or records: event lines on standard output (or, on a
// terminal, above a live status line that is redrawn in place) and, optionally, one JSON
// object per event in a log file for tests. Safe to call from any thread.
#pragma once

#include <cstdio>
#include <mutex>
#include <string>

#include <nlohmann/json.hpp>

namespace quillo::companion {

// Builds one JSON object: JsonLine().Add("event", "haptic").Add("controller", 1).Text().
// Members keep the order they were added in, so log lines read in a stable order.
class JsonLine {
  public:
    template <typename Value>
    JsonLine& Add(const char* key, const Value& value) {
        object_[key] = value;
        return *this;
    }
    // One line of JSON; text that is not UTF-8 (a name off the wire) is written with U+FFFD in
    // place of the bad bytes rather than refused.
    std::string Text() const;

  private:
    nlohmann::ordered_json object_ = nlohmann::ordered_json::object();
};

class CompanionOutput {
  public:
    // `live`: standard output is a terminal and gets the status line.
    CompanionOutput(bool live, bool quiet);
    ~CompanionOutput();

    // Opens the JSON-lines log. False (with `error`) when it cannot be written.
    bool OpenLog(const std::string& path, std::string& error);

    // One event: `text` goes to standard output (unless quiet and not `important`), `json`
    // (an object from JsonLine, may be empty) to the log.
    void Event(const std::string& text, const std::string& json, bool important = false);
    // Replaces the live status line (terminal only).
    void Status(const std::string& text);
    // Ends the status line so that later output starts on a fresh line.
    void Finish();

  private:
    void ClearStatusLocked();

    std::mutex mutex_;
    bool live_;
    bool quiet_;
    std::string status_;
    std::FILE* log_ = nullptr;
};

}  // namespace quillo::companion
