// The generated colour class "Data": text form, setters and the token log,
// copies, and the attributes read from "marking.xml".
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <limits>
#include <locale>
#include <string>
#include <unistd.h>

#include "ImplementedNetClass.h"
#include "TestSupport.h"
#include "Token_Data.h"
#include "frame/MainClass.h"
#include "net/Place.h"
#include "net/Transition.h"

using testsupport::ScratchDir;

namespace {

// Logging has no switch for the token log in this program, so the tests set
// its flag directly. (An explicit instantiation may name a private member;
// the friend function hands the member pointer out.)
template <typename Tag, typename Tag::type Member>
struct Expose {
    friend typename Tag::type member(Tag) { return Member; }
};
struct TokenLoggingFlag {
    typedef bool Logging::*type;
    friend type member(TokenLoggingFlag);
};
template struct Expose<TokenLoggingFlag, &Logging::tokenlogging>;

// Opens the token log on a file of `dir` while the object lives, with token
// logging switched on or (to catch writers that ignore the switch) off.
class TokenLogInto {
public:
    explicit TokenLogInto(const ScratchDir& dir, bool on = true) : path(dir.file("token.log")) {
        Logging* log = MainClass::getLog();
        log->getTokenLog().open(path, std::ios::out | std::ios::trunc);
        log->*member(TokenLoggingFlag()) = on;
    }
    ~TokenLogInto() { stop(); }
    // Closes the log and answers what was written.
    std::string stop() {
        Logging* log = MainClass::getLog();
        log->*member(TokenLoggingFlag()) = false;
        if (log->getTokenLog().is_open()) log->getTokenLog().close();
        return testsupport::readFile(path);
    }

private:
    std::string path;
};

void fill(Token_Data& t) {
    t.set_n("job \"7\"");
    t.set_s(-3);
    t.set_l(2147483647);
    t.set_gT(DateTime("12:30:05@02/28/2024"));
    t.set_d(true);
    t.set_ood(false);
    t.set_tL(1);
    t.set_gL(-2147483647 - 1);
}

const char* const kSampleText = "{n=\"job \"7\"\"; s=-3; l=2147483647; gT=12:30:05@02/28/2024; d=1; ood=0; tL=1; "
                                "gL=-2147483648}";

// Builds the workflow net in a scratch directory (it reads "marking.xml"
// there) and works in that directory.
class InNetDirectory : public ::testing::Test {
protected:
    InNetDirectory() : dir("token-data") {
        char* cwd = getcwd(nullptr, 0);
        previous = cwd;
        std::free(cwd);
        EXPECT_EQ(chdir(dir.path().c_str()), 0);
        dir.write("marking.xml", "<m/>");
        net.buildNet();
    }
    ~InNetDirectory() override { EXPECT_EQ(chdir(previous.c_str()), 0); }

    ScratchDir dir;
    std::string previous;
    ImplementedNetClass net;
};

using TokenDataXml = InNetDirectory;
using TokenDataCopy = InNetDirectory;

// While it writes a number, asks another token for its text, so that the
// inner content() call runs while the outer one builds its text.
class NestedContent : public std::num_put<char> {
public:
    NestedContent(const Token_Data& other, std::string& seen) : other(other), seen(seen) {}

protected:
    iter_type do_put(iter_type out, std::ios_base& str, char_type fill, long v) const override {
        if (seen.empty()) seen = other.content();
        return std::num_put<char>::do_put(out, str, fill, v);
    }

private:
    const Token_Data& other;
    std::string& seen;
};

} // namespace

TEST(TokenData, TextForm) {
    Token_Data t;
    EXPECT_EQ(t.getName(), "Data");
    EXPECT_EQ(t.content(), "{n=\"\"; s=0; l=0; gT=00:00:00@01/01/0001; d=0; ood=0; tL=0; gL=0}");
    fill(t);
    EXPECT_EQ(t.content(), kSampleText);
}

TEST(TokenData, TextBuiltDuringAnotherTextIsNull) {
    Token_Data outer;
    fill(outer);
    const Token_Data inner;
    std::string seen;
    const std::locale previous =
        std::locale::global(std::locale(std::locale::classic(), new NestedContent(inner, seen)));
    const std::string text = outer.content();
    std::locale::global(previous);

    EXPECT_EQ(seen, "NULL");
    EXPECT_EQ(text, kSampleText);
    // The guard is released afterwards.
    EXPECT_EQ(inner.content(), "{n=\"\"; s=0; l=0; gT=00:00:00@01/01/0001; d=0; ood=0; tL=0; gL=0}");
}

TEST(TokenData, SettersWriteTheTokenLogOnlyWhenItIsOn) {
    ScratchDir dir("token-log");
    TokenLogInto on(dir);
    Token_Data logged;
    fill(logged);
    EXPECT_EQ(on.stop(),
              "set : Data.n to job \"7\"\n"
              "set : Data.s to -3\n"
              "set : Data.l to 2147483647\n"
              "set : Data.gT to 12:30:05@02/28/2024\n"
              "set : Data.d to 1\n"
              "set : Data.ood to 0\n"
              "set : Data.tL to 1\n"
              "set : Data.gL to -2147483648\n");

    TokenLogInto off(dir, false);
    Token_Data t;
    t.set_tL(2);
    t.set_ood(true);
    t.set_n("x");
    EXPECT_EQ(off.stop(), "");
    EXPECT_EQ(t.get_tL(), 2);
    EXPECT_TRUE(t.get_ood());
    EXPECT_EQ(t.get_n(), "x");
}

TEST_F(TokenDataCopy, CopiesCarryTheAttributesAndTheIdTheFlagKeepsTheTransitions) {
    Token_Data original;
    fill(original);
    Transition* holder = net.getTransition("Binary_OOD");
    original.addTransition(holder);

    Token_Data without(original, false);
    Token_Data with(original, true);
    for (const Token_Data* copy : {&without, &with}) {
        EXPECT_EQ(copy->content(), kSampleText);
        EXPECT_EQ(copy->getID(), original.getID());
        EXPECT_EQ(copy->getCreationTime(), original.getCreationTime());
    }
    EXPECT_TRUE(without.getTransitions().empty());
    EXPECT_EQ(with.getTransitions(), std::vector<Transition*>{holder});

    Token_Data assigned;
    assigned = original;
    EXPECT_EQ(assigned.content(), kSampleText);
    EXPECT_EQ(assigned.getID(), original.getID());
}

TEST_F(TokenDataXml, AttributesConvertFromTheirText) {
    dir.write("marking.xml",
              "<?xml version=\"1.0\"?>\n<m>\n"
              "<token place=\"Binary_ct\" n=\"first\" s=\"12ab\" l=\"-7\" gT=\"08:15:00@03/01/2023\" d=\"true\""
              " ood=\"true\" tL=\"2\" gL=\"99999999999\"/>\n"
              "<token place=\"Binary_ct\" n=\"\" s=\"\" d=\"True\" ood=\"1\" tL=\"x3\" gL=\"-99999999999\""
              " gT=\"8:15@3/1/2023\"/>\n"
              "<token place=\"Binary_ct\"/>\n"
              "<token place=\"Binary_cf\" n=\"other place\"/>\n"
              "</m>\n");
    Place* ct = net.getPlace("Binary_ct");
    Token_Data::addInitialTokens(ct);
    EXPECT_EQ(ct->content(),
              "{n=\"first\"; s=12; l=-7; gT=08:15:00@03/01/2023; d=1; ood=1; tL=2; gL=2147483647},"
              "{n=\"\"; s=0; l=0; gT=00:00:00@01/01/0001; d=0; ood=0; tL=0; gL=-2147483648},"
              "{n=\"\"; s=0; l=0; gT=00:00:00@01/01/0001; d=0; ood=0; tL=0; gL=0}");
}

TEST_F(TokenDataXml, ReadingAnAttributeGoesThroughItsSetter) {
    dir.write("marking.xml", "<m><token place=\"Binary_ct\" n=\"a\" s=\"1\" d=\"true\"/></m>");
    TokenLogInto log(dir);
    Token_Data::addInitialTokens(net.getPlace("Binary_ct"));
    EXPECT_EQ(log.stop(),
              "set : Data.n to a\n"
              "set : Data.s to 1\n"
              "set : Data.l to 0\n"
              "set : Data.gT to 00:00:00@01/01/0001\n"
              "set : Data.d to 1\n"
              "set : Data.ood to 0\n"
              "set : Data.tL to 0\n"
              "set : Data.gL to 0\n");
}
