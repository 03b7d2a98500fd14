// Tests of the JSON writer's escapes, nesting and invalid UTF-8.
// SPDX-License-Identifier: GPL-3.0-or-later
#include "text/JsonWriter.h"

#include <gtest/gtest.h>

using namespace text;

TEST(JsonWriterTest, ValuesAreEscapedAndNested)
{
    JsonWriter json;
    json.beginObject();
    json.key("text");
    json.string("quote \" backslash \\ tab \t nl \n cr \r bell \x07 del \x7F \xC3\xA9");
    json.key("list");
    json.beginArray();
    json.number(-12);
    json.boolean(true);
    json.null();
    json.beginObject();
    json.endObject();
    json.beginArray();
    json.endArray();
    json.endArray();
    json.endObject();
    EXPECT_EQ(json.text(), "{\n"
                           "  \"text\": \"quote \\\" backslash \\\\ tab \\t nl \\n cr \\r bell "
                           "\\u0007 del \\u007f \xC3\xA9\",\n"
                           "  \"list\": [\n"
                           "    -12,\n"
                           "    true,\n"
                           "    null,\n"
                           "    {},\n"
                           "    []\n"
                           "  ]\n"
                           "}\n");
}

TEST(JsonWriterTest, BytesThatAreNotUtf8StayValidJsonAndReadBackFromHex)
{
    JsonWriter json;
    json.beginObject();
    json.bytesMember("path", "/t/caf\xE9\xC0\xAF.txt");  // Latin-1 and an overlong '/'
    json.bytesMember("fine", "/t/caf\xC3\xA9");
    json.endObject();
    EXPECT_EQ(json.text(), "{\n"
                           "  \"path\": \"/t/caf\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD.txt\",\n"
                           "  \"path_hex\": \"2f742f636166e9c0af2e747874\",\n"
                           "  \"fine\": \"/t/caf\xC3\xA9\"\n"
                           "}\n");
    EXPECT_TRUE(isValidUtf8(json.text()));
    EXPECT_FALSE(isValidUtf8("\xED\xA0\x80"));  // a surrogate
    EXPECT_TRUE(isValidUtf8("\xF0\x9F\x98\x80"));
}
