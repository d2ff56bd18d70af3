#include <sys/stat.h>

#include <chrono>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "foundation/TBException.h"
#include "foundation/TBResult.h"
#include "foundation/XmlFile.h"
#include "support/TempDir.h"

using terbin::TBString;
using xml::XmlFile;
using xml::XmlNode;

namespace {

// Entities lol0 = "lol", lolN = ten references to lol(N-1); the root refers to the last.
std::string laughs(int levels) {
    std::string doc = "<?xml version=\"1.0\"?><!DOCTYPE r [<!ENTITY lol0 \"lol\">";
    for (int i = 1; i <= levels; ++i) {
        doc += "<!ENTITY lol" + std::to_string(i) + " \"";
        for (int j = 0; j < 10; ++j) doc += "&lol" + std::to_string(i - 1) + ";";
        doc += "\">";
    }
    return doc + "]><r>&lol" + std::to_string(levels) + ";</r>";
}

class XmlFileTest : public ::testing::Test {
protected:
    // Loads `text` from a real file, as callers do.
    uint32_t load(const std::string& text) {
        writeFile(dir / "doc.xml", text);
        return file.load(TBString::fromBytes(dir / "doc.xml"));
    }
    std::string text() { return file.getDocument()->toString().narrow(); }

    TempDir dir;
    XmlFile file;
};

}  // namespace

TEST_F(XmlFileTest, RejectsBrokenInputWithoutKeepingAnOldDocument) {
    EXPECT_EQ(file.load(TBString::fromBytes(dir / "missing.xml")), terbin::TB_FILE_NOT_FOUND);
    EXPECT_EQ(tb_status_getLastError(), terbin::TB_FILE_NOT_FOUND);
    ASSERT_EQ(mkfifo((dir / "fifo").c_str(), 0600), 0);
    EXPECT_NE(file.load(TBString::fromBytes(dir / "fifo")), 0u) << "must not block on a FIFO";
    const std::string broken[] = {"", "<backupset><Name>A</Name>", "Name=A\n",
                                  "\xef\xbb\xbf<r>\xff\xfe</r>"};
    testing::internal::CaptureStderr();
    for (const std::string& text : broken) {
        ASSERT_EQ(file.loadMemory("<ok/>"), 0u);
        EXPECT_EQ(load(text), XmlFile::Malformed) << text;
        EXPECT_EQ(tb_status_getLastError(), XmlFile::Malformed);
        EXPECT_FALSE(file.isLoaded());
        EXPECT_EQ(file.findNode(L"ok"), nullptr);
    }
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "") << "parse errors are not printed";
}

TEST_F(XmlFileTest, RejectsFilesOverTheSizeCap) {
    std::string doc = "<r>" + std::string(XmlFile::MaxFileSize - 7, 'x') + "</r>";
    ASSERT_EQ(load(doc), 0u) << "exactly at the cap";
    doc.insert(3, "x");
    EXPECT_EQ(load(doc), XmlFile::FileTooLarge);
    EXPECT_EQ(file.loadMemory(doc), XmlFile::FileTooLarge);
}

TEST_F(XmlFileTest, ExternalEntitiesAndDtdsAreNeverRead) {
    writeFile(dir / "secret.txt", "TOPSECRET");
    writeFile(dir / "evil.dtd", "<!ENTITY leak \"TOPSECRET\">");
    const std::string secret = "file://" + (dir / "secret.txt");
    const std::string docs[] = {
        "<!DOCTYPE r [<!ENTITY x SYSTEM \"" + secret + "\">]><r>a&x;b</r>",
        "<!DOCTYPE r [<!ENTITY % p SYSTEM \"" + secret + "\"> %p;]><r>ab</r>",
        "<!DOCTYPE r SYSTEM \"file://" + (dir / "evil.dtd") + "\"><r>a&leak;b</r>",
        "<r xmlns:xi=\"http://www.w3.org/2001/XInclude\">a<xi:include href=\"" + secret +
            "\" parse=\"text\"/>b</r>"};
    for (const std::string& doc : docs) {
        ASSERT_EQ(file.loadMemory(doc), 0u) << doc;
        EXPECT_EQ(text(), "ab") << doc;
    }
}

TEST_F(XmlFileTest, EntityExpansionIsRefusedQuicklyBeyondModestUse) {
    ASSERT_EQ(file.loadMemory(laughs(1)), 0u) << "a modest expansion is fine";
    EXPECT_EQ(text().size(), 30u);
    // One entity used many times, spread over elements so no one text is large.
    std::string quadratic = "<!DOCTYPE r [<!ENTITY a \"" + std::string(20000, 'x') + "\">]><r>";
    for (int i = 0; i < 2000; ++i) quadratic += "<n>&a;</n>";
    std::string deep;
    for (int i = 0; i < 50000; ++i) deep += "<d>";
    for (int i = 0; i < 50000; ++i) deep += "</d>";
    for (const std::string& doc : {laughs(9), quadratic + "</r>", deep}) {
        const auto start = std::chrono::steady_clock::now();
        EXPECT_EQ(file.loadMemory(doc), XmlFile::Malformed) << doc.substr(0, 80);
        EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
    }
}
