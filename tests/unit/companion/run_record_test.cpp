// What the companion keeps of a whole run: the contact sheet spans the run however long it
// gets, and the timing log's percentiles and CSV rows are the frames' own figures.
#include <gtest/gtest.h>

#include <cstdio>
#include <sstream>
#include <string>
#include <vector>

#define STB_IMAGE_STATIC
#define STB_IMAGE_IMPLEMENTATION
#include <stb/stb_image.h>

#include "contact_sheet.h"
#include "frame_timing_log.h"
#include "support/temp_dir.h"
#include "support/test_files.h"

namespace quillo::companion {
namespace {

TEST(ContactSheet, KeepsFramesAtEvenStepsAcrossTheWholeRun) {
    constexpr uint32_t kWidth = 64, kHeight = 32;
    std::vector<uint8_t> frame(kWidth * kHeight * 4);
    ContactSheet sheet;
    for (uint64_t index = 0; index < 100; ++index) {
        // Every pixel carries the frame's index in red.
        for (size_t i = 0; i < frame.size(); i += 4) {
            frame[i] = static_cast<uint8_t>(index);
            frame[i + 1] = 10;
            frame[i + 2] = 20;
            frame[i + 3] = 255;
        }
        sheet.Offer(index, frame.data(), kWidth * 4, kWidth, kHeight);
    }
    test::TempDir dir{"quillo-sheet"};
    ASSERT_TRUE(dir.ok());
    std::string error;
    ASSERT_TRUE(sheet.Write(dir.File("sheet.png"), error)) << error;

    // 16 cells: frames 0..15 fill them; then every other is dropped and every 2nd frame taken
    // (16..30 refill them), then every 4th (32..60), then every 8th: 0, 8, ..., 96 remain.
    int width = 0, height = 0, channels = 0;
    stbi_uc* pixels = stbi_load(dir.File("sheet.png").c_str(), &width, &height, &channels, 4);
    ASSERT_NE(pixels, nullptr);
    // Thumbnails as wide as the frames (narrower than 320), 4 pixels apart, 4 to a row.
    EXPECT_EQ(width, 4 + 4 * (64 + 4));
    EXPECT_EQ(height, 4 + 4 * (32 + 4));
    std::vector<int> shown;
    for (int cell = 0; cell < 16; ++cell) {
        const int x = 4 + (cell % 4) * 68 + 32, y = 4 + (cell / 4) * 36 + 16;
        const stbi_uc* p = pixels + (static_cast<size_t>(y) * width + x) * 4;
        if (p[1] == 10 && p[2] == 20) shown.push_back(p[0]);
    }
    stbi_image_free(pixels);
    EXPECT_EQ(shown, (std::vector<int>{0, 8, 16, 24, 32, 40, 48, 56, 64, 72, 80, 88, 96}));
}

TEST(FrameTimingLog, WindowPercentilesAndCsvRowsComeFromTheFrames) {
    FrameTimingLog log;
    // 200 frames whose latencies are 0.0, 0.1, ..., 19.9 ms in a shuffled order, arriving at
    // uneven intervals of 10 ms plus 0.25 ms per frame number modulo 4.
    uint64_t arrival = 5000000;
    for (uint32_t i = 0; i < 200; ++i) {
        const uint64_t latency = (i * 37u % 200u) * 100u;
        arrival += 10000 + 250 * (i % 4);
        log.Add(1000 + i, arrival - latency, arrival, static_cast<int>(i & 1));
    }
    const TimingWindow window = log.TakeWindow();
    EXPECT_EQ(window.frames, 200u);
    // Nearest rank: the 100th smallest of 200 values is 9.9 ms, the 198th is 19.7 ms.
    EXPECT_DOUBLE_EQ(window.latencyP50Ms, 9.9);
    EXPECT_DOUBLE_EQ(window.latencyP99Ms, 19.7);
    EXPECT_EQ(log.TakeWindow().frames, 0u);

    test::TempDir dir{"quillo-timing"};
    ASSERT_TRUE(dir.ok());
    std::string error;
    ASSERT_TRUE(log.WriteCsv(dir.File("timing.csv"), error)) << error;
    std::istringstream lines(test::ReadWholeFile(dir.File("timing.csv")));
    std::vector<std::string> rows;
    for (std::string line; std::getline(lines, line);) rows.push_back(line);
    ASSERT_EQ(rows.size(), 201u);
    EXPECT_EQ(rows[0], "sequence,arrival_s,interval_ms,latency_ms,texture");
    // Frame 0: the start, latency 0. Frame 1 came 10.25 ms later with latency 3.7 ms. Frame 3
    // came 10.75 ms after frame 2, 10.00 + 10.25 + 10.50 + 10.75 - 10.00 = 31.5 ms after the
    // first, with latency 111 * 0.1 = 11.1 ms.
    EXPECT_EQ(rows[1], "1000,0.000000,,0.000,0");
    EXPECT_EQ(rows[2], "1001,0.010250,10.250,3.700,1");
    EXPECT_EQ(rows[4], "1003,0.031500,10.750,11.100,1");
}

}  // namespace
}  // namespace quillo::companion
