#include "cli/json_writer.h"
#include "cli/text_escape.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

namespace hgt::cli::test {
namespace json_writer_test {

// A name may hold any byte but '/' and NUL: nothing in it may move the cursor or end a line.
TEST(Printable, EscapesWhatATerminalWouldActOnAndKeepsTheRest)
{
    EXPECT_EQ(Printable("/daten/Höhen/„N47E011“.hgt"), "/daten/Höhen/„N47E011“.hgt");
#ifdef _WIN32
    EXPECT_EQ(Printable("a\nb\tc\rd\\e"), "a\\nb\\tc\\rd\\e"); // the backslash separates folders there
#else
    EXPECT_EQ(Printable("a\nb\tc\rd\\e"), "a\\nb\\tc\\rd\\\\e");
#endif
    EXPECT_EQ(Printable("\x1b[31mrot\x7f"), "\\033[31mrot\\177");
    EXPECT_EQ(Printable("\xc2\x9b"
                        "2J"),
              "\\302\\2332J"); // the one-byte CSI of C1
    EXPECT_EQ(Printable("H\xf6he\xe2\x82"), "H\\366he\\342\\202");
    EXPECT_EQ(JsonWriter().addPath("path", "ok.hgt").str(), R"({"path":"ok.hgt"})");
    EXPECT_EQ(JsonWriter().addPath("path", "H\xf6he").str(), R"({"path":"H\ufffdhe","path_bytes":"48f66865"})");
}

TEST(JsonString, EscapesWhatJsonForbidsAndKeepsTheRest)
{
    EXPECT_EQ(JsonString("N47E011.hgt"), R"("N47E011.hgt")");
    EXPECT_EQ(JsonString("a\"b\\c"), R"("a\"b\\c")");
    EXPECT_EQ(JsonString("line\nnext\r\ttab"), R"("line\nnext\r\ttab")");
    EXPECT_EQ(JsonString(std::string("\x01\x1f\x7f", 3)), "\"\\u0001\\u001f\x7f\"");
    EXPECT_EQ(JsonString(std::string("nul\0byte", 8)), R"("nul\u0000byte")");
    EXPECT_EQ(JsonString("/daten/Höhen/Löcher"), "\"/daten/Höhen/Löcher\"");
    EXPECT_EQ(JsonString("„€“ 𝄞"), "\"„€“ 𝄞\"");
}

TEST(JsonString, ReplacesBytesThatAreNotUtf8)
{
    // A Latin-1 file name, a lone continuation byte, a cut-off sequence at the end, an overlong
    // slash, an encoded surrogate and a code point past U+10FFFF.
    EXPECT_EQ(JsonString("H\xf6he.hgt"), R"("H\ufffdhe.hgt")");
    EXPECT_EQ(JsonString("\x80x"), R"("\ufffdx")");
    EXPECT_EQ(JsonString("ab\xe2\x82"), R"("ab\ufffd\ufffd")");
    EXPECT_EQ(JsonString("\xc0\xaf"), R"("\ufffd\ufffd")");
    EXPECT_EQ(JsonString("\xed\xa0\x80"), R"("\ufffd\ufffd\ufffd")");
    EXPECT_EQ(JsonString("\xf4\x90\x80\x80"), R"("\ufffd\ufffd\ufffd\ufffd")");
}

TEST(JsonWriter, WritesFieldsInOrderWithJsonNumbers)
{
    const std::string json = JsonWriter()
                                 .add("name", "N47E011.hgt")
                                 .add("voids", std::int64_t{-9999})
                                 .add("ok", true)
                                 .add("seconds", 0.1235, 3)
                                 .add("mean", 1234567.5, 1)
                                 .add("none", std::optional<std::int64_t>{})
                                 .add("nan", std::nan(""), 3)
                                 .add("inf", std::numeric_limits<double>::infinity(), 3)
                                 .str();
    EXPECT_EQ(json, R"({"name":"N47E011.hgt","voids":-9999,"ok":true,"seconds":0.123,"mean":1234567.5,)"
                    R"("none":null,"nan":null,"inf":null})");
    EXPECT_EQ(JsonWriter().str(), "{}");
}

} // namespace json_writer_test
} // namespace hgt::cli::test
