// FFmpeg's functions as the programs call them: where they are loaded on first use, through trampolines
// that must hand every kind of argument and result over untouched.
extern "C" {
#include <libavutil/display.h>
#include <libavutil/error.h>
#include <libavutil/mathematics.h>
}

#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <latch>
#include <thread>
#include <vector>

namespace {

TEST(LazyLibraries, ArgumentsAndResultsPassThrough)
{
    // Structures by value and 64-bit integers.
    const struct {
        int64_t value;
        AVRational from, to;
        int64_t expected;
    } rescales[] = {
        {1000, {1, 1000}, {1, 90000}, 90000},
        {90000, {1, 90000}, {1, 1000}, 1000},
        {-3, {1, 30}, {1, 1000}, -100},
        {int64_t(1) << 40, {1, 1}, {1, 1}, int64_t(1) << 40},
    };
    for (const auto &rescale : rescales)
        EXPECT_EQ(av_rescale_q(rescale.value, rescale.from, rescale.to), rescale.expected) << rescale.value;

    // A pointer to fill and an int result.
    std::array<char, 128> text{};
    EXPECT_EQ(av_strerror(AVERROR(EINVAL), text.data(), text.size()), 0);
    EXPECT_STREQ(text.data(), std::strerror(EINVAL));

    // Floating-point arguments and results (FFmpeg reads the matrix back with the opposite sign).
    for (const double angle : {30.0, 90.0, -135.0}) {
        int32_t matrix[9];
        av_display_rotation_set(matrix, angle);
        EXPECT_NEAR(av_display_rotation_get(matrix), -angle, 1e-3) << angle;
    }
}

TEST(LazyLibraries, ManyThreadsCallingAtOnceAllGetTheFunction)
{
    // Run alone (as ctest runs each test), this is the process's first call: all threads resolve at once.
    constexpr int threads = 16;
    std::vector<int64_t> results(threads, -1);
    std::latch start(threads);
    std::vector<std::thread> workers;
    for (int i = 0; i < threads; ++i) {
        workers.emplace_back([&results, &start, i] {
            start.arrive_and_wait();
            results[size_t(i)] = av_rescale_q(i, AVRational{1, 10}, AVRational{1, 1000});
        });
    }
    for (std::thread &worker : workers)
        worker.join();
    for (int i = 0; i < threads; ++i)
        EXPECT_EQ(results[size_t(i)], i * 100) << i;
}

} // namespace
