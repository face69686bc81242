#include "tools/avi.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <string>
#include <unistd.h>
#include <vector>

#include "tools/cli_errors.h"

namespace rq43::cli {
namespace {

class AviTest : public ::testing::Test {
protected:
    void SetUp() override {
        char pattern[] = "/tmp/rq43-avi-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        dir = pattern;
    }
    void TearDown() override { std::system(("rm -rf " + dir).c_str()); }

    static BITMAPINFOHEADER Format() {
        BITMAPINFOHEADER f{};
        f.biSize = 40;
        f.biWidth = 48;
        f.biHeight = 32;
        f.biPlanes = 1;
        f.biBitCount = 24;
        f.biCompression = FOURCC_RQ43;
        f.biSizeImage = 48 * 32 * 3;
        return f;
    }
    // A frame whose second byte, like a real frame header's, is its key flag.
    static std::vector<uint8_t> Frame(size_t size, bool key, uint8_t fill) {
        std::vector<uint8_t> data(size, fill);
        if (size > 1) data[1] = key ? 1 : 0;
        return data;
    }
    std::string Write(const std::vector<std::vector<uint8_t>>& frames, const std::vector<bool>& keys) {
        std::string path = dir + "/clip.avi";
        AviWriter writer(path, Format(), 30000, 1001);
        for (size_t i = 0; i < frames.size(); ++i) writer.WriteFrame(frames[i].data(), frames[i].size(), keys[i]);
        writer.Finish();
        return path;
    }
    static std::vector<uint8_t> Slurp(const std::string& path) {
        std::ifstream in(path, std::ios::binary);
        return {std::istreambuf_iterator<char>(in), {}};
    }
    void Spit(const std::string& path, const std::vector<uint8_t>& bytes) {
        std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()),
                                                    static_cast<std::streamsize>(bytes.size()));
    }
    std::string dir;
};

TEST_F(AviTest, WrittenFramesReadBackWithFlagsRateAndFormat) {
    // Odd sizes exercise the chunk padding; the empty frame is a dropped frame.
    std::vector<std::vector<uint8_t>> frames = {Frame(101, true, 1), Frame(40, false, 2), Frame(0, false, 0),
                                                Frame(7, true, 4)};
    std::string path = Write(frames, {true, false, false, true});
    AviReader reader(path);
    EXPECT_FALSE(reader.Truncated());
    EXPECT_EQ(reader.Rate(), 30000u);
    EXPECT_EQ(reader.Scale(), 1001u);
    EXPECT_EQ(reader.Format().biCompression, FOURCC_RQ43);
    EXPECT_EQ(reader.Format().biWidth, 48);
    EXPECT_EQ(reader.Format().biHeight, 32);
    ASSERT_EQ(reader.Frames().size(), frames.size());
    std::vector<uint8_t> data;
    for (size_t i = 0; i < frames.size(); ++i) {
        ASSERT_TRUE(reader.ReadFrame(i, data));
        EXPECT_EQ(data, frames[i]) << "frame " << i;
        EXPECT_EQ(reader.Frames()[i].key, i == 0 || i == 3) << "frame " << i;
    }
}

TEST_F(AviTest, KeyFlagsComeFromTheIndexNotTheFrameBytes) {
    // The index says delta although the frame's own byte says key: a container's flags win.
    std::string path = Write({Frame(20, true, 1), Frame(20, true, 1)}, {true, false});
    AviReader reader(path);
    EXPECT_TRUE(reader.Frames()[0].key);
    EXPECT_FALSE(reader.Frames()[1].key);
}

TEST_F(AviTest, WithoutAnIndexTheFrameHeaderGivesTheKeyFlag) {
    std::string path = Write({Frame(20, true, 1), Frame(21, false, 1), Frame(22, true, 1)}, {true, false, true});
    std::vector<uint8_t> bytes = Slurp(path);
    // Rename idx1 to JUNK: the reader must skip it as an unknown chunk.
    size_t idx = std::string(bytes.begin(), bytes.end()).rfind("idx1");
    ASSERT_NE(idx, std::string::npos);
    std::memcpy(&bytes[idx], "JUNK", 4);
    Spit(path, bytes);
    AviReader reader(path);
    ASSERT_EQ(reader.Frames().size(), 3u);
    EXPECT_TRUE(reader.Frames()[0].key);
    EXPECT_FALSE(reader.Frames()[1].key);
    EXPECT_TRUE(reader.Frames()[2].key);
}

TEST_F(AviTest, TruncatedFileKeepsWhatIsThereAndSaysSo) {
    std::string path = Write({Frame(300, true, 1), Frame(300, false, 2)}, {true, false});
    std::vector<uint8_t> bytes = Slurp(path);
    bytes.resize(bytes.size() - 16 * 2 - 8 - 150);  // no index, and half of the last frame
    Spit(path, bytes);
    AviReader reader(path);
    EXPECT_TRUE(reader.Truncated());
    ASSERT_EQ(reader.Frames().size(), 2u);
    EXPECT_EQ(reader.Frames()[0].available, 300u);
    EXPECT_EQ(reader.Frames()[1].size, 300u);
    EXPECT_LT(reader.Frames()[1].available, 300u);
    std::vector<uint8_t> data;
    ASSERT_TRUE(reader.ReadFrame(1, data));
    EXPECT_EQ(data.size(), reader.Frames()[1].available);
}

TEST_F(AviTest, HugeDeclaredSizesAreBoundedByTheFile) {
    std::string path = Write({Frame(30, true, 1)}, {true});
    std::vector<uint8_t> bytes = Slurp(path);
    size_t chunk = std::string(bytes.begin(), bytes.end()).find("00dc");
    ASSERT_NE(chunk, std::string::npos);
    std::memset(&bytes[chunk + 4], 0xff, 4);  // the frame claims 4 GiB
    Spit(path, bytes);
    AviReader reader(path);
    ASSERT_EQ(reader.Frames().size(), 1u);
    EXPECT_TRUE(reader.Truncated());
    EXPECT_LE(reader.Frames()[0].available, bytes.size());
}

TEST_F(AviTest, RefusesWhatIsNotAnAviVideo) {
    std::string path = dir + "/x.avi";
    Spit(path, {'R', 'I', 'F', 'F', 4, 0, 0, 0, 'W', 'A', 'V', 'E'});
    EXPECT_THROW(AviReader{path}, Failure);
    Spit(path, {});
    EXPECT_THROW(AviReader{path}, Failure);
    // A RIFF AVI without any stream list.
    Spit(path, {'R', 'I', 'F', 'F', 4, 0, 0, 0, 'A', 'V', 'I', ' '});
    try {
        AviReader reader(path);
        FAIL() << "accepted an AVI without a video stream";
    } catch (const Failure& e) {
        EXPECT_NE(std::string(e.what()).find("no video stream"), std::string::npos) << e.what();
    }
    EXPECT_THROW(AviReader{dir + "/missing.avi"}, Failure);
    EXPECT_THROW(AviReader{dir}, Failure);
}

}  // namespace
}  // namespace rq43::cli
