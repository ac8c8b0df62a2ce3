#include "gpu/adapter_choice.h"

namespace quillo::gpu {

namespace {
constexpr char16_t kPreferred[] = u"NVIDIA";  // seven code units with the NUL
static_assert(sizeof kPreferred / sizeof kPreferred[0] == 7);
}  // namespace

bool IsPreferredAdapter(const AdapterDescription& description) {
    for (size_t i = 0; i < sizeof kPreferred / sizeof kPreferred[0]; ++i) {
        if (description.text[i] != kPreferred[i]) return false;
    }
    return true;
}

std::optional<size_t> ChooseAdapter(const std::vector<AdapterDescription>& descriptions) {
    for (size_t i = 0; i < descriptions.size(); ++i) {
        if (IsPreferredAdapter(descriptions[i])) return i;
    }
    return std::nullopt;
}

}  // namespace quillo::gpu
