#include "motion.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <fstream>
#include <sstream>

#include <nlohmann/json.hpp>

namespace quillo::companion {

namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr double kTurnPeriod = 8.0;      // seconds
constexpr double kNodPeriod = 5.0;       // seconds
constexpr double kTurnAmplitude = 30.0;  // degrees
constexpr double kNodAmplitude = 10.0;   // degrees
constexpr double kSway = 0.05;           // metres

std::string Trim(const std::string& text) {
    const size_t first = text.find_first_not_of(" \t\r\n");
    if (first == std::string::npos) return "";
    const size_t last = text.find_last_not_of(" \t\r\n");
    return text.substr(first, last - first + 1);
}

bool SortAndCheck(std::vector<HeadSample>& samples, std::string& error) {
    if (samples.empty()) {
        error = "no poses in the motion file";
        return false;
    }
    std::stable_sort(samples.begin(), samples.end(), [](const HeadSample& a, const HeadSample& b) {
        return a.seconds < b.seconds;
    });
    return true;
}

}  // namespace

void ScriptedAngles(double seconds, float& pitch, float& yaw) {
    yaw = static_cast<float>(kTurnAmplitude * kPi / 180.0 *
                             std::sin(2.0 * kPi * seconds / kTurnPeriod));
    pitch = static_cast<float>(kNodAmplitude * kPi / 180.0 *
                               std::sin(2.0 * kPi * seconds / kNodPeriod));
}

HeadSample ScriptedHead(double seconds) {
    float pitch = 0.0f;
    float yaw = 0.0f;
    ScriptedAngles(seconds, pitch, yaw);
    HeadSample sample;
    sample.seconds = seconds;
    sample.orientation = EulerToQuaternion(pitch, yaw, 0.0f);
    sample.position = Vector3{
        static_cast<float>(kSway * std::sin(2.0 * kPi * seconds / kTurnPeriod)), 1.7f, 0.0f};
    return sample;
}

bool MotionTrack::Load(const std::string& path, std::string& error) {
    std::ifstream file(path, std::ios::binary);
    if (!file) {
        error = "cannot open motion file " + path;
        return false;
    }
    std::stringstream text;
    text << file.rdbuf();
    if (!Parse(text.str(), error)) {
        error = path + ": " + error;
        return false;
    }
    return true;
}

bool MotionTrack::Parse(const std::string& text, std::string& error) {
    samples_.clear();
    const std::string trimmed = Trim(text);
    if (!trimmed.empty() && (trimmed[0] == '[' || trimmed[0] == '{')) {
        return ParseJson(trimmed, error);
    }
    return ParseCsv(text, error);
}

bool MotionTrack::ParseCsv(const std::string& text, std::string& error) {
    std::istringstream lines(text);
    std::string line;
    int number = 0;
    while (std::getline(lines, line)) {
        ++number;
        line = Trim(line);
        if (line.empty() || line[0] == '#') continue;
        double values[8];
        int count = 0;
        const char* cursor = line.c_str();
        bool ok = true;
        while (ok && count < 8) {
            char* end = nullptr;
            values[count] = std::strtod(cursor, &end);
            ok = end != cursor;
            if (!ok) break;
            ++count;
            cursor = end;
            while (*cursor == ' ' || *cursor == '\t') ++cursor;
            if (*cursor == ',') ++cursor;
        }
        if (count == 0 && samples_.empty() && number == 1) continue;  // a header line
        if (count != 8 || *cursor != '\0') {
            error = "line " + std::to_string(number) + ": expected t,qx,qy,qz,qw,px,py,pz";
            return false;
        }
        HeadSample sample;
        sample.seconds = values[0];
        sample.orientation =
            Quaternion{static_cast<float>(values[1]), static_cast<float>(values[2]),
                       static_cast<float>(values[3]), static_cast<float>(values[4])};
        sample.position = Vector3{static_cast<float>(values[5]), static_cast<float>(values[6]),
                                  static_cast<float>(values[7])};
        samples_.push_back(sample);
    }
    return SortAndCheck(samples_, error);
}

bool MotionTrack::ParseJson(const std::string& text, std::string& error) {
    nlohmann::json root;
    try {
        root = nlohmann::json::parse(text, nullptr, true, true);
    } catch (const nlohmann::json::parse_error& e) {
        // "parse error at line L, column C: ..." without the library's "[json.exception...]".
        const std::string what = e.what();
        const size_t tagEnd = what.find("] ");
        error = tagEnd == std::string::npos ? what : what.substr(tagEnd + 2);
        return false;
    }
    const nlohmann::json* list = &root;
    if (root.is_object()) {
        const auto poses = root.find("poses");
        list = poses != root.end() ? &*poses : nullptr;
    }
    if (list == nullptr || !list->is_array()) {
        error = "expected an array of poses (or an object with a \"poses\" array)";
        return false;
    }
    // Fills `out` from an array of exactly `size` numbers.
    auto numbers = [](const nlohmann::json& item, const char* key, size_t size, float* out) {
        const auto array = item.find(key);
        if (array == item.end() || !array->is_array() || array->size() != size) return false;
        for (size_t i = 0; i < size; ++i) {
            if (!(*array)[i].is_number()) return false;
            out[i] = (*array)[i].get<float>();
        }
        return true;
    };
    for (size_t index = 0; index < list->size(); ++index) {
        const nlohmann::json& item = (*list)[index];
        float quaternion[4];
        float position[3];
        if (!item.is_object() || !item.contains("t") || !item["t"].is_number() ||
            !numbers(item, "q", 4, quaternion) || !numbers(item, "p", 3, position)) {
            error = "pose " + std::to_string(index) +
                    ": expected {\"t\": s, \"q\": [x, y, z, w], \"p\": [x, y, z]}";
            return false;
        }
        HeadSample sample;
        sample.seconds = item["t"].get<double>();
        sample.orientation = Quaternion{quaternion[0], quaternion[1], quaternion[2], quaternion[3]};
        sample.position = Vector3{position[0], position[1], position[2]};
        samples_.push_back(sample);
    }
    return SortAndCheck(samples_, error);
}

HeadSample MotionTrack::At(double seconds, bool loop) const {
    if (samples_.empty()) return HeadSample{};
    const double start = samples_.front().seconds;
    const double duration = samples_.back().seconds - start;
    if (loop && duration > 0.0 && seconds > samples_.back().seconds) {
        seconds = start + std::fmod(seconds - start, duration);
    }
    // The last sample at or before `seconds`.
    auto after = std::upper_bound(samples_.begin(), samples_.end(), seconds,
                                  [](double t, const HeadSample& s) { return t < s.seconds; });
    if (after == samples_.begin()) return samples_.front();
    return *(after - 1);
}

}  // namespace quillo::companion
