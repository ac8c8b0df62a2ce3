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
    JsonValue document;
    if (!ParseJson(text, document, error)) {
        return false;
    }
    if (!document.isObject()) {
        error = "the settings document is not an object of sections";
        return false;
    }
    std::map<std::string, std::map<std::string, JsonValue>> sections;
    for (const auto& section : document.members()) {
        if (!section.second.isObject()) {
            error = "section \"" + section.first + "\" is not an object";
            return false;
        }
        for (const auto& entry : section.second.members()) {
            sections[section.first][entry.first] = entry.second;
        }
    }
    std::lock_guard<std::mutex> lock(mutex_);
    sections_ = std::move(sections);
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

std::optional<JsonValue> FakeSettings::Value(const std::string& section,
                                             const std::string& key) const {
    std::lock_guard<std::mutex> lock(mutex_);
    auto s = sections_.find(section);
    if (s == sections_.end()) return std::nullopt;
    auto k = s->second.find(key);
    if (k == s->second.end()) return std::nullopt;
    return k->second;
}

std::optional<JsonValue> FakeSettings::Read(const char* section, const char* key,
                                            vr::EVRSettingsError* error) {
    std::optional<JsonValue> value;
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

void FakeSettings::Write(const char* section, const char* key, JsonValue value,
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
    Write(pchSection, pchSettingsKey, JsonValue::MakeBool(bValue), peError);
}

void FakeSettings::SetInt32(const char* pchSection, const char* pchSettingsKey, int32_t nValue,
                            vr::EVRSettingsError* peError) {
    Write(pchSection, pchSettingsKey, JsonValue::MakeNumber(nValue, true), peError);
}

void FakeSettings::SetFloat(const char* pchSection, const char* pchSettingsKey, float flValue,
                            vr::EVRSettingsError* peError) {
    Write(pchSection, pchSettingsKey, JsonValue::MakeNumber(flValue, false), peError);
}

void FakeSettings::SetString(const char* pchSection, const char* pchSettingsKey,
                             const char* pchValue, vr::EVRSettingsError* peError) {
    Write(pchSection, pchSettingsKey, JsonValue::MakeString(pchValue != nullptr ? pchValue : ""),
          peError);
}

// Numbers and booleans convert into each other as the runtime's JSON settings do; a value of
// another type (a string read as a number) reads as 0 with VRSettingsError_ReadFailed.
bool FakeSettings::GetBool(const char* pchSection, const char* pchSettingsKey,
                           vr::EVRSettingsError* peError) {
    std::optional<JsonValue> value = Read(pchSection, pchSettingsKey, peError);
    if (!value) return false;
    if (value->isBool()) return value->asBool();
    if (value->isNumber()) return value->asNumber() != 0.0;
    SetError(peError, vr::VRSettingsError_ReadFailed);
    return false;
}

int32_t FakeSettings::GetInt32(const char* pchSection, const char* pchSettingsKey,
                               vr::EVRSettingsError* peError) {
    std::optional<JsonValue> value = Read(pchSection, pchSettingsKey, peError);
    if (!value) return 0;
    if (value->isNumber()) return ToInt32(value->asNumber());
    if (value->isBool()) return value->asBool() ? 1 : 0;
    SetError(peError, vr::VRSettingsError_ReadFailed);
    return 0;
}

float FakeSettings::GetFloat(const char* pchSection, const char* pchSettingsKey,
                             vr::EVRSettingsError* peError) {
    std::optional<JsonValue> value = Read(pchSection, pchSettingsKey, peError);
    if (!value) return 0.0f;
    if (value->isNumber()) return static_cast<float>(value->asNumber());
    if (value->isBool()) return value->asBool() ? 1.0f : 0.0f;
    SetError(peError, vr::VRSettingsError_ReadFailed);
    return 0.0f;
}

void FakeSettings::GetString(const char* pchSection, const char* pchSettingsKey, char* pchValue,
                             uint32_t unValueLen, vr::EVRSettingsError* peError) {
    if (pchValue != nullptr && unValueLen > 0) {
        pchValue[0] = '\0';
    }
    std::optional<JsonValue> value = Read(pchSection, pchSettingsKey, peError);
    if (!value) return;
    if (!value->isString()) {
        SetError(peError, vr::VRSettingsError_ReadFailed);
        return;
    }
    if (pchValue == nullptr || unValueLen == 0) return;
    const std::string& text = value->asString();
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
            section->second.erase(pchSettingsKey);
        }
    }
    SetError(peError, vr::VRSettingsError_None);
}

}  // namespace quillo::runtime
