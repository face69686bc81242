#include "tools/y4m.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "tools/cli_errors.h"

namespace rq43::cli {
namespace {

// A stream in memory, readable as a FILE.
struct MemoryFile {
    explicit MemoryFile(const std::string& text) : file(fmemopen(nullptr, text.size() + 1, "w+")) {
        std::fwrite(text.data(), 1, text.size(), file);
        std::rewind(file);
    }
    ~MemoryFile() { std::fclose(file); }
    std::FILE* file;
};

TEST(Y4mReader, ParsesSizeRateAndChroma) {
    MemoryFile in("YUV4MPEG2 W6 H4 F30000:1001 It A1:1 C420mpeg2 XYSCSS=420MPEG2\n");
    Y4mReader reader(in.file, "in");
    EXPECT_EQ(reader.Header().width, 6);
    EXPECT_EQ(reader.Header().height, 4);
    EXPECT_EQ(reader.Header().rateNum, 30000u);
    EXPECT_EQ(reader.Header().rateDen, 1001u);
    EXPECT_EQ(reader.Header().chroma, Y4mChroma::C420);
    EXPECT_EQ(reader.LumaBytes(), 24u);
    EXPECT_EQ(reader.ChromaBytes(), 6u);
}

TEST(Y4mReader, ChromaLayoutsAndOddSizes) {
    struct Case {
        const char* tag;
        Y4mChroma chroma;
        size_t chromaBytes;  // for 5x3
    };
    for (const Case& c : {Case{"420jpeg", Y4mChroma::C420, 6}, Case{"420paldv", Y4mChroma::C420, 6},
                          Case{"422", Y4mChroma::C422, 9}, Case{"444", Y4mChroma::C444, 15},
                          Case{"mono", Y4mChroma::Mono, 0}}) {
        MemoryFile in(std::string("YUV4MPEG2 W5 H3 C") + c.tag + "\n");
        Y4mReader reader(in.file, "in");
        EXPECT_EQ(reader.Header().chroma, c.chroma) << c.tag;
        EXPECT_EQ(reader.ChromaBytes(), c.chromaBytes) << c.tag;
    }
}

TEST(Y4mReader, RefusesMalformedHeaders) {
    for (const char* text : {"", "YUV4MPEG W2 H2\n", "YUV4MPEG2 W2\n", "YUV4MPEG2 W0 H2\n", "YUV4MPEG2 W-2 H2\n",
                             "YUV4MPEG2 W2x H2\n", "YUV4MPEG2 W99999 H2\n", "YUV4MPEG2 W2 H2 F25:0\n",
                             "YUV4MPEG2 W2 H2 C420p10\n", "YUV4MPEG2 W2 H2 C411\n", "YUV4MPEG2 W2 H2"}) {
        MemoryFile in(text);
        EXPECT_THROW(Y4mReader(in.file, "in"), Failure) << text;
    }
}

TEST(Y4mReader, FramesThenCleanEndOrTruncation) {
    std::string picture(6, 'a');
    MemoryFile in("YUV4MPEG2 W2 H2\nFRAME\n" + picture + "FRAME Ixyz\n" + picture + "FRAME\nabc");
    Y4mReader reader(in.file, "in");
    std::vector<uint8_t> planes;
    ASSERT_TRUE(reader.ReadFrame(planes));
    EXPECT_EQ(planes.size(), 6u);
    ASSERT_TRUE(reader.ReadFrame(planes));  // frame parameters are allowed
    EXPECT_THROW(reader.ReadFrame(planes), Failure);

    MemoryFile clean("YUV4MPEG2 W2 H2\nFRAME\n" + picture);
    Y4mReader cleanReader(clean.file, "in");
    ASSERT_TRUE(cleanReader.ReadFrame(planes));
    EXPECT_FALSE(cleanReader.ReadFrame(planes));

    MemoryFile garbage("YUV4MPEG2 W2 H2\nFRAMX\n" + picture);
    Y4mReader garbageReader(garbage.file, "in");
    EXPECT_THROW(garbageReader.ReadFrame(planes), Failure);
}

TEST(Y4mWriter, WritesWhatTheReaderReads) {
    std::FILE* file = std::tmpfile();
    ASSERT_NE(file, nullptr);
    Picture420 picture;
    picture.Allocate(4, 2);
    for (size_t i = 0; i < picture.y.size(); ++i) picture.y[i] = static_cast<uint8_t>(i);
    picture.u = {200, 201};
    picture.v = {100, 101};
    Y4mWriter writer(file, "out", 4, 2, 25, 1);
    writer.WriteFrame(picture);
    writer.WriteFrame(picture);
    std::rewind(file);
    Y4mReader reader(file, "out");
    EXPECT_EQ(reader.Header().width, 4);
    EXPECT_EQ(reader.Header().rateNum, 25u);
    std::vector<uint8_t> planes;
    for (int i = 0; i < 2; ++i) {
        ASSERT_TRUE(reader.ReadFrame(planes));
        EXPECT_EQ(planes, ConcatenatePlanes(picture));
    }
    EXPECT_FALSE(reader.ReadFrame(planes));
    std::fclose(file);
}

}  // namespace
}  // namespace rq43::cli
