#include <cmath>
#include <cstring>
#include <fstream>
#include <limits>
#include <sstream>

#include "fake_interfaces.h"
#include "fake_runtime.h"

namespace quillo::runtime {

namespace {

void SetError(vr::EVRSettingsError* out, vr::EVRSettingsError error) {
    if (out != nullptr) {
        *out = error;
    }
}

int32_t ToInt32(double value) {
    if (std::isnan(value)) return 0;
    if (value >= 2147483647.0) return std::numeric_limits<int32_t>::max();
    if (value <= -2147483648.0) return std::numeric_limits<int32_t>::min();
    return static_cast<int32_t>(value);
}

}  // namespace

bool FakeSettings::LoadJson(const std::string& text, std::string& error) {
    nlohmann::json document;
    try {
        // The runtime's own settings files sometimes carry // and /* */ comments.
        document = nlohmann::json::parse(text, nullptr, true, true);
    } catch (const nlohmann::json::parse_error& e) {
        // "[json.exception.parse_error.101] parse error at line 1, column 5: ..." without the
        // library's tag.
        const std::string what = e.what();
        const size_t tagEnd = what.find("] ");
        error = tagEnd == std::string::npos ? what : what.substr(tagEnd + 2);
        return false;
    }
    if (!document.is_object()) {
        error = "the settings document is not an object of sections";
        return false;
    }
    for (const auto& section : document.items()) {
        if (!section.value().is_object()) {
            error = "section \"" + section.key() + "\" is not an object";
            return false;
        }
    }
    std::lock_guard<std::mutex> lock(mutex_);
    sections_ = std::move(document);
    return true;
}

bool FakeSettings::LoadFile(const std::string& path, std::string& error) {
    std::ifstream file(path, std::ios::binary);
    if (!file) {
        error = "cannot open settings file " + path;
        return false;
    }
    std::ostringstream text;
    text << file.rdbuf();
    if (!LoadJson(text.str(), error)) {
        error = path + ": " + error;
        return false;
    }
    return true;
}

std::optional<nlohmann::json> FakeSettings::Value(const std::string& section,
                                                  const std::string& key) const {
    std::lock_guard<std::mutex> lock(mutex_);
    auto s = sections_.find(section);
    if (s == sections_.end()) return std::nullopt;
    auto k = s->find(key);
    if (k == s->end()) return std::nullopt;
    return *k;
}

std::optional<nlohmann::json> FakeSettings::Read(const char* section, const char* key,
                                                 vr::EVRSettingsError* error) {
    std::optional<nlohmann::json> value;
    if (section != nullptr && key != nullptr) {
        value = Value(section, key);
    }
    const vr::EVRSettingsError result =
        value ? vr::VRSettingsError_None : vr::VRSettingsError_UnsetSettingHasNoDefault;
    SetError(error, result);
    if (runtime_.options().recordSettingReads) {
        RuntimeEvent event;
        event.kind = EventKind::SettingRead;
        event.section = section != nullptr ? section : "";
        event.key = key != nullptr ? key : "";
        event.settingsError = result;
        runtime_.Record(std::move(event));
    }
    return value;
}

void FakeSettings::Write(const char* section, const char* key, nlohmann::json value,
                         vr::EVRSettingsError* error) {
    if (section == nullptr || key == nullptr) {
        SetError(error, vr::VRSettingsError_WriteFailed);
        return;
    }
    {
        std::lock_guard<std::mutex> lock(mutex_);
        sections_[section][key] = std::move(value);
    }
    SetError(error, vr::VRSettingsError_None);
    RuntimeEvent event;
    event.kind = EventKind::SettingWritten;
    event.section = section;
    event.key = key;
    runtime_.Record(std::move(event));
}

const char* FakeSettings::GetSettingsErrorNameFromEnum(vr::EVRSettingsError eError) {
    switch (eError) {
        case vr::VRSettingsError_None:
            return "VRSettingsError_None";
        case vr::VRSettingsError_IPCFailed:
            return "VRSettingsError_IPCFailed";
        case vr::VRSettingsError_WriteFailed:
            return "VRSettingsError_WriteFailed";
        case vr::VRSettingsError_ReadFailed:
            return "VRSettingsError_ReadFailed";
        case vr::VRSettingsError_JsonParseFailed:
            return "VRSettingsError_JsonParseFailed";
        case vr::VRSettingsError_UnsetSettingHasNoDefault:
            return "VRSettingsError_UnsetSettingHasNoDefault";
    }
    return "VRSettingsError_Unknown";
}

bool FakeSettings::Sync(bool, vr::EVRSettingsError* peError) {
    SetError(peError, vr::VRSettingsError_None);
    return true;
}

void FakeSettings::SetBool(const char* pchSection, const char* pchSettingsKey, bool bValue,
                           vr::EVRSettingsError* peError) {
    Write(pchSection, pchSettingsKey, nlohmann::json(bValue), peError);
}

void FakeSettings::SetInt32(const char* pchSection, const char* pchSettingsKey, int32_t nValue,
                            vr::EVRSettingsError* peError) {
    Write(pchSection, pchSettingsKey, nlohmann::json(nValue), peError);
}

void FakeSettings::SetFloat(const char* pchSection, const char* pchSettingsKey, float flValue,
                            vr::EVRSettingsError* peError) {
    Write(pchSection, pchSettingsKey, nlohmann::json(flValue), peError);
}

void FakeSettings::SetString(const char* pchSection, const char* pchSettingsKey,
                             const char* pchValue, vr::EVRSettingsError* peError) {
    Write(pchSection, pchSettingsKey, nlohmann::json(pchValue != nullptr ? pchValue : ""), peError);
}

// Numbers and booleans convert into each other as the runtime's JSON settings do; a value of
// another type (a string read as a number) reads as 0 with VRSettingsError_ReadFailed.
bool FakeSettings::GetBool(const char* pchSection, const char* pchSettingsKey,
                           vr::EVRSettingsError* peError) {
    std::optional<nlohmann::json> value = Read(pchSection, pchSettingsKey, peError);
    if (!value) return false;
    if (value->is_boolean()) return value->get<bool>();
    if (value->is_number()) return value->get<double>() != 0.0;
    SetError(peError, vr::VRSettingsError_ReadFailed);
    return false;
}

int32_t FakeSettings::GetInt32(const char* pchSection, const char* pchSettingsKey,
                               vr::EVRSettingsError* peError) {
    std::optional<nlohmann::json> value = Read(pchSection, pchSettingsKey, peError);
    if (!value) return 0;
    if (value->is_number()) return ToInt32(value->get<double>());
    if (value->is_boolean()) return value->get<bool>() ? 1 : 0;
    SetError(peError, vr::VRSettingsError_ReadFailed);
    return 0;
}

float FakeSettings::GetFloat(const char* pchSection, const char* pchSettingsKey,
                             vr::EVRSettingsError* peError) {
    std::optional<nlohmann::json> value = Read(pchSection, pchSettingsKey, peError);
    if (!value) return 0.0f;
    if (value->is_number()) return static_cast<float>(value->get<double>());
    if (value->is_boolean()) return value->get<bool>() ? 1.0f : 0.0f;
    SetError(peError, vr::VRSettingsError_ReadFailed);
    return 0.0f;
}

void FakeSettings::GetString(const char* pchSection, const char* pchSettingsKey, char* pchValue,
                             uint32_t unValueLen, vr::EVRSettingsError* peError) {
    if (pchValue != nullptr && unValueLen > 0) {
        pchValue[0] = '\0';
    }
    std::optional<nlohmann::json> value = Read(pchSection, pchSettingsKey, peError);
    if (!value) return;
    if (!value->is_string()) {
        SetError(peError, vr::VRSettingsError_ReadFailed);
        return;
    }
    if (pchValue == nullptr || unValueLen == 0) return;
    const std::string& text = value->get_ref<const std::string&>();
    const size_t length = text.size() < unValueLen - 1 ? text.size() : unValueLen - 1;
    std::memcpy(pchValue, text.data(), length);
    pchValue[length] = '\0';
}

void FakeSettings::RemoveSection(const char* pchSection, vr::EVRSettingsError* peError) {
    if (pchSection != nullptr) {
        std::lock_guard<std::mutex> lock(mutex_);
        sections_.erase(pchSection);
    }
    SetError(peError, vr::VRSettingsError_None);
}

void FakeSettings::RemoveKeyInSection(const char* pchSection, const char* pchSettingsKey,
                                      vr::EVRSettingsError* peError) {
    if (pchSection != nullptr && pchSettingsKey != nullptr) {
        std::lock_guard<std::mutex> lock(mutex_);
        auto section = sections_.find(pchSection);
        if (section != sections_.end()) {
            section->erase(pchSettingsKey);
        }
    }
    SetError(peError, vr::VRSettingsError_None);
}

}  // namespace quillo::runtime
