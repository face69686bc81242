// A file past 4 GiB takes minutes of disk traffic, so this check is run by hand:
//   rq43_tests --gtest_also_run_disabled_tests --gtest_filter='*OpenDml*'
// RQ43_OPENDML_GIB sets the size (default 4.5); RQ43_OPENDML_KEEP=1 keeps the file for other readers.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <random>
#include <string>

#include "tools/avi.h"
#include "tools/codec_host.h"

namespace rq43::cli {
namespace {

TEST(AviFiles, DISABLED_OpenDmlPastFourGiBReadWhole) {
    const char* gib = std::getenv("RQ43_OPENDML_GIB");
    const double target = (gib ? std::atof(gib) : 4.5) * double(1 << 30);
    // One real key frame of noise, as large as the codec makes them, written over and over: the
    // container's work without the codec's.
    CompressorSetup setup;
    setup.width = 1920;
    setup.height = 1088;
    setup.quality = 100;
    Compressor compressor(setup);
    std::vector<uint8_t> picture(HostPictureBytes(HostFormat::Uyvy, setup.width, setup.height));
    std::mt19937 random(43);
    for (uint8_t& b : picture) b = static_cast<uint8_t>(random());
    CompressedFrame coded = compressor.Compress(picture.data(), true, 0);
    std::vector<uint8_t> frame = std::move(coded.bytes);
    const int64_t count = static_cast<int64_t>(target / double(frame.size())) + 1;

    const std::string path = (std::filesystem::temp_directory_path() / "rq43-opendml.avi").string();
    auto start = std::chrono::steady_clock::now();
    {
        AviWriter writer(path, path, compressor.Format(), 25, 1, nullptr);
        for (int64_t i = 0; i < count; ++i) writer.WriteFrame(frame.data(), frame.size(), true);
        writer.Finish();
    }
    const double writeSeconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    const auto bytes = std::filesystem::file_size(path);

    // Top-level chunks: one RIFF AVI, then RIFF AVIX ones, each indexed by the muxer.
    int riffs = 0;
    {
        std::FILE* file = std::fopen(path.c_str(), "rb");
        ASSERT_NE(file, nullptr);
        for (uint64_t pos = 0; pos < bytes; ++riffs) {
            uint8_t head[12];
            ASSERT_EQ(fseeko(file, static_cast<off_t>(pos), SEEK_SET), 0);
            ASSERT_EQ(std::fread(head, 1, 12, file), 12u);
            ASSERT_EQ(std::memcmp(head, "RIFF", 4), 0) << "at " << pos;
            EXPECT_EQ(std::memcmp(head + 8, riffs == 0 ? "AVI " : "AVIX", 4), 0) << "RIFF " << riffs;
            pos += 8 + (uint64_t{head[4]} | uint64_t{head[5]} << 8 | uint64_t{head[6]} << 16 |
                        uint64_t{head[7]} << 24);
        }
        std::fclose(file);
    }

    start = std::chrono::steady_clock::now();
    AviReader reader(path);
    AviFrame read;
    int64_t frames = 0, keys = 0;
    bool same = true;
    while (reader.Next(read)) {
        ++frames;
        keys += read.key ? 1 : 0;
        same = same && read.data == frame;
    }
    const double readSeconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    std::printf(
        "%s: %llu bytes, %d RIFF chunks, %lld frames of %zu bytes; written in %.1f s, read in %.1f s\n",
        path.c_str(), static_cast<unsigned long long>(bytes), riffs, static_cast<long long>(count),
        frame.size(), writeSeconds, readSeconds);
    EXPECT_GT(bytes, uint64_t{1} << 32);
    EXPECT_GT(riffs, 4);
    EXPECT_EQ(frames, count);
    EXPECT_EQ(keys, count);
    EXPECT_TRUE(same);
    EXPECT_FALSE(reader.Truncated());
    EXPECT_EQ(reader.AnnouncedFrames(), count);
    if (!std::getenv("RQ43_OPENDML_KEEP")) std::filesystem::remove(path);
}

}  // namespace
}  // namespace rq43::cli
