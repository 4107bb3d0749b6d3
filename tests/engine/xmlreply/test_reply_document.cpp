#include <gtest/gtest.h>

#include <string>

#include "debug_capture.hpp"
#include "session/result.hpp"
#include "xmlreply/reply_document.hpp"

namespace {

using vtbox::ReplyDocumentPtr;

ReplyDocumentPtr Load(const std::string &xml) { return vtbox::LoadReplyDocument(xml.data(), xml.size()); }

uint32_t ResultCode(const std::string &text) {
    try {
        vtbox::CheckBoxResult(text);
        return 0;
    } catch (const vtbox::BoxError &e) {
        return e.code();
    }
}

TEST(CheckBoxResult, EveryRowOfTheTable) {
    struct Row {
        const char *result;
        uint32_t code;
        const char *name;
    } rows[] = {
        {"0", 0, nullptr},
        {"1", 8, nullptr},
        {"2", 1216, nullptr},
        {"100", 1460, "S_BOXNW_BOX_ACCESS_ERROR"},
        {"101", 161, nullptr},
        {"102", 4351, "S_BOXNW_WEB_SESSION_INIT_ERROR"},
        {"105", 100, "S_BOXNW_WEB_EX_ERROR"},
        {"201", 170, "S_BOXNW_BOX_IS_NOT_READY"},
        {"202", 1460, "S_BOXNW_BOX_NO_SESSION"},
        {"203", 170, nullptr},
        {"204", 161, nullptr},
        {"205", 170, "S_BOXNW_BOX_STS_UPDATE"},
        {"206", 8, nullptr},
        {"207", 170, nullptr},
        {"208", 170, nullptr},
        {"209", 170, nullptr},
        {"210", 1216, nullptr},
        {"211", 100, "S_BOXNW_BOX_BOXISUSED"},
        {"212", 100, "S_BOXNW_BOX_BACKUP_RESTORE_MODE"},
        {"300", 100, "S_BOXNW_PANEL_EX_ERROR"},
        {"400", 100, "S_BOXNW_JOB_EX_ERROR"},
        {"500", 1371, "S_BOXNW_NIC_FTP_CREATE_ERROR"},
        {"501", 1371, "S_BOXNW_NIC_FTP_DELETE_ERROR"},
        {"7", 1359, nullptr},
        {"-2", 1359, nullptr},
        {"99999999999", 1359, nullptr},
    };
    for (const Row &row : rows) {
        vttest::DebugCapture cap;
        EXPECT_EQ(ResultCode(row.result), row.code) << row.result;
        std::string expected;
        if (row.code != 0) expected = std::string("BOX CGI return ERROR = ") + row.result + " \n";
        if (row.name) expected += row.name;
        EXPECT_EQ(cap.text(), expected) << row.result;
    }
}

TEST(CheckBoxResult, TextThatIsNotANumberReadsAsSuccess) {
    EXPECT_EQ(ResultCode(""), 0u);
    EXPECT_EQ(ResultCode("abc"), 0u);
    EXPECT_EQ(ResultCode("  212xyz"), 100u);
}

TEST(ReplyDocument, LookupsByPathItemAndAttribute) {
    auto doc = Load(
        "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
        "<BoxNwLib><Header><Version>Korvo-B V1.3.0.0</Version></Header>"
        "<Message><Result>0</Result><Boxes NumOfBoxes=\"2\">"
        "<BoxProp BoxNo=\"1\"><BoxName>A &amp; &lt;B&gt; \xc3\xa9</BoxName><LastUpdateDate>0</LastUpdateDate></BoxProp>"
        "<BoxProp BoxNo=\"12\"><BoxName>Second</BoxName><LastUpdateDate>-1</LastUpdateDate></BoxProp>"
        "</Boxes></Message></BoxNwLib>" +
        std::string(1000, ' '));
    ASSERT_NE(doc, nullptr);
    std::string v;
    EXPECT_EQ(doc->ReadNodeText("BoxNwLib/Header/Version", &v), 0u);
    EXPECT_EQ(v, "Korvo-B V1.3.0.0");
    EXPECT_EQ(doc->ReadChildText("BoxNwLib/Message", "Result", &v), 0u);
    EXPECT_EQ(v, "0");
    EXPECT_EQ(doc->ReadNodeAttribute("BoxNwLib/Message/Boxes", "NumOfBoxes", &v), 0u);
    EXPECT_EQ(v, "2");
    EXPECT_EQ(doc->ReadItemAttribute("BoxNwLib/Message/Boxes/BoxProp", 1, "BoxNo", &v), 0u);
    EXPECT_EQ(v, "12");
    EXPECT_EQ(doc->ReadItemChildText("BoxNwLib/Message/Boxes/BoxProp", 0, "BoxName", &v), 0u);
    EXPECT_EQ(v, "A & <B> \xc3\xa9");
    std::u16string w;
    EXPECT_EQ(doc->ReadItemChildWideText("BoxNwLib/Message/Boxes/BoxProp", 0, "BoxName", &w), 0u);
    EXPECT_EQ(w, u"A & <B> \u00e9");

    SYSTEMTIME t;
    vtbox::ItemChildTime(*doc, "BoxNwLib/Message/Boxes/BoxProp", 0, "LastUpdateDate", &t);
    EXPECT_EQ(t.wYear, 1970);
    EXPECT_EQ(t.wMonth, 1);
    EXPECT_EQ(t.wDay, 1);
    EXPECT_EQ(t.wHour + t.wMinute + t.wSecond + t.wMilliseconds, 0);
    vtbox::ItemChildTime(*doc, "BoxNwLib/Message/Boxes/BoxProp", 1, "LastUpdateDate", &t);
    EXPECT_EQ(t.wYear, 1969);

    // Missing things give 11.
    EXPECT_EQ(doc->ReadNodeText("BoxNwLib/Message/Nothing", &v), 11u);
    EXPECT_EQ(doc->ReadNodeAttribute("BoxNwLib/Message/Boxes", "Missing", &v), 11u);
    EXPECT_EQ(doc->ReadItemAttribute("BoxNwLib/Message/Boxes/BoxProp", 2, "BoxNo", &v), 11u);
    EXPECT_EQ(doc->ReadItemChildText("BoxNwLib/Message/Boxes/BoxProp", 0, "Protected", &v), 11u);
    EXPECT_EQ(doc->ReadNodeText("Message/Result", &v), 11u);  // paths start at the document
}

TEST(ReplyDocument, MalformedRepliesAreRefused) {
    SetLastError(0);
    EXPECT_EQ(Load("<BoxNwLib><Message><Result>0</Result></Message>"), nullptr);
    EXPECT_EQ(GetLastError(), 11u);
    EXPECT_EQ(Load(""), nullptr);
    EXPECT_EQ(Load(std::string(100, ' ')), nullptr);
    EXPECT_EQ(Load("<a></b>"), nullptr);
}

TEST(ReplyDocument, ADocumentTypeDeclarationIsRefusedBeforeAnyEntityIsRead) {
    // Nested entities that would expand to 10^9 bytes if any lookup ever
    // reached them; an external one that would read a local file; and a
    // declaration without a subset at all.
    std::string laughs = "<!DOCTYPE BoxNwLib [<!ENTITY a \"aaaaaaaaaa\">";
    std::string prev = "a";
    for (int i = 0; i < 8; ++i) {
        std::string next(1, static_cast<char>('b' + i));
        laughs += "<!ENTITY " + next + " \"";
        for (int k = 0; k < 10; ++k) laughs += "&" + prev + ";";
        laughs += "\">";
        prev = next;
    }
    laughs += "]><BoxNwLib><Message><Result>&" + prev + ";</Result></Message></BoxNwLib>";
    for (const std::string &xml : {
             "<?xml version=\"1.0\"?>" + laughs,
             std::string("<?xml version=\"1.0\"?><!DOCTYPE r [<!ENTITY x SYSTEM \"file:///etc/passwd\">]>"
                         "<BoxNwLib><Message><Result>&x;</Result></Message></BoxNwLib>"),
             std::string("<!DOCTYPE BoxNwLib><BoxNwLib><Message><Result>0</Result></Message></BoxNwLib>"),
         }) {
        std::string why;
        SetLastError(0);
        EXPECT_EQ(vtbox::LoadReplyDocument(xml.data(), xml.size(), &why), nullptr) << xml.substr(0, 60);
        EXPECT_EQ(GetLastError(), 11u);
        EXPECT_NE(why.find("DOCTYPE"), std::string::npos) << why;
    }
}

TEST(ReplyDocument, NumbersReadAsTheCLibraryReadsThem) {
    EXPECT_EQ(vtbox::ParseNumber("  42abc"), 42);
    EXPECT_EQ(vtbox::ParseNumber("-7"), -7);
    EXPECT_EQ(vtbox::ParseNumber("+3"), 3);
    EXPECT_EQ(vtbox::ParseNumber("x1"), 0);
    EXPECT_EQ(vtbox::ParseNumber(""), 0);
}

}  // namespace
