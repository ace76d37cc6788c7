#include "api/json_text.h"

#include <gtest/gtest.h>

#include <optional>

namespace tavro {
namespace {

using namespace std::string_literals;

TEST(JsonEscape, ShortEscapesAndUnicodeEscapesForOtherControls) {
    EXPECT_EQ(jsonEscape(""), "");
    EXPECT_EQ(jsonEscape("a\tb\nc\rd"), "a\\tb\\nc\\rd");
    EXPECT_EQ(jsonEscape("say \"hi\" \\ bye"), "say \\\"hi\\\" \\\\ bye");
    EXPECT_EQ(jsonEscape("\x01\x08\x0c\x1f"), "\\u0001\\u0008\\u000c\\u001f");
    EXPECT_EQ(jsonEscape("\0x"s), "\\u0000x");
}

TEST(JsonEscape, PrintableDeleteAndUtf8PassThrough) {
    EXPECT_EQ(jsonEscape("a/b"), "a/b");
    EXPECT_EQ(jsonEscape("\x7f"), "\x7f");
    EXPECT_EQ(jsonEscape("Jos\xC3\xA9 \xE2\x82\xAC \xF0\x9F\x98\x80"),
              "Jos\xC3\xA9 \xE2\x82\xAC \xF0\x9F\x98\x80");
    EXPECT_EQ(jsonEscape("\xff\x80"), "\xff\x80");  // not validated either
}

TEST(JsonFindValue, KeyMatchIgnoresCaseAndAcceptsStringOrBareValues) {
    const std::string reply =
        R"({"fileName":"/files/Tavro.zip","version":"2.4.1","BuildNumber":812,"ok":true})";
    EXPECT_EQ(jsonFindValue(reply, "FileName"), "/files/Tavro.zip");
    EXPECT_EQ(jsonFindValue(reply, "FILENAME"), "/files/Tavro.zip");
    EXPECT_EQ(jsonFindValue(reply, "Version"), "2.4.1");
    EXPECT_EQ(jsonFindValue(reply, "buildnumber"), "812");
    EXPECT_EQ(jsonFindValue(reply, "OK"), "true");
    EXPECT_EQ(jsonFindValue(R"({"BuildNumber":"812"})", "BuildNumber"), "812");
}

TEST(JsonFindValue, MissingKeyOrEmptyReplyGivesEmptyText) {
    EXPECT_EQ(jsonFindValue("", "FileName"), "");
    EXPECT_EQ(jsonFindValue("{}", "FileName"), "");
    EXPECT_EQ(jsonFindValue(R"({"File":"x"})", "FileName"), "");
    EXPECT_EQ(jsonFindValue(R"({"FileName")", "FileName"), "");      // no colon
    EXPECT_EQ(jsonFindValue(R"({"FileName":   )", "FileName"), "");  // only blanks
    EXPECT_EQ(jsonFindValue(R"("FileName)", "FileName"), "");        // token runs to the end
}

TEST(JsonFindValue, FirstMatchingTokenAnywhereDecidesEvenAValue) {
    // A value equal to the key matches first; the value read is the next member's.
    EXPECT_EQ(jsonFindValue(R"({"message":"Version","Version":"2.0"})", "Version"), "2.0");
    EXPECT_EQ(jsonFindValue(R"({"message":"Version","code":7,"Version":"2.0"})", "Version"), "7");
    // Nested keys count when they come first in the text.
    EXPECT_EQ(
        jsonFindValue(R"({"data":{"FileName":"inner.zip"},"FileName":"outer.zip"})", "FileName"),
        "inner.zip");
}

TEST(JsonFindValue, TokenEscapesKeepTheNextByteAndTheByteAfterTheQuoteIsSkipped) {
    // In a key token a backslash keeps the next byte as it is: "Ver\sion" reads as Version.
    EXPECT_EQ(jsonFindValue(R"({"Ver\sion":"1"})", "Version"), "1");
    EXPECT_EQ(jsonFindValue(R"({"Ver\"sion":"1"})", "Ver\"sion"), "1");
    // The byte after a closing quote is never the start of a token: here the quote that would
    // open "Version" is skipped, so the scanner pairs quotes differently and finds nothing.
    EXPECT_EQ(jsonFindValue(R"(["a""Version":"2"])", "Version"), "");
}

TEST(JsonReadValue, NullNumbersAndBareValues) {
    EXPECT_EQ(jsonFindValue(R"({"Version":null})", "Version"), "null");
    EXPECT_EQ(jsonFindValue(R"({"Version": false ,"x":1})", "Version"), "false");
    EXPECT_EQ(jsonFindValue(R"({"BuildNumber":-12.5e3})", "BuildNumber"), "-12.5e3");
    EXPECT_EQ(jsonFindValue(R"({"list":[1,2]})", "list"), "[1");
    EXPECT_EQ(jsonFindValue(R"({"list":[7]})", "list"), "[7]");  // ']' does not end it
    EXPECT_EQ(jsonFindValue(R"({"obj":{"a":1}})", "obj"), "{\"a\":1");
    EXPECT_EQ(jsonFindValue("{\"v\":\n\t 42\n}", "v"), "42");
    EXPECT_EQ(jsonFindValue(R"({"v":12)", "v"), "12");
    EXPECT_EQ(jsonFindValue(R"({"v":,"w":1})", "v"), "");
}

TEST(JsonReadValue, StringEscapesAreTranslatedExceptUnicodeAndShortForms) {
    EXPECT_EQ(jsonFindValue(R"({"v":"a\"b\\c\/d"})", "v"), "a\"b\\c/d");
    EXPECT_EQ(jsonFindValue(R"({"v":"1\n2\r3\t4"})", "v"), "1\n2\r3\t4");
    EXPECT_EQ(jsonFindValue(R"({"v":"\u0041\b\f"})", "v"), "u0041bf");
    EXPECT_EQ(jsonFindValue(R"({"v":"unterminated)", "v"), "unterminated");
    EXPECT_EQ(jsonFindValue("{\"v\":\"tail\\", "v"), "tail\\");
    EXPECT_EQ(jsonFindValue(R"({"v":""})", "v"), "");
}

TEST(JsonReadValue, PositionAtOrPastTheEnd) {
    EXPECT_EQ(jsonReadValue("{\"a\":1}", 7), "");
    EXPECT_EQ(jsonReadValue("{\"a\":1}", 100), "");
    EXPECT_EQ(jsonReadValue("{\"a\":1}", 4), "1");
    EXPECT_EQ(jsonReadValue("x:\"y\"", 0), "y");
}

TEST(JsonMemberValue, OnlyATopLevelMemberNameCountsNeverAValueOrANestedMember) {
    const std::string hex(64, 'a');
    // A value spelled like the name, and a digest-like value after it, are no member.
    EXPECT_EQ(jsonMemberValue(R"({"HashAlgorithm":"SHA256","FileName":"/p.zip"})", "Sha256"),
              std::nullopt);
    EXPECT_EQ(jsonMemberValue(R"({"HashAlgorithm":"SHA256","Checksum":")" + hex + "\"}", "Sha256"),
              std::nullopt);
    // Members of nested objects and arrays are skipped whole, strings with braces, brackets,
    // commas and escaped quotes inside them included; the top-level member is found after them.
    const std::string reply = R"( { "meta" : {"Sha256":"inner","list":[1,{"x":"]}\",{"}]},)"
                              R"( "note":"a \"Sha256\": b", "n":-1.5e3 , "flag":true,)"
                              R"( "sha256" : ")" +
                              hex + R"(", "Sha256":"second"})";
    EXPECT_EQ(jsonMemberValue(reply, "Sha256"), hex);
    EXPECT_EQ(jsonMemberValue(reply, "N"), "-1.5e3");
    EXPECT_EQ(jsonMemberValue(reply, "flag"), "true");
    EXPECT_EQ(jsonMemberValue(R"({"Sha256":null})", "Sha256"), "null");
    EXPECT_EQ(jsonMemberValue(R"({"Sha\u0032":"x","Sha\n":"y"})", "Shau0032"), "x");
    EXPECT_EQ(jsonMemberValue(R"({"Sha256":""})", "Sha256"), "");
}

TEST(JsonMemberValue, NoObjectOrAReplyBrokenBeforeTheMemberHasNone) {
    for (const char* reply :
         {"", "[]", R"(["Sha256",1])", R"("Sha256":"x")", "{}", R"({"Sha256")",
          R"({"a" "Sha256":1})", R"({"a":1 "Sha256":2})", R"({"a":,"Sha256":2})",
          R"({"a":{"b":1,"Sha256":2)", R"({"a":"open, "Sha256":2)", R"({"a":1},"Sha256":2})"}) {
        SCOPED_TRACE(reply);
        EXPECT_EQ(jsonMemberValue(reply, "Sha256"), std::nullopt);
    }
    // What comes after the member does not matter: it is read where it stands.
    EXPECT_EQ(jsonMemberValue(R"({"Sha256":"x" garbage)", "Sha256"), "x");
}

TEST(JsonText, EscapedValuesRoundTripThroughTheScanner) {
    for (const std::string& value : {"plain"s, "q\"uote"s, "back\\slash"s, "line\nfeed\ttab\rcr"s,
                                     "/a/b"s, "caf\xC3\xA9"s, ""s}) {
        const std::string reply = "{\"Email\":\"" + jsonEscape(value) + "\",\"x\":1}";
        EXPECT_EQ(jsonFindValue(reply, "email"), value);
    }
}

}  // namespace
}  // namespace tavro
