// The net generator as a program: the file list, descriptions it refuses,
// and how reward expressions turn into arithmetic.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include "TestSupport.h"

using testsupport::ProgramResult;
using testsupport::ScratchDir;

namespace {

const std::string kGenerator = std::string(SIM_SOURCE_DIR) + "/scripts/generate_net.py";

ProgramResult generate(const ScratchDir& dir, const std::string& description, bool list = false) {
    std::vector<std::string> args = {"python3", kGenerator, "--description", description, "--output-dir",
                                     dir.file("out")};
    if (list) args.push_back("--list");
    return testsupport::runProgram("/usr/bin/env", args, dir.path());
}

std::vector<std::string> lines(const std::string& text) {
    std::vector<std::string> out;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) out.push_back(line);
    return out;
}

// A small net: places a (int), b and c (Data); transition t moves a Data
// token from b to c and takes an int from a; one measure. `replace` swaps one
// piece of the text for another.
std::string smallNet(const std::string& measures = "", const std::string& from = "", const std::string& to = "") {
    std::string text = R"({
  "net": "small",
  "database": {"dataSource": "scpn", "user": "u", "password": "p", "marking": 1},
  "colourTypes": [{"name": "int"}, {"name": "Data", "attributes": [{"name": "k", "type": "int"}]}],
  "places": [
    {"id": 1, "name": "a", "colour": "int", "capacity": 0, "limitedView": false, "watch": false, "initialMarking": "marking.xml"},
    {"id": 2, "name": "b", "colour": "Data", "capacity": 0, "limitedView": false, "watch": false, "initialMarking": "database"},
    {"id": 3, "name": "c", "colour": "Data", "capacity": 0, "limitedView": false, "watch": false, "initialMarking": "none"}
  ],
  "transitions": [
    {"id": 1, "name": "t", "kind": "timed", "delay": {"distribution": "Exp", "parameters": [2.5]}, "firingWeight": 0.0,
     "priority": 0, "watch": false, "server": "single",
     "inputs": [{"variable": "x", "place": "b", "multiplicity": 1}, {"variable": "w", "place": "a", "multiplicity": 1}],
     "outputs": [{"place": "c", "multiplicity": 1, "token": {"kind": "bound", "variable": "x",
                  "assign": [{"attribute": "k", "value": 3}]}}]}
  ],
  "measures": [)" + (measures.empty() ? R"({"name": "m", "kind": "instantaneous", "watch": false, "places": ["a"], "reward": "#a"})"
                                       : measures) + R"(]
})";
    if (!from.empty()) {
        const std::size_t at = text.find(from);
        EXPECT_NE(at, std::string::npos) << from;
        if (at != std::string::npos) text.replace(at, from.size(), to);
    }
    return text;
}

} // namespace

TEST(Generator, TheListNamesExactlyTheFilesWritten) {
    ScratchDir dir("generator-list");
    const std::string description = std::string(SIM_SOURCE_DIR) + "/model/workflow.net.json";
    ProgramResult listed = generate(dir, description, true);
    ASSERT_EQ(listed.status, 0) << listed.err;
    EXPECT_FALSE(dir.exists("out")) << "--list writes nothing";

    ProgramResult written = generate(dir, description);
    ASSERT_EQ(written.status, 0) << written.err;
    std::vector<std::string> files;
    for (const auto& entry : std::filesystem::directory_iterator(dir.file("out")))
        files.push_back(entry.path().filename().string());
    std::vector<std::string> names = lines(listed.out);
    EXPECT_EQ(names.size(), 2u + 2u + 2u * 47u + 2u * 10u + 1u);
    std::sort(names.begin(), names.end());
    std::sort(files.begin(), files.end());
    EXPECT_EQ(files, names);
}

TEST(Generator, RefusesBrokenDescriptionsWithTheirReason) {
    struct Case {
        const char* from;
        const char* to;
        const char* reason;
    };
    const Case cases[] = {
        {R"("place": "b", "multiplicity": 1})", R"("place": "nowhere", "multiplicity": 1})", "unknown place 'nowhere'"},
        {R"("place": "b", "multiplicity": 1})", R"("place": "b", "multiplicity": 2})", "multiplicity 1"},
        {R"("places": ["a"])", R"("places": [])", "order of first appearance: a"},
        {R"("reward": "#a")", R"("reward": "(#a + ")", "malformed"},
        {R"("reward": "#a")", R"("reward": "#a #a")", "extra text"},
        {R"({"id": 3, "name": "c")", R"({"id": 4, "name": "c")", "without gaps"},
        {R"({"id": 3, "name": "c")", R"({"id": 3, "name": "b")", "duplicate place 'b'"},
        {R"("parameters": [2.5])", R"("parameters": [2.5, 1.0])", "unknown delay Exp with 2 parameters"},
        {R"("variable": "w")", R"("variable": "result")", "cannot be a variable name"},
        {R"("variable": "w")", R"("variable": "x")", "duplicate transition t variable 'x'"},
        {R"("kind": "bound", "variable": "x")", R"("kind": "bound", "variable": "w")",
         "w is of colour int, the place of colour Data"},
        {R"("value": 3})", R"("value": "three"})", "no value of type int"},
        {R"("attribute": "k")", R"("attribute": "q")", "no attribute 'q'"},
        {R"("firingWeight": 0.0)", R"("firingWeight": -1.0)", "negative firingWeight"},
        {R"("kind": "timed")", R"("kind": "slow")", "timed or immediate"},
        {R"("initialMarking": "none")", R"("initialMarking": "elsewhere")", "initialMarking must be"},
        {R"("watch": false, "server")", R"("watch": "no", "server")", "'watch' must be bool"},
        {R"("net": "small",)", R"("net": "small")", "Expecting"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.to);
        ScratchDir dir("generator-refuse");
        dir.write("net.json", smallNet("", c.from, c.to));
        ProgramResult r = generate(dir, dir.file("net.json"));
        EXPECT_EQ(r.status, 1);
        EXPECT_NE(r.err.find(c.reason), std::string::npos) << r.err;
        EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
        EXPECT_FALSE(dir.exists("out"));
    }
}

TEST(Generator, RewardsAddCountsAsIntegersAndDoEverythingElseInDouble) {
    ScratchDir dir("generator-rewards");
    const char* const rewards[] = {"#a - #b", "(#a + #b) / 2", "-#a + #b", "#a * #b + #c", "3 - (#a + #b + #c)"};
    const char* const expected[] = {
        "return static_cast<double>(n_a) - n_b;",
        "return static_cast<double>(n_a + n_b) / 2.0;",
        "return -static_cast<double>(n_a) + n_b;",
        "return static_cast<double>(n_a) * n_b + n_c;",
        "return 3.0 - static_cast<double>(n_a + n_b + n_c);",
    };
    std::string measures;
    for (int i = 0; i < 5; ++i) {
        const std::string reward = rewards[i];
        std::string places = reward.find("#c") != std::string::npos ? R"(["a", "b", "c"])" : R"(["a", "b"])";
        if (!measures.empty()) measures += ",\n    ";
        measures += R"({"name": "m)" + std::to_string(i) + R"(", "kind": "instantaneous", "watch": false, "places": )" +
                    places + R"(, "reward": ")" + reward + "\"}";
    }
    dir.write("net.json", smallNet(measures));
    ProgramResult r = generate(dir, dir.file("net.json"));
    ASSERT_EQ(r.status, 0) << r.err;
    for (int i = 0; i < 5; ++i) {
        const std::string code = dir.read("out/MeasureObj_m" + std::to_string(i) + ".cpp");
        EXPECT_NE(code.find(expected[i]), std::string::npos) << code;
    }
    // The output arc's assignment and the delay reach the transition.
    const std::string transition = dir.read("out/Transition_t.cpp");
    EXPECT_NE(transition.find("return delay.Exp(2.5);"), std::string::npos) << transition;
    EXPECT_NE(transition.find("    token_x->set_k(3);\n    nona1_Place.addToken(x);\n"), std::string::npos)
        << transition;
}

// A place holds tokens of its colour only, so a search tests a token's colour
// only where the not-bound tokens of an infinite server's input places of
// several colours lie in one list; the database reader keeps the places so.
// A single-server search reads a place without a limited view whole, without
// asking the kernel which list to read.
TEST(Generator, SearchesTestColoursAndChooseListsOnlyWhereTheyCanDiffer) {
    ScratchDir dir("generator-colour-tests");
    dir.write("single.json", smallNet());
    ASSERT_EQ(generate(dir, dir.file("single.json")).status, 0);
    const std::string single = dir.read("out/Transition_t.cpp");
    EXPECT_EQ(single.find("Is_A<"), std::string::npos) << single;
    EXPECT_NE(single.find("MarkingList& x_marking = x_Place.getFullMarking();"), std::string::npos) << single;
    dir.write("limited.json", smallNet("", R"("name": "b", "colour": "Data", "capacity": 0, "limitedView": false)",
                                       R"("name": "b", "colour": "Data", "capacity": 0, "limitedView": true)"));
    ASSERT_EQ(generate(dir, dir.file("limited.json")).status, 0);
    const std::string limited = dir.read("out/Transition_t.cpp");
    EXPECT_NE(limited.find("MarkingList& x_marking = getPlaceMarking(x_Place);"), std::string::npos) << limited;
    EXPECT_NE(limited.find("MarkingList& w_marking = w_Place.getFullMarking();"), std::string::npos) << limited;
    const std::string build = dir.read("out/buildnet.cpp");
    EXPECT_NE(build.find(R"(colourOf{{"a", "int"}, {"b", "Data"}, {"c", "Data"}})"), std::string::npos) << build;

    dir.write("infinite.json", smallNet("", R"("server": "single")", R"("server": "infinite")"));
    ASSERT_EQ(generate(dir, dir.file("infinite.json")).status, 0);
    const std::string infinite = dir.read("out/Transition_t.cpp");
    EXPECT_NE(infinite.find("if (!Is_A<Token_Data>(x)) continue;"), std::string::npos) << infinite;
    EXPECT_NE(infinite.find("if (!Is_A<Token_int>(w)) continue;"), std::string::npos) << infinite;
    EXPECT_NE(infinite.find("MarkingList& x_marking = getPlaceMarking(x_Place);"), std::string::npos) << infinite;
}

// The kernel binds the first token of each input place itself, without the
// generated search, where that search tests nothing: a single server whose
// arcs of multiplicity 1 come from places of their own without a limited
// view, and no guard. Likewise it samples a delay that is absent or
// exponential with a fixed mean without the generated sampler.
TEST(Generator, LeavesOnlyPlainSearchesAndDelaysToTheKernel) {
    ScratchDir dir("generator-kernel-forms");
    const auto transition = [&](const std::string& name, const std::string& from = "", const std::string& to = "") {
        dir.write(name + ".json", smallNet("", from, to));
        EXPECT_EQ(generate(dir, dir.file(name + ".json")).status, 0) << name;
        return dir.read("out/Transition_t.cpp");
    };
    const std::string plain = transition("plain");
    EXPECT_NE(plain.find("places = {&x_Place, &w_Place};"), std::string::npos) << plain;
    EXPECT_NE(plain.find("mean = 2.5;\n    return DelayForm::Exponential;"), std::string::npos) << plain;

    // Each keeps the generated code (the search, or the sampler).
    const auto keeps = [&](const std::string& function, const std::string& name, const std::string& from,
                           const std::string& to) {
        const std::string text = transition(name, from, to);
        EXPECT_EQ(text.find(function), std::string::npos) << name << "\n" << text;
    };
    const std::string inputs = R"({"variable": "w", "place": "a", "multiplicity": 1})";
    keeps("findsHeadsOf", "guarded", R"("server": "single")", R"("server": "single", "guard": "x.k == 1")");
    keeps("findsHeadsOf", "twice", inputs, R"({"variable": "w", "place": "b", "multiplicity": 1})");
    keeps("findsHeadsOf", "double", inputs, R"({"variable": "w", "place": "a", "multiplicity": 2})");
    keeps("findsHeadsOf", "infinite", R"("server": "single")", R"("server": "infinite")");
    keeps("findsHeadsOf", "limited", R"("name": "b", "colour": "Data", "capacity": 0, "limitedView": false)",
          R"("name": "b", "colour": "Data", "capacity": 0, "limitedView": true)");

    const std::string delay = R"("delay": {"distribution": "Exp", "parameters": [2.5]})";
    keeps("fixedDelay", "uniform", delay, R"("delay": {"distribution": "Uni", "parameters": [1.0, 2.0]})");
    keeps("fixedDelay", "read", delay, R"j("delay": "Exp(x.k)")j");
    const std::string immediate = transition("immediate", R"("kind": "timed", )" + delay, R"("kind": "immediate")");
    EXPECT_NE(immediate.find("fixedDelay(double&) const { return DelayForm::None; }"), std::string::npos) << immediate;
}
