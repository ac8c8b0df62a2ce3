// Which display adapter the Direct3D 11 device is made on: the first adapter (in DXGI
// enumeration order) whose description is exactly "NVIDIA", otherwise the system's default
// adapter. Kept apart from the Direct3D code so the rule can be tested anywhere.
#pragma once

#include <cstddef>
#include <optional>
#include <vector>

namespace quillo::gpu {

// DXGI_ADAPTER_DESC::Description: 128 UTF-16 code units, NUL-terminated.
constexpr size_t kAdapterDescriptionLength = 128;
struct AdapterDescription {
    char16_t text[kAdapterDescriptionLength] = {};
};

// True when the first seven code units are "NVIDIA" and its terminating NUL, compared one by
// one: a description that merely begins with "NVIDIA" (a model name after it) or differs in
// letter case does not match.
bool IsPreferredAdapter(const AdapterDescription& description);

// Index of the adapter to use, or nullopt for the default adapter (no adapter matched, or the
// list is empty). The lowest index wins among several matches.
std::optional<size_t> ChooseAdapter(const std::vector<AdapterDescription>& descriptions);

}  // namespace quillo::gpu
