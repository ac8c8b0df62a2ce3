// The adapter rule: exactly "NVIDIA" (with its NUL) wins, first match in enumeration order;
// anything else leaves the choice to the system's default adapter.
#include <gtest/gtest.h>

#include <string>

#include "gpu/adapter_choice.h"

namespace quillo::test {
namespace {

using namespace quillo::gpu;

AdapterDescription Describe(const std::u16string& text) {
    AdapterDescription description;
    for (size_t i = 0; i < text.size() && i + 1 < kAdapterDescriptionLength; ++i) {
        description.text[i] = text[i];
    }
    return description;
}

TEST(AdapterChoice, OnlyTheExactDescriptionMatchesAndNothingAfterItsNulIsRead) {
    AdapterDescription padded = Describe(u"NVIDIA");
    for (size_t i = 7; i < kAdapterDescriptionLength; ++i) padded.text[i] = u'x';
    EXPECT_TRUE(IsPreferredAdapter(padded));
    for (const char16_t* other : {u"NVIDIA GeForce RTX 3080", u"NVIDIA ", u"Nvidia", u"nVIDIA",
                                  u"NVIDI", u"", u" NVIDIA"}) {
        EXPECT_FALSE(IsPreferredAdapter(Describe(other)));
    }
}

TEST(AdapterChoice, FirstExactMatchInEnumerationOrderWins) {
    EXPECT_EQ(ChooseAdapter({Describe(u"Intel(R) UHD Graphics 630"), Describe(u"NVIDIA")}),
              std::optional<size_t>(1));
    EXPECT_EQ(ChooseAdapter({Describe(u"NVIDIA"), Describe(u"NVIDIA")}), std::optional<size_t>(0));
    EXPECT_EQ(ChooseAdapter({Describe(u"NVIDIA GeForce GTX 1080"), Describe(u"AMD Radeon"),
                             Describe(u"NVIDIA"), Describe(u"NVIDIA")}),
              std::optional<size_t>(2));
}

TEST(AdapterChoice, NoMatchOrNoAdapterMeansTheDefaultAdapter) {
    EXPECT_EQ(ChooseAdapter({}), std::nullopt);
    EXPECT_EQ(
        ChooseAdapter({Describe(u"NVIDIA GeForce RTX 4090"), Describe(u"AMD Radeon RX 7900")}),
        std::nullopt);
    EXPECT_EQ(ChooseAdapter({Describe(u"Microsoft Basic Render Driver")}), std::nullopt);
}

}  // namespace
}  // namespace quillo::test
