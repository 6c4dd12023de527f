#include "upload/ftp_reply.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstddef>
#include <functional>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

namespace vistrel {
namespace {

using Lines = std::vector<std::string>;

// ---- Reading replies and their parts -------------------------------------

TEST(Ftp_Reply_Reading, Ends_At_A_Short_Number_Or_A_Code_Followed_By_A_Blank) {
    const std::pair<const char*, bool> cases[] = {
        {"220 ready", true}, {"220", true},     {"22", true},      {"226 ", true},
        {"220-more", false}, {"", false},       {"2204 x", false}, {" 220 x", false},
        {"abc d", false},    {"22a ok", false}, {"End", false},    {"2x0", false},
    };
    for (const auto& [line, ends] : cases) {
        SCOPED_TRACE(std::string("'") + line + "'");
        EXPECT_EQ(Ends_Reply(line), ends);
    }
}

TEST(Ftp_Reply_Reading, Reads_One_Reply_With_Its_Code_And_Text_Lines) {
    struct Case {
        Lines lines; // what the connection holds; the reply need not use all
        size_t used;
        int code;
        Lines text;
    };
    const Case cases[] = {
        {{"220 Service ready", "next"}, 1, 220, {"Service ready"}},
        {{"", "", "   230 Logged in   "}, 3, 230, {"Logged in"}},
        {{"250"}, 1, 250, {""}},
        {{"211-Features:", " MDTM", " PRET", "211 End", "200 next"},
         4,
         211,
         {"Features:", "MDTM", "PRET", "End"}},
        {{"230-Welcome", "230-to the camera", "230 server"},
         3,
         230,
         {"Welcome", "to the camera", "server"}},
        // An indented line that looks like a code does not end the reply.
        {{"550-Cannot", "   450 inner", "550 End"}, 3, 550, {"Cannot", "450 inner", "End"}},
        {{"257-\"/a\"", "257"}, 2, 257, {"\"/a\"", ""}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.lines.front().empty() ? c.lines.back() : c.lines.front());
        size_t used = 0;
        const Ftp_Reply reply = Read_Reply([&] { return c.lines.at(used++); });
        EXPECT_EQ(used, c.used);
        EXPECT_EQ(reply.Code, c.code);
        EXPECT_EQ(reply.Text, c.text);
    }
    Ftp_Reply multi;
    multi.Text = {"Cannot create", "No permission"};
    EXPECT_EQ(multi.Joined_Text(), "Cannot create\nNo permission");
}

TEST(Ftp_Reply_Reading, Gives_Up_On_A_Reply_That_Never_Ends) {
    // Continuation lines for ever, or blank lines before a reply that never
    // comes.
    for (const std::string& forever :
         {"211-" + std::string(1000, 'x'), std::string(), std::string("  ")}) {
        SCOPED_TRACE("line of " + std::to_string(forever.size()));
        size_t served = 0;
        const auto endless = [&] {
            if (++served * (forever.size() + 2) > 16 * kMax_Reply_Size)
                throw std::runtime_error("the reply is still being read");
            return forever;
        };
        EXPECT_THROW(Read_Reply(endless), Socket_Error);
        EXPECT_LE(served * (forever.size() + 2), kMax_Reply_Size + forever.size() + 2);
    }

    const std::string line = "211-" + std::string(1000, 'x');
    size_t served = 0;

    // A long reply that ends within the limit still reads.
    const size_t count = kMax_Reply_Size / (line.size() + 2) - 1;
    served = 0;
    const Ftp_Reply reply = Read_Reply([&] { return ++served <= count ? line : "211 End"; });
    EXPECT_EQ(reply.Code, 211);
    EXPECT_EQ(reply.Text.size(), count + 1);
}

TEST(Parse_PWD, Takes_The_Text_Between_The_First_Two_Quotes) {
    const std::pair<const char*, const char*> cases[] = {
        {"\"/pictures/cam\" is current directory.", "/pictures/cam"},
        {"\"/\" is your current location", "/"},
        {"/pictures/cam is current", ""},
        {"\"/unterminated", ""},
        {"\"/my \"\"quoted\"\" dir\" is current", "/my "},
        {"MKD: \"/a b\" created", "/a b"},
        {"", ""},
    };
    for (const auto& [text, folder] : cases) {
        SCOPED_TRACE(text);
        EXPECT_EQ(Parse_PWD(text), folder);
    }
}

TEST(Parse_PASV, Reads_Address_And_Port_With_Or_Without_Parentheses) {
    struct Case {
        const char* text;
        const char* host;
        uint16_t port;
    };
    const Case cases[] = {
        {"Entering Passive Mode (192,168,1,10,195,80)", "192.168.1.10", 50000},
        {"Entering Passive Mode (192,168,1,10,195,80).", "192.168.1.10", 50000},
        {"  Entering Passive Mode 10,0,0,7,4,1  ", "10.0.0.7", 1025},
        {"127,0,0,1,0,21", "127.0.0.1", 21},
        {"Passive (127, 0, 0, 1, 255, 255) ok", "127.0.0.1", 65535},
        {"(1,2,3,4,5,6,7)", "1.2.3.4", 1286},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        const Pasv_Address address = Parse_PASV(c.text);
        EXPECT_EQ(address.Host, c.host);
        EXPECT_EQ(address.Port, c.port);
    }
}

TEST(Parse_PASV, Fails_On_Text_Without_Six_Numbers) {
    const char* const cases[] = {
        "Entering Passive Mode",
        "(192,168,1,10,195)",
        "(192,168,1,10,195,256)",
        "(a,b,c,d,e,f)",
        "",
        "(192,168,,10,195,80)",
        "(1,2,3,4,5,-6)",
        "Entering Passive Mode =127,0,0,1,0,21",
    };
    for (const char* text : cases) {
        SCOPED_TRACE(text);
        try {
            Parse_PASV(text);
            ADD_FAILURE() << "accepted";
        } catch (const FTP_Error& e) {
            EXPECT_EQ(e.Code(), 0);
        }
    }
}

TEST(Split_Listing, Splits_At_Any_Line_Break) {
    const std::pair<std::string, Lines> cases[] = {
        {"a\r\nb\r\n", {"a", "b"}},     {"a\nb", {"a", "b"}},       {"a\rb\r", {"a", "b"}},
        {"a\r\n\r\nb", {"a", "", "b"}}, {"a\n\rb", {"a", "", "b"}}, {"", {}},
        {"one line", {"one line"}},
    };
    for (const auto& [bytes, lines] : cases) {
        SCOPED_TRACE(bytes);
        EXPECT_EQ(Split_Listing(bytes), lines);
    }
}

TEST(Parse_EPSV, Reads_The_Port_Between_The_Delimiters) {
    const std::pair<const char*, int> cases[] = {
        {"Entering Extended Passive Mode (|||50000|)", 50000},
        {"Entering Extended Passive Mode (!!!1025!).", 1025},
        {"(|||65535|)", 65535},
        {"Entering Extended Passive Mode", 0},
        {"(||50000|)", 0},
        {"(|||50000)", 0},
        {"(|||0|)", 0},
        {"(|||65536|)", 0},
        {"(|||5a|)", 0},
        {"(111501)", 0},
        {"(|||", 0},
    };
    for (const auto& [text, port] : cases) {
        SCOPED_TRACE(text);
        if (port == 0) {
            EXPECT_THROW(Parse_EPSV(text), FTP_Error);
        } else {
            EXPECT_EQ(Parse_EPSV(text), port);
        }
    }
}

TEST(Lists_Feature, Finds_A_Feature_Whatever_Its_Case_Padding_And_Parameters) {
    const Lines features = {" MDTM", " pret", "  REST STREAM", "UTF8", " SIZE  "};
    const std::pair<const char*, bool> cases[] = {
        {"PRET", true}, {"REST", true},  {"MDTM", true},    {"UTF8", true},
        {"SIZE", true}, {"MLST", false}, {"STREAM", false}, {"", false},
    };
    for (const auto& [name, listed] : cases) {
        SCOPED_TRACE(name);
        EXPECT_EQ(Lists_Feature(features, name), listed);
    }
    EXPECT_FALSE(Lists_Feature({}, "PRET"));
}

TEST(Reply_Texts, The_Small_Pieces_A_Command_And_Its_Reply_Are_Read_With) {
    const std::pair<const char*, const char*> words[] = {
        {"STOR a b.jpg", "STOR"}, {"PWD", "PWD"}, {"", ""}, {" CWD x", ""}};
    for (const auto& [line, word] : words) {
        SCOPED_TRACE(line);
        EXPECT_EQ(First_Word(line), word);
    }
    const std::pair<const char*, const char*> trims[] = {
        {"  227 x  ", "227 x"}, {"   ", ""}, {"", ""}, {"\tx ", "\tx"}, {"a  b", "a  b"}};
    for (const auto& [text, trimmed] : trims) {
        SCOPED_TRACE(text);
        EXPECT_EQ(Trim_Blanks(text), trimmed);
    }
    const std::pair<const char*, bool> digits[] = {
        {"0123456789", true}, {"", true}, {"12a", false}, {" 1", false}, {"-1", false}};
    for (const auto& [text, all] : digits) {
        SCOPED_TRACE(text);
        EXPECT_EQ(All_Digits(text), all);
    }
    EXPECT_EQ(First_Text(Ftp_Reply{257, {"\"/\" is current.", "more"}}), "\"/\" is current.");
    EXPECT_EQ(First_Text(Ftp_Reply{200, {}}), "");
    EXPECT_TRUE(Is_One_Of(250, {200, 250}));
    EXPECT_FALSE(Is_One_Of(257, {200, 250}));
    EXPECT_FALSE(Is_One_Of(200, {}));
}

TEST(Seconds_Text, Says_Whole_Seconds_In_Seconds_And_The_Rest_In_Milliseconds) {
    using std::chrono::milliseconds;
    const std::pair<milliseconds, const char*> cases[] = {{milliseconds(15000), "15 s"},
                                                          {milliseconds(1000), "1 s"},
                                                          {milliseconds(0), "0 s"},
                                                          {milliseconds(250), "250 ms"},
                                                          {milliseconds(1500), "1500 ms"}};
    for (const auto& [limit, text] : cases) {
        SCOPED_TRACE(text);
        EXPECT_EQ(Seconds_Text(limit), text);
    }
}

} // namespace
} // namespace vistrel
