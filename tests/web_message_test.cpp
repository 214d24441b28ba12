// The browser's JSON messages: what the parser takes and refuses, the bridge into the OSC address
// table (the same conversions and handlers as an OSC message), the state written back as JSON, and
// the fuzzer's kept inputs replayed through the whole program.
#include <gtest/gtest.h>

#include <dirent.h>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>

#include "harness/Harness.h"
#include "mixer/Decks.h"
#include "remote/OscAddresses.h"
#include "web/WebMessage.h"

namespace {

struct ParseCase {
    const char* text;
    const char* address;  // nullptr: refused
    const char* types;
};

TEST(WebMessage, ParserTakesOnlyTheMessageForm) {
    const ParseCase cases[] = {
        {R"({"address":"/loopmixer/fade","args":[0.5]})", "/loopmixer/fade", "f"},
        {" { \"args\" : [ 1 , -2 ] , \"address\" : \"/a/b\" } \n", "/a/b", "ii"},
        {R"({"address":"/loopmixer/flash"})", "/loopmixer/flash", ""},
        {R"({"address":"/x","args":[]})", "/x", ""},
        {R"({"address":"/x","args":[true,false,"A",1e2,1.0,2147483648,-0]})", nullptr, nullptr},  // 7 > 4
        {R"({"address":"/x","args":[true,"A",1e2,2147483648]})", "/x", "isff"},
        {R"({"address":"/x","args":["\u00e9\n\"\\"]})", "/x", "s"},
        {R"({"address":"/x","args":["\u0000"]})", nullptr, nullptr},
        {R"({"address":"/x","args":["\ud800"]})", nullptr, nullptr},
        {R"({"address":"/x","args":[null]})", nullptr, nullptr},
        {R"({"address":"/x","args":[[1]]})", nullptr, nullptr},
        {R"({"address":"/x","args":[{"a":1}]})", nullptr, nullptr},
        {R"({"address":"/x","args":[1e39]})", nullptr, nullptr},
        {R"({"address":"/x","args":[01]})", nullptr, nullptr},
        {R"({"address":"/x","args":[1.]})", nullptr, nullptr},
        {R"({"address":"/x","args":[NaN]})", nullptr, nullptr},
        {R"({"address":"/x","args":[1,]})", nullptr, nullptr},
        {R"({"address":"/x","other":1})", nullptr, nullptr},
        {R"({"address":"/x","address":"/y"})", nullptr, nullptr},
        {R"({"args":[1]})", nullptr, nullptr},
        {R"({"address":"x"})", nullptr, nullptr},
        {R"({"address":"/a b"})", nullptr, nullptr},
        {R"({"address":5})", nullptr, nullptr},
        {R"({"address":"/x"} {})", nullptr, nullptr},
        {R"({"address":"/x")", nullptr, nullptr},
        {R"(["/x",1])", nullptr, nullptr},
        {"", nullptr, nullptr},
    };
    for (const ParseCase& c : cases) {
        WebMessage m;
        const bool taken = parseWebMessage(c.text, strlen(c.text), m);
        EXPECT_EQ(taken, c.address != nullptr) << c.text;
        if (!taken || !c.address) continue;
        EXPECT_STREQ(m.address, c.address) << c.text;
        EXPECT_STREQ(m.types, c.types) << c.text;
    }
    // Bounds: an address and a string at their limits and one past them, a message past its size.
    const std::string address(MaxOscAddressChars, 'a'), text(MaxWebStringChars, 'b');
    WebMessage m;
    const std::string atLimit = "{\"address\":\"/" + address.substr(1) + "\",\"args\":[\"" + text + "\"]}";
    EXPECT_TRUE(parseWebMessage(atLimit.data(), atLimit.size(), m));
    EXPECT_EQ(strlen(m.strings[0]), size_t(MaxWebStringChars));
    const std::string longAddress = "{\"address\":\"/" + address + "\"}";
    const std::string longText = "{\"address\":\"/x\",\"args\":[\"" + text + "b\"]}";
    EXPECT_FALSE(parseWebMessage(longAddress.data(), longAddress.size(), m));
    EXPECT_FALSE(parseWebMessage(longText.data(), longText.size(), m));
    const std::string padded = "{\"address\":\"/x\"}" + std::string(MaxWebMessageBytes, ' ');
    EXPECT_FALSE(parseWebMessage(padded.data(), padded.size(), m));
}

OscArg received[MaxOscArgs];
std::string receivedText;  // a string argument lives only while its handler runs
int calls = 0;
bool recordArgs(const OscArg* args, int32_t) {
    calls++;
    for (int k = 0; k < 3; k++) received[k] = args[k];
    receivedText = args[2].s;
    return true;
}

TEST(WebMessage, DispatchConvertsAsOscDoes) {
    ASSERT_TRUE(addOscAddress("/test/web", "ifs", recordArgs));
    WebMessage m;
    const char text[] = R"({"address":"/test/web","args":[3.0,2,"B"]})";
    ASSERT_TRUE(parseWebMessage(text, sizeof text - 1, m));
    EXPECT_TRUE(dispatchWebMessage(m));
    EXPECT_EQ(received[0].i, 3);      // a whole float taken as an int
    EXPECT_EQ(received[1].f, 2.0f);   // an int taken as a float
    EXPECT_EQ(receivedText, "B");
    const char wrong[] = R"({"address":"/test/web","args":[3.5,2,"B"]})";
    ASSERT_TRUE(parseWebMessage(wrong, sizeof wrong - 1, m));
    EXPECT_FALSE(dispatchWebMessage(m));
    EXPECT_EQ(calls, 1);
}

TEST(WebMessage, StateIsWrittenAsMessagesTheParserReadsBack) {
    OscArg i, f, s;
    i.i = -7;
    f.f = 0.25f;
    s.s = "say \"hi\"\\\n";
    const struct {
        char type;
        OscArg value;
        const char* json;
    } cases[] = {{'i', i, R"({"address":"/a","args":[-7]})"},
                 {'f', f, R"({"address":"/a","args":[0.25]})"},
                 {'s', s, R"({"address":"/a","args":["say \"hi\"\\\u000a"]})"}};
    for (const auto& c : cases) {
        const std::string json = webMessageJson("/a", c.type, c.value);
        EXPECT_EQ(json, c.json);
        WebMessage m;
        ASSERT_TRUE(parseWebMessage(json.data(), json.size(), m)) << json;
        if (c.type == 's') {
            EXPECT_STREQ(m.strings[0], s.s);
        }
    }
}

TEST(WebFuzzCorpus, EveryKeptInputIsHandledSafely) {
    Harness h(HarnessOptions::withoutPictures());
    const std::string folder = std::string(LOOPMIXER_SOURCE_DIR) + "/fuzz/corpus/web_fuzz";
    DIR* d = opendir(folder.c_str());
    ASSERT_NE(d, nullptr);
    int replayed = 0;
    while (dirent* e = readdir(d)) {
        if (e->d_name[0] == '.') continue;
        std::ifstream in(folder + "/" + e->d_name, std::ios::binary);
        std::stringstream bytes;
        bytes << in.rdbuf();
        const std::string text = bytes.str();
        WebMessage m;
        if (parseWebMessage(text.data(), text.size(), m)) dispatchWebMessage(m);
        h.frame();
        replayed++;
    }
    closedir(d);
    EXPECT_GT(replayed, 0);
    EXPECT_TRUE(decks.fade >= 0 && decks.fade <= 15);
}

}  // namespace
