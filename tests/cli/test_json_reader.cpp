// The fleet reads its devices' vtbox lines back: what it takes and refuses.
#include <gtest/gtest.h>

#include "json_reader.hpp"

namespace {

TEST(JsonReader, ReadsVtboxLinesAndRefusesAnythingElseWhole) {
    vtcli::JsonFields f;
    ASSERT_TRUE(vtcli::ParseJsonObject(
        R"({"type":"summary","exitCode":6,"seconds":1.25,"ok":true,"text":"a \"b\"\\c\n\u00e9\ud83d\ude00","rows":[{"a":[1,{"b":null}]}],"e":{}})",
        &f));
    EXPECT_EQ(f.Text("type"), "summary");
    EXPECT_EQ(f.Integer("exitCode"), 6);
    EXPECT_DOUBLE_EQ(f.Number("seconds"), 1.25);
    EXPECT_EQ(f.Text("ok"), "true");
    EXPECT_EQ(f.Text("text"), "a \"b\"\\c\n\xc3\xa9\xf0\x9f\x98\x80");
    EXPECT_EQ(f.Text("rows"), R"([{"a":[1,{"b":null}]}])");
    EXPECT_EQ(f.Integer("missing", -1), -1);
    EXPECT_EQ(f.Integer("text", -1), -1);

    std::string deep(100, '[');
    for (const std::string &bad :
         {std::string(R"({"a":1} x)"), std::string(R"({"a":"tab	in"})"), std::string(R"({"a":"\ud800"})"),
          std::string(R"({"a":"\q"})"), std::string(R"({"a":01x})"), std::string(R"({"a":})"), std::string("{\"a\":1"),
          std::string("[1]"), "{\"a\":" + deep, "{\"a\":\"" + std::string(vtcli::kMaxJsonLineBytes, 'x') + "\"}"}) {
        EXPECT_FALSE(vtcli::ParseJsonObject(bad, &f)) << bad.substr(0, 60);
        EXPECT_TRUE(f.values.empty());
    }
}

}  // namespace
