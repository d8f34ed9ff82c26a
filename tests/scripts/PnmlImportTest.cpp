// scripts/pnml_import.py on small PNML files written for these tests
// (tests/scripts/pnml): what it carries over, what it lists as not carried
// over, the round trip through its export, and the files it refuses.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "TestSupport.h"

using testsupport::ProgramResult;
using testsupport::ScratchDir;

namespace {

const std::string kImporter = std::string(SIM_SOURCE_DIR) + "/scripts/pnml_import.py";
const std::string kPnmlDir = std::string(SIM_SOURCE_DIR) + "/tests/scripts/pnml/";

ProgramResult runPython(const ScratchDir& dir, const std::string& script, std::vector<std::string> args) {
    args.insert(args.begin(), {"python3", script});
    return testsupport::runProgram("/usr/bin/env", args, dir.path());
}

ProgramResult import(const ScratchDir& dir, const std::string& pnml, const std::string& out,
                     std::vector<std::string> extra = {}) {
    std::vector<std::string> args = {pnml, "--output-dir", dir.file(out)};
    args.insert(args.end(), extra.begin(), extra.end());
    return runPython(dir, kImporter, args);
}

void expectContains(const std::string& text, const std::vector<std::string>& pieces) {
    for (const std::string& piece : pieces) EXPECT_NE(text.find(piece), std::string::npos) << piece << "\n" << text;
}

}  // namespace

TEST(PnmlImport, StandardShapedNetBecomesADescriptionAndItsMarking) {
    ScratchDir dir("pnml-standard");
    ProgramResult r = import(dir, kPnmlDir + "producer_consumer.pnml", "out");
    ASSERT_EQ(r.status, 0) << r.out << r.err;
    const std::string net = dir.read("out/producer_consumer.net.json");
    expectContains(net, {
                            // Names and capacities; a name that is no identifier is made one.
                            R"j({"name": "Buffer_slots", "capacity": 3})j",
                            // Own tool-specific timing; an arc through a reference place of an inner page.
                            R"j({"name": "Produce", "kind": "timed", "delay": "Exp(0.5)", "priority": 0, )j"
                            R"j("inputs": [{"place": "Ready"}, {"place": "Buffer_slots"}], )j"
                            R"j("outputs": [{"place": "Buffer", "multiplicity": 2}, {"place": "Ready"}]})j",
                            // Another tool's rate 2 and infinite server.
                            R"j({"name": "Consume", "kind": "timed", "delay": "Exp(0.5)", "server": "infinite")j",
                            // No timing: the default.
                            R"j({"name": "Audit", "kind": "timed", "delay": "Exp(1.0)")j",
                            R"j({"name": "Tokens_Buffer", "kind": "timeAverage", "reward": "#Buffer"})j",
                        });
    EXPECT_EQ(dir.read("out/marking.xml"),
              "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<!-- Initial marking imported from PNML. -->\n<marking>\n"
              "  <token place=\"Ready\" value=\"0\"/>\n  <token place=\"Ready\" value=\"0\"/>\n"
              "  <token place=\"Buffer_slots\" value=\"0\"/>\n  <token place=\"Buffer_slots\" value=\"0\"/>\n"
              "  <token place=\"Buffer_slots\" value=\"0\"/>\n</marking>\n");
    // Everything that did not make it is listed, on the console and in the description.
    const std::vector<std::string> notes = {
        "transition t2: tool-specific colour of tool another-tool is not carried over",
        "arc a9: inhibitor arcs are not carried over",
        "place p2 ('Buffer slots') is named Buffer_slots",
        "the drawing (positions and graphics) is not carried over",
        "arc a10 does not join a place and a transition; it is not carried over",
        "transition t3: no timing in the file; timed with delay Exp(1.0)",
    };
    for (const std::string& note : notes) {
        EXPECT_NE(r.out.find("  - " + note + "\n"), std::string::npos) << r.out;
        EXPECT_NE(net.find("\"" + note + "\""), std::string::npos) << net;
    }
}

TEST(PnmlImport, LabelsWrittenAsValuesAreRead) {
    ScratchDir dir("pnml-values");
    ProgramResult r = import(dir, kPnmlDir + "labels_as_values.pnml", "out", {"--name", "two"});
    ASSERT_EQ(r.status, 0) << r.out << r.err;
    expectContains(dir.read("out/two.net.json"),
                   {R"j({"name": "P1", "capacity": 4})j",
                    // A timed rate 4 is a mean of 0.25; an immediate one's rate is its weight.
                    R"j({"name": "T0", "kind": "timed", "delay": "Exp(0.25)", "priority": 0,)j",
                    R"j({"name": "T1", "kind": "immediate", "firingWeight": 0.25, "priority": 2,)j"});
    EXPECT_NE(dir.read("out/marking.xml").find("<marking>\n  <token place=\"P0\" value=\"0\"/>\n</marking>"),
              std::string::npos);
    EXPECT_NE(r.out.find("arc P1 to T0: inhibitor arcs are not carried over"), std::string::npos) << r.out;
}

// Import, export, import again: the two descriptions generate the same code,
// and a second export writes the same PNML.
TEST(PnmlImport, RoundTripThroughTheExportKeepsTheNet) {
    ScratchDir dir("pnml-round-trip");
    ASSERT_EQ(import(dir, kPnmlDir + "producer_consumer.pnml", "a").status, 0);
    ProgramResult exported = runPython(dir, kImporter,
                                       {"--export", dir.file("a/producer_consumer.net.json"), "--marking",
                                        dir.file("a/marking.xml"), "--output", dir.file("first.pnml")});
    ASSERT_EQ(exported.status, 0) << exported.err;
    EXPECT_NE(exported.out.find("measure Tokens_Ready is not carried over"), std::string::npos) << exported.out;
    ASSERT_EQ(import(dir, dir.file("first.pnml"), "b", {"--name", "producer_consumer"}).status, 0);
    ASSERT_EQ(runPython(dir, kImporter,
                        {"--export", dir.file("b/producer_consumer.net.json"), "--marking", dir.file("b/marking.xml"),
                         "--output", dir.file("second.pnml")})
                  .status,
              0);
    EXPECT_EQ(dir.read("first.pnml"), dir.read("second.pnml"));
    EXPECT_EQ(dir.read("a/marking.xml"), dir.read("b/marking.xml"));

    const std::string generator = std::string(SIM_SOURCE_DIR) + "/scripts/generate_net.py";
    for (const char* side : {"a", "b"}) {
        ProgramResult g = runPython(dir, generator,
                                    {"--description", dir.file(std::string(side) + "/producer_consumer.net.json"),
                                     "--output-dir", dir.file(std::string(side) + "/code")});
        ASSERT_EQ(g.status, 0) << g.err;
    }
    int files = 0;
    for (const auto& entry : std::filesystem::directory_iterator(dir.file("a/code"))) {
        const std::string name = entry.path().filename().string();
        EXPECT_EQ(dir.read("a/code/" + name), dir.read("b/code/" + name)) << name;
        ++files;
    }
    EXPECT_EQ(files, 2 + 2 * 3 + 2 * 3 + 1);
}

TEST(PnmlImport, SideFileGivesTimingCapacitiesAndMeasures) {
    ScratchDir dir("pnml-side-file");
    dir.write("timing.json", R"json({
      "transitions": {"t3": {"kind": "immediate", "priority": 3}, "Produce": {"kind": "timed", "delay": "Det(2.0)"}},
      "places": {"Buffer": {"capacity": 8}},
      "measures": [{"name": "Full", "kind": "timeAverage", "reward": "#Buffer >= 8"}]})json");
    ProgramResult r = import(dir, kPnmlDir + "producer_consumer.pnml", "out", {"--timing", dir.file("timing.json")});
    ASSERT_EQ(r.status, 0) << r.out << r.err;
    expectContains(dir.read("out/producer_consumer.net.json"),
                   {R"j({"name": "Produce", "kind": "timed", "delay": "Det(2.0)", "inputs")j",
                    R"j({"name": "Audit", "kind": "immediate", "priority": 3, "inputs")j",
                    R"j({"name": "Buffer", "capacity": 8})j",
                    R"j("measures": [
    {"name": "Full", "kind": "timeAverage", "reward": "#Buffer >= 8"}
  ])j"});

    dir.write("bad.json", R"j({"transitions": {"t1": {"guard": "true"}}})j");
    ProgramResult bad = import(dir, kPnmlDir + "producer_consumer.pnml", "bad", {"--timing", dir.file("bad.json")});
    EXPECT_EQ(bad.status, 1);
    EXPECT_NE(bad.err.find("timing of transition t1: unknown key 'guard'"), std::string::npos) << bad.err;
    dir.write("refused.json", R"j({"transitions": {"t1": {"kind": "immediate", "delay": "Exp(1.0)"}}})j");
    ProgramResult refused =
        import(dir, kPnmlDir + "producer_consumer.pnml", "refused", {"--timing", dir.file("refused.json")});
    EXPECT_EQ(refused.status, 1);
    EXPECT_NE(refused.err.find("the imported description is refused: transition Produce: an immediate transition "
                               "has no delay (adjust it with --timing)"),
              std::string::npos)
        << refused.err;
    EXPECT_FALSE(dir.exists("refused"));
}

TEST(PnmlImport, RefusesDtdsEntitiesAndWhatIsNoPlaceTransitionNet) {
    const struct {
        const char* text;
        const char* reason;
    } cases[] = {
        {"<?xml version=\"1.0\"?>\n<!DOCTYPE pnml [<!ENTITY x \"y\">]>\n<pnml><net id=\"n\"/></pnml>",
         "declares a DTD or an entity; such documents are not read"},
        {"<?xml version=\"1.0\"?>\n<!doctype pnml SYSTEM \"http://example.org/pnml.dtd\">\n<pnml/>",
         "declares a DTD or an entity"},
        {"<pnml><net id=\"n\" type=\"http://www.pnml.org/version-2009/grammar/symmetricnet\"/></pnml>",
         "net n is of type http://www.pnml.org/version-2009/grammar/symmetricnet, not a place/transition net"},
        {"<petrinet/>", "the root element is <petrinet>, not <pnml>"},
        {"<pnml/>", "the file holds no <net>"},
        {"<pnml><net id=\"n\">", "is not well-formed XML"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        ScratchDir dir("pnml-refused");
        dir.write("net.pnml", c.text);
        ProgramResult r = import(dir, dir.file("net.pnml"), "out");
        EXPECT_EQ(r.status, 1);
        EXPECT_NE(r.err.find(c.reason), std::string::npos) << r.err;
        EXPECT_FALSE(dir.exists("out"));
    }
}
