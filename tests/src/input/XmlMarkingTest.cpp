// The reader of "marking.xml", through the int colour class: which elements
// become tokens, how values convert, and how bad or hostile files end.
#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <cstdio>
#include <fcntl.h>
#include <functional>
#include <iostream>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "TestSupport.h"
#include "input/Token_int.h"
#include "net/NetClass.h"
#include "net/Place.h"

using testsupport::ScratchDir;

namespace {

class EmptyNet : public NetClass {
public:
    void buildNet() override {}
    void createTokens() override {}
    Ptr<Token> copyToken(Ptr<Token>) override { return Ptr<Token>(); }
    Ptr<Token> upcastToken(Ptr<Token>) override { return Ptr<Token>(); }
};

// Every test works in a scratch directory of its own, where it writes
// "marking.xml"; the previous working directory comes back afterwards.
class XmlMarking : public ::testing::Test {
protected:
    XmlMarking() : dir("xml-marking") {
        char* cwd = getcwd(nullptr, 0);
        previous = cwd;
        std::free(cwd);
        EXPECT_EQ(chdir(dir.path().c_str()), 0);
    }
    ~XmlMarking() override { EXPECT_EQ(chdir(previous.c_str()), 0); }

    Place* place(const char* name) {
        Place* p = new Place(++ids, name, &net, false, 0);
        net.addPlace(p);
        return p;
    }

    void marking(const std::string& body) {
        dir.write("marking.xml", "<?xml version=\"1.0\"?>\n" + body);
    }

    struct Exit {
        int status = -1;
        std::string out;
    };
    // Reads the tokens of `p` in a child process, whose standard output is
    // captured; a reader that comes back counts as exit status 0.
    Exit readInChild(Place* p) {
        const std::string outPath = dir.file("child.out");
        std::cout.flush();
        std::fflush(stdout);
        pid_t pid = fork();
        if (pid == 0) {
            int fd = open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
            if (fd < 0 || dup2(fd, 1) < 0) _exit(127);
            Token_int::addInitialTokens(p);
            std::cout << "returned with " << p->getMarkingSize() << " tokens" << std::flush;
            _exit(0);
        }
        int status = 0;
        waitpid(pid, &status, 0);
        Exit result;
        result.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        result.out = dir.read("child.out");
        return result;
    }

    ScratchDir dir;
    std::string previous;
    EmptyNet net;
    int ids = 0;
};

const char* const kSecret = "SECRET-7c41";

} // namespace

TEST_F(XmlMarking, EveryTokenElementOfThePlaceAtAnyDepthInFileOrder) {
    Place* sem = place("C1_sem");
    Place* pool = place("P_thread_pool");
    marking("<anything>\n"
            "  <token place=\"C1_sem\" value=\"3\"/>\n"
            "  <token place=\"P_thread_pool\" value=\"9\"/>\n"
            "  <group><deeper><token place=\"C1_sem\" value=\"-4\">text</token></deeper></group>\n"
            "  <token place=\"Elsewhere\" value=\"1\"/>\n"
            "  <token value=\"1\"/>\n"
            "  <Token place=\"C1_sem\" value=\"5\"/>\n"
            "  <token place=\"C1_sem\" value=\"7\"/>\n"
            "</anything>\n");
    Token_int::addInitialTokens(sem);
    EXPECT_EQ(sem->content(), "3,-4,7");
    Token_int::addInitialTokens(pool);
    EXPECT_EQ(pool->content(), "9");

    // Each call reads the file anew.
    marking("<m><token place=\"C1_sem\" value=\"8\"/></m>");
    Token_int::addInitialTokens(sem);
    EXPECT_EQ(sem->content(), "3,-4,7,8");
}

TEST_F(XmlMarking, PlaceNamesMatchExactly) {
    Place* sem = place("C1_sem");
    marking("<m><token place=\"c1_sem\" value=\"1\"/><token place=\"C1_SEM\" value=\"2\"/>"
            "<token place=\"C1_sem \" value=\"3\"/><token place=\" C1_sem\" value=\"4\"/></m>");
    Token_int::addInitialTokens(sem);
    EXPECT_EQ(sem->getMarkingSize(), 0u);
}

TEST_F(XmlMarking, ValuesReadTheirLeadingNumber) {
    Place* sem = place("C1_sem");
    marking("<m>"
            "<token place=\"C1_sem\" value=\"12ab\"/>"
            "<token place=\"C1_sem\"/>"
            "<token place=\"C1_sem\" value=\"\"/>"
            "<token place=\"C1_sem\" value=\"abc\"/>"
            "<token place=\"C1_sem\" value=\" +5\"/>"
            "<token place=\"C1_sem\" value=\"-0x10\"/>"
            "<token place=\"C1_sem\" value=\"99999999999999999999999\"/>"
            "<token place=\"C1_sem\" value=\"-99999999999999999999999\"/>"
            "</m>");
    Token_int::addInitialTokens(sem);
    EXPECT_EQ(sem->content(), "12,0,0,0,5,0," + std::to_string(LONG_MAX) + "," + std::to_string(LONG_MIN));
}

TEST_F(XmlMarking, InternalEntitiesExpandButExternalDtdsAreNotRead) {
    Place* sem = place("C1_sem");
    // Read, the external DTD would give every token without a value the value 77.
    dir.write("defaults.dtd", "<!ATTLIST token value CDATA \"77\">\n");
    marking("<!DOCTYPE m SYSTEM \"defaults.dtd\" [ <!ENTITY v \"42\"> ]>\n"
            "<m><token place=\"C1_sem\" value=\"&v;\"/><token place=\"C1_sem\"/></m>");
    Token_int::addInitialTokens(sem);
    EXPECT_EQ(sem->content(), "42,0");
}

TEST_F(XmlMarking, ExternalEntitiesAreRefusedWithoutReadingThem) {
    Place* sem = place("C1_sem");
    dir.write("secret.txt", kSecret);
    const char* const documents[] = {
        // A general entity in content.
        "<!DOCTYPE m [ <!ENTITY s SYSTEM \"secret.txt\"> ]>\n"
        "<m><token place=\"C1_sem\" value=\"1\">&s;</token></m>",
        // A parameter entity in the internal subset.
        "<!DOCTYPE m [ <!ENTITY % p SYSTEM \"secret.txt\"> %p; ]>\n"
        "<m><token place=\"C1_sem\" value=\"1\"/></m>",
        // An address on the network.
        "<!DOCTYPE m [ <!ENTITY s SYSTEM \"http://127.0.0.1:9/secret.txt\"> ]>\n"
        "<m><token place=\"C1_sem\" value=\"1\">&s;</token></m>",
    };
    for (const char* document : documents) {
        SCOPED_TRACE(document);
        marking(document);
        Exit e = readInChild(sem);
        EXPECT_EQ(e.status, 1);
        EXPECT_EQ(e.out.rfind("Xerces SAX Exception message is: ", 0), 0u) << e.out;
        EXPECT_EQ(e.out.find('\n'), e.out.size() - 1) << e.out;
        EXPECT_EQ(e.out.find(kSecret), std::string::npos) << e.out;
    }
}

TEST_F(XmlMarking, NestedEntitiesStopAtTheExpansionLimit) {
    Place* sem = place("C1_sem");
    std::string doctype = "<!DOCTYPE m [ <!ENTITY e0 \"xxxxxxxxxx\">";
    for (int level = 1; level <= 5; ++level) {
        doctype += " <!ENTITY e" + std::to_string(level) + " \"";
        for (int i = 0; i < 10; ++i) doctype += "&e" + std::to_string(level - 1) + ";";
        doctype += "\">";
    }
    marking(doctype + " ]>\n<m><token place=\"C1_sem\" value=\"&e5;\"/></m>");
    Exit e = readInChild(sem);
    EXPECT_EQ(e.status, 1);
    EXPECT_EQ(e.out.rfind("Xerces SAX Exception message is: ", 0), 0u) << e.out.substr(0, 200);
}

// Few references to one large internal entity stay far below the count
// limit, but expand to hundreds of MB: the reading stops at its memory bound,
// in content as in an attribute value.
TEST_F(XmlMarking, LargeEntityExpansionsStopAtTheMemoryBound) {
    Place* sem = place("C1_sem");
    const std::string big = "<!DOCTYPE m [ <!ENTITY big \"" + std::string(100000, 'x') + "\"> ]>\n";
    std::string references;
    for (int i = 0; i < 3000; ++i) references += "&big;";
    for (const std::string& body : {"<m><token place=\"C1_sem\" value=\"1\">" + references + "</token></m>",
                                    "<m><token place=\"C1_sem\" value=\"" + references + "\"/></m>"}) {
        marking(big + body);
        Exit e = readInChild(sem);
        EXPECT_EQ(e.status, 1);
        EXPECT_EQ(e.out, "Xerces XML Exception message is: OutOfMemory (marking.xml needs more than 64 MB once its "
                         "entities are expanded)\n");
    }
    // A few references expand as they should.
    marking(big + "<m><token place=\"C1_sem\" value=\"7\">&big;&big;</token></m>");
    EXPECT_EQ(readInChild(sem).out, "returned with 1 tokens");
}

TEST_F(XmlMarking, ADirectoryEndsTheProcessWithOneLine) {
    Place* sem = place("C1_sem");
    ASSERT_EQ(mkdir(dir.file("marking.xml").c_str(), 0755), 0);
    Exit e = readInChild(sem);
    EXPECT_EQ(e.status, 1);
    EXPECT_EQ(e.out.rfind("Xerces ", 0), 0u) << e.out;
    EXPECT_EQ(std::count(e.out.begin(), e.out.end(), '\n'), 1) << e.out;
}

TEST_F(XmlMarking, MissingOrMalformedFilesEndTheProcess) {
    Place* sem = place("C1_sem");
    Exit missing = readInChild(sem);
    EXPECT_EQ(missing.status, 1);
    EXPECT_EQ(missing.out.rfind("Xerces SAX Exception message is: ", 0), 0u) << missing.out;
    EXPECT_EQ(missing.out.back(), '\n');

    for (const char* body : {"<m><token place=\"C1_sem\" value=\"1\"></m>", "<m>", "", "not xml at all",
                             "<m><token place=\"C1_sem\" value=\"1\"/></m><second/>"}) {
        SCOPED_TRACE(body);
        marking(body);
        Exit e = readInChild(sem);
        EXPECT_EQ(e.status, 1);
        EXPECT_EQ(e.out.rfind("Xerces SAX Exception message is: ", 0), 0u) << e.out;
    }

    // The same reader comes back normally from a good file.
    marking("<m><token place=\"C1_sem\" value=\"1\"/></m>");
    Exit good = readInChild(sem);
    EXPECT_EQ(good.status, 0);
    EXPECT_EQ(good.out, "returned with 1 tokens");
}
