// The description language construct by construct: what the generator
// refuses (one line naming the element and the key) and the C++ it writes
// for what it accepts. The features net (tests/model/nets) runs every
// construct; here the shape of the code and the messages are pinned down.
#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "TestSupport.h"

using testsupport::ProgramResult;
using testsupport::ScratchDir;

namespace {

const std::string kGenerator = std::string(SIM_SOURCE_DIR) + "/scripts/generate_net.py";

ProgramResult runGenerator(const ScratchDir& dir, std::vector<std::string> args) {
    args.insert(args.begin(), {"python3", kGenerator});
    return testsupport::runProgram("/usr/bin/env", args, dir.path());
}

// Places P (int), Q (Job) and R (Job, capacity 3); transition T binds x
// from Q and i from P and puts x into R; measure M averages #P.
const std::string kBase = R"json({
  "net": "lang",
  "colourTypes": [{"name": "Job", "attributes": [{"name": "l", "type": "int"}, {"name": "r", "type": "real"},
                  {"name": "n", "type": "string"}, {"name": "b", "type": "bool"}, {"name": "t", "type": "DateTime"}]}],
  "places": [{"name": "P"}, {"name": "Q", "colour": "Job"}, {"name": "R", "colour": "Job", "capacity": 3}],
  "transitions": [{"name": "T", "kind": "timed", "delay": "Exp(1.0)", "GUARDS"
    "inputs": [{"variable": "x", "place": "Q"}, {"variable": "i", "place": "P"}],
    "outputs": [{"place": "R", "token": {"kind": "bound", "variable": "x"}}MORE]}],
  "measures": [{"name": "M", "kind": "timeAverage", "reward": "#P"}]
})json";

// The base description with each "from" replaced by its "to".
std::string variant(const std::vector<std::pair<std::string, std::string>>& edits) {
    std::string text = kBase;
    bool guards = false, more = false;
    for (const auto& e : edits) {
        const std::size_t at = text.find(e.first);
        EXPECT_NE(at, std::string::npos) << e.first;
        if (at == std::string::npos) continue;
        text.replace(at, e.first.size(), e.second);
        guards = guards || e.first == "\"GUARDS\"";
        more = more || e.first == "MORE";
    }
    if (!guards) text.replace(text.find("\"GUARDS\""), 8, "");
    if (!more) text.replace(text.find("MORE"), 4, "");
    return text;
}

std::vector<std::string> lines(const std::string& text) {
    std::vector<std::string> out;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) out.push_back(line);
    return out;
}

struct Refusal {
    std::vector<std::pair<std::string, std::string>> edits;
    const char* message;  // what follows "<file>: "
};

}  // namespace

TEST(NetLanguage, EveryMistakeIsOneLineNamingTheElementAndTheKey) {
    const Refusal refusals[] = {
        // Keys.
        {{{"\"capacity\": 3", "\"capacityy\": 3"}}, "place R: unknown key 'capacityy'"},
        {{{"\"GUARDS\"", "\"gaurd\": \"x.l > 1\","}}, "transition T: unknown key 'gaurd'"},
        {{{"{\"name\": \"P\"}", "{\"name\": \"P\", \"id\": 1}"}}, "either every place has an 'id' or none has"},
        {{{"\"kind\": \"bound\", \"variable\": \"x\"", "\"kind\": \"bound\", \"variable\": \"x\", \"value\": 3"}},
         "transition T output 1: a bound token takes no 'value'"},
        // Guards and what they may read.
        {{{"\"GUARDS\"", "\"guard\": \"x.q > 1\","}},
         "transition T: guard \"x.q > 1\": colour type Job has no attribute 'q'"},
        {{{"\"GUARDS\"", "\"guard\": \"#P > 1\","}},
         "transition T: guard \"#P > 1\": a binding guard reads the bound tokens only; conditions on token counts "
         "belong in 'globalGuard'"},
        {{{"\"GUARDS\"", "\"guard\": \"x.l + 1\","}},
         "transition T: guard \"x.l + 1\": must be a condition (true or false), not an int"},
        {{{"\"GUARDS\"", "\"guard\": \"now > 1\","}},
         "transition T: guard \"now > 1\": guards do not read the clock; times belong in 'timeGuard'"},
        {{{"\"GUARDS\"", "\"guard\": \"i.l > 0\","}},
         "transition T: guard \"i.l > 0\": i is an int token and has no attributes; i alone is its value"},
        {{{"\"GUARDS\"", "\"guard\": \"x > 0\","}},
         "transition T: guard \"x > 0\": x is a Job token: read one of its attributes, e.g. x.l"},
        {{{"\"GUARDS\"", "\"guard\": \"x.n < 'b'\","}},
         "transition T: guard \"x.n < 'b'\": strings compare with == and != only"},
        {{{"\"GUARDS\"", "\"globalGuard\": \"x.l > 1\","}},
         "transition T: globalGuard \"x.l > 1\": a global guard reads token counts and sums over places only; "
         "conditions on the bound tokens belong in 'guard'"},
        {{{"\"GUARDS\"", "\"timeGuard\": \"now > 3\","}},
         "transition T: timeGuard \"now > 3\": must be a number, not a condition"},
        // Delays.
        {{{"\"Exp(1.0)\"", "\"Foo(1)\""}}, "transition T: delay \"Foo(1)\" must be a distribution with its parameters"},
        {{{"\"Exp(1.0)\"", "\"Exp(#P)\""}},
         "transition T: delay \"Exp(#P)\" parameter 1 \"#P\": a firing delay reads the bound tokens only: it is drawn "
         "once, when the binding is made, and not again when the marking changes"},
        {{{"\"Exp(1.0)\"", "\"DUni(x.r, 3)\""}},
         "transition T: delay \"DUni(x.r, 3)\" parameter 1 \"x.r\": must be a whole number, not a real (round(), "
         "floor() and ceil() give whole numbers)"},
        // Arcs and tokens.
        {{{"\"place\": \"P\"}", "\"place\": \"P\", \"multiplicity\": 0}"}},
         "transition T input 2: 'multiplicity' must be 1 or more"},
        {{{"\"place\": \"Q\"}", "\"place\": \"Q\", \"multiplicity\": 2}"}, {"\"GUARDS\"", "\"guard\": \"x.l > 0\","}},
         "transition T: guard \"x.l > 0\": x binds 2 tokens; expressions read only variables of arcs of "
         "multiplicity 1 (use one arc per token to name each)"},
        {{{"MORE", ", {\"place\": \"R\", \"token\": {\"kind\": \"bound\", \"variable\": \"x\"}}"}},
         "transition T output 2: x already goes into R (output 1); a token lies in one place only, so put a copy here"},
        {{{"MORE", ", {\"place\": \"P\", \"token\": {\"kind\": \"new\", \"expression\": \"x.r\"}}"}},
         "transition T output 2: expression \"x.r\": must be a whole number, not a real"},
        {{{"\"variable\": \"x\"}}",
           "\"variable\": \"x\", \"assign\": [{\"attribute\": \"n\", \"expression\": \"x.l\"}]}}"}},
         "transition T output 1 assignment to n: expression \"x.l\": must be a text, not an int"},
        {{{"\"variable\": \"x\"}}",
           "\"variable\": \"x\", \"assign\": [{\"attribute\": \"t\", \"expression\": \"'noon'\"}]}}"}},
         "transition T output 1 assignment to t: 'noon' is not a time hh:mm:ss@mm/dd/yyyy"},
        {{{"\"variable\": \"i\"", "\"variable\": \"x_marking\""}},
         "transition T: the generated code would name two things x_marking (for variable x and for variable "
         "x_marking)"},
        {{{"\"variable\": \"i\"", "\"variable\": \"value1\""}},
         "transition T input 2: 'value1' cannot be a variable name"},
        // Transitions the kernel cannot run soundly.
        {{{"\"kind\": \"timed\", \"delay\": \"Exp(1.0)\",", "\"kind\": \"immediate\","},
          {"\"inputs\": [{\"variable\": \"x\", \"place\": \"Q\"}, {\"variable\": \"i\", \"place\": \"P\"}]",
           "\"inputs\": []"},
          {"{\"place\": \"R\", \"token\": {\"kind\": \"bound\", \"variable\": \"x\"}}", "{\"place\": \"P\"}"}},
         "transition T: a transition without input arcs must be timed and single-server (it would fire without end)"},
        {{{"\"GUARDS\"", "\"server\": \"infinite\","},
          {"\"colour\": \"Job\"}", "\"colour\": \"Job\", \"limitedView\": true}"}},
         "transition T: place Q has a limited view, which infinite-server transitions do not honour"},
        {{{"\"GUARDS\"", "\"log\": [\"x.l\"],"}}, "transition T: 'log' needs a 'logfile' with a name"},
        {{{"\"GUARDS\"", "\"logfile\": {\"name\": \"../x.log\"},"}},
         "transition T: logfile name '../x.log' must be a file name without folders"},
        // Rewards.
        {{{"\"reward\": \"#P\"", "\"reward\": \"x.l\""}},
         "measure M: reward \"x.l\": a reward reads the marking: token counts #P and sums over places"},
        {{{"\"reward\": \"#P\"", "\"reward\": \"1 < #P < 5\""}},
         "measure M: reward \"1 < #P < 5\": chains comparisons; join them with 'and'"},
        {{{"\"reward\": \"#P\"", "\"reward\": \"#P = 5\""}},
         "measure M: reward \"#P = 5\": use == to compare, at '= 5'"},
        {{{"\"reward\": \"#P\"", "\"reward\": \"#P + #P >= 0\""}},
         "measure M: reward \"#P + #P >= 0\": is always true: a token count is never negative"},
        {{{"\"reward\": \"#P\"", "\"reward\": \"-1 == #P\""}},
         "measure M: reward \"-1 == #P\": is always false: a token count is never negative"},
        {{{"\"reward\": \"#P\"", "\"reward\": \"#P == #P\""}},
         "measure M: reward \"#P == #P\": compares an expression with itself"},
        {{{"\"GUARDS\"", "\"guard\": \"x.l < 3000000000\","}},
         "transition T: guard \"x.l < 3000000000\": 3000000000 lies outside the 32-bit range of an int attribute"},
        {{{"\"reward\": \"#P\"", "\"reward\": \"max(#P)\""}},
         "measure M: reward \"max(#P)\": max takes 2 or more arguments, not 1"},
        {{{"\"reward\": \"#P\"", "\"reward\": \"sum(q in Q : q.z)\""}},
         "measure M: reward \"sum(q in Q : q.z)\": colour type Job has no attribute 'z'"},
        {{{"\"reward\": \"#P\"", "\"reward\": \"#P > 1 ? 'a' : 2\""}},
         "measure M: reward \"#P > 1 ? 'a' : 2\": ? : has a text on one side and an int on the other"},
        {{{"\"name\": \"M\", \"kind\": \"timeAverage\"",
           "\"name\": \"ImportanceFunction\", \"kind\": \"instantaneous\""}},
         "measure ImportanceFunction: the importance function of RESTART must be of kind timeAverage"},
        // The initial marking.
        {{{"\"colour\": \"Job\"}", "\"colour\": \"Job\", \"initialMarking\": \"database\"}"}},
         "place Q: initialMarking database needs the net's 'database' entry"},
    };
    ScratchDir dir("net-language-refusals");
    std::vector<std::string> args = {"--check"};
    const std::size_t n = sizeof refusals / sizeof refusals[0];
    for (std::size_t k = 0; k < n; ++k) {
        const std::string name = "case" + std::to_string(k) + ".json";
        dir.write(name, variant(refusals[k].edits));
        args.push_back(dir.file(name));
    }
    ProgramResult r = runGenerator(dir, args);
    EXPECT_EQ(r.status, 1);
    std::vector<std::string> answers = lines(r.out);
    ASSERT_EQ(answers.size(), n) << r.out << r.err;
    for (std::size_t k = 0; k < n; ++k) {
        const std::string prefix = dir.file("case" + std::to_string(k) + ".json") + ": ";
        EXPECT_EQ(answers[k].rfind(prefix + refusals[k].message, 0), 0u) << answers[k];
    }
}

// The C++ of the constructs, from the features net.
TEST(NetLanguage, ConstructsBecomeThePlainCodeTheKernelExpects) {
    ScratchDir dir("net-language-features");
    ProgramResult r =
        runGenerator(dir, {"--description", std::string(SIM_SOURCE_DIR) + "/tests/model/nets/features.net.json",
                           "--output-dir", dir.file("out")});
    ASSERT_EQ(r.status, 0) << r.err;
    const struct {
        const char* file;
        const char* code;
    } expected[] = {
        // Two arcs from one place are one kernel arc; they bind different tokens.
        {"buildnet.cpp", "    linkPlaceToTransition(\"Copies\", \"Pair\", 2);\n"},
        {"Transition_Pair.cpp",
         "            if (b.GetRawPtr() == a.GetRawPtr()) continue;\n"
         "            if (!(token_a->get_prio() == token_b->get_prio())) continue;\n"},
        // A guard's parts are tested as soon as their tokens are bound.
        {"Transition_Split.cpp",
         "        if (!(token_x->get_prio() >= 1)) continue;\n"
         "        if (!(token_x->get_tag() != std::string(\"skip\"))) continue;\n"},
        // Multiplicity 3: the oldest free tokens, in one pass.
        {"Transition_Batch.cpp", "        if (k_count == 3) break;\n"},
        // Only arcs of a higher multiplicity: one combination at most, found by
        // the first-only search, whose candidate list the kernel makes.
        {"Transition_Batch.cpp", "    if (k_marking.size() < 3) return false;\n"},
        {"Transition_Batch.cpp",
         "TempBindingList* Transition_Batch::generateBindingList() { return firstBindingAsList(); }\n"},
        {"Transition_Batch.h", "    bool searchesFirstOnly() const override { return true; }\n"},
        {"Transition_Gather.cpp", "            if (candidate.GetRawPtr() == q.GetRawPtr()) continue;\n"},
        {"buildnet.cpp", "    linkPlaceToTransition(\"Pool\", \"Gather\", 3);\n"},
        // Token-dependent delay, global guard, time guard, local guard flag.
        {"Transition_Split.cpp", "    return delay.Det(token_x->get_size());\n"},
        {"Transition_Drain.cpp", "bool Transition_Drain::globalGuard() { return w_Place.getMarkingSize() >= 2; }\n"},
        {"Transition_Drain.cpp", "    w_Place.addGlobalGuardTransition(this);\n"},
        {"Transition_Tick.cpp", "    const double wait = netexpr::window(when.FullDateTime(), 10.0, 8.0, 9.0);\n"},
        {"Transition_Tick.cpp", "bool Transition_Tick::hasTimeguard() const { return true; }\n"},
        {"buildnet.cpp",
         "new Transition_Split(1, \"Split\", this, arcPlaces({\"Source\", \"Work\", \"Copies\", \"Ids\"}), \"\","},
        // Infinite server over two places: the not-bound list mixes them.
        {"Transition_Join.cpp", "        if (!a_Place.getFullMarking().contains(a.GetRawPtr())) continue;\n"},
        // Output values are taken before the firing moves tokens; copies of the token as bound.
        {"Transition_Split.cpp",
         "    const long value4 = static_cast<long>(token_x->get_id()) + 100;  // x.id + 100\n"
         "    std::vector<Ptr<Token_Job>> produced2;\n"
         "    for (int made = 0; made < 2; ++made) produced2.emplace_back(new Token_Job(*token_x, false));\n"
         "    x_Place.removeToken(x);\n"
         "    token_x->set_done(value1);\n"
         "    token_x->set_born(DateTime(value2));\n"},
        {"Transition_Batch.cpp", "    const long value1 = static_cast<long>(k_Place.getMarkingSize());  // #Ids\n"},
        {"Transition_Tick.cpp", "    for (int made = 0; made < 2; ++made) {\n"},
        // Random choice: every combination is offered.
        {"Transition_Tick.cpp", "        result->push_back(tokens);\n    }\n    return result;\n"},
        // Rewards: sums over tokens, functions, conditions.
        {"MeasureObj_Mixed.cpp",
         "    return std::max<long>(n_Work, 3) - std::min<double>(n_Paired, 0.5) + std::fabs(n_Ids - 4.0)\n"
         "           + static_cast<double>(n_Joined == 3 ? 1000 : 0);\n"},
        {"MeasureObj_JoinedPrio.cpp",
         "dynamic_cast<const Token_Job*>(held.GetRawPtr()); if (each_j != nullptr) total += each_j->get_prio();"},
        {"Transition_Join.cpp",
         "    file << now().FullDateTime() << '\\t' << token_a->get_tag() << '\\t' << token_b->get_id()"},
    };
    for (const auto& e : expected) {
        const std::string code = dir.read(std::string("out/") + e.file);
        EXPECT_NE(code.find(e.code), std::string::npos) << e.file << " lacks\n" << e.code << "\n" << code;
    }
    EXPECT_TRUE(dir.exists("out/NetExpressions.h"));
}

// Mixed arithmetic keeps whole numbers whole (in 64 bits), compares counts
// with negative numbers as signed numbers, and divides in reals.
TEST(NetLanguage, ArithmeticKeepsItsTypesInTheGeneratedCode) {
    const struct {
        const char* reward;
        const char* code;
    } cases[] = {
        {"#P - 1 > -1", "return static_cast<double>(n_P - 1.0 > -1.0);"},
        {"#P >= 5", "return static_cast<double>(n_P >= 5);"},
        {"#P + 2 > -2 or #P == 0", "return static_cast<double>(static_cast<long>(n_P) + 2 > -2 || n_P == 0);"},
        {"-#P * -2", "return -static_cast<double>(n_P) * -2.0;"},
        {"mod(#P + 7, 3) + round(2.5)",
         "return static_cast<double>(netexpr::mod(static_cast<long>(n_P) + 7, 3) + netexpr::toLong(std::round(2.5)));"},
        {"abs(#P - #Q) + (#P > 0 and #Q > 0)",
         "return std::fabs(static_cast<double>(n_P) - n_Q) + static_cast<double>(n_P > 0 && n_Q > 0);"},
        {"sum(q in Q : q.l * 2) / 4",
         "if (each_q != nullptr) total += static_cast<long>(each_q->get_l()) * 2; } "
         "return total; }()\n           / 4.0;"},
        {"sum(q in Q : q.r) + max(1, #Q, 2.5)",
         "total += each_q->get_r(); } return total; }()\n           + std::max<double>({1.0, static_cast<double>(n_Q), "
         "2.5})"},
    };
    std::string measures;
    const int n = sizeof cases / sizeof cases[0];
    for (int k = 0; k < n; ++k) {
        if (k > 0) measures += ", ";
        measures += "{\"name\": \"M" + std::to_string(k) + "\", \"kind\": \"timeAverage\", \"reward\": \"" +
                    cases[k].reward + "\"}";
    }
    ScratchDir dir("net-language-arithmetic");
    dir.write("net.json", variant({{"{\"name\": \"M\", \"kind\": \"timeAverage\", \"reward\": \"#P\"}", measures}}));
    ProgramResult r = runGenerator(dir, {"--description", dir.file("net.json"), "--output-dir", dir.file("out")});
    ASSERT_EQ(r.status, 0) << r.err;
    // A time average's reward is inline in its header (the net's measure pass
    // inlines it).
    for (int k = 0; k < n; ++k) {
        const std::string code = dir.read("out/MeasureObj_M" + std::to_string(k) + ".h");
        EXPECT_NE(code.find(cases[k].code), std::string::npos) << cases[k].reward << "\n" << code;
    }
}

// Optional keys take their defaults: ids in file order, no database, a new
// int token of value 0, immediate transitions of priority 1 and weight 1.
TEST(NetLanguage, MinimalDescriptionTakesTheDefaults) {
    ScratchDir dir("net-language-defaults");
    dir.write("net.json", R"json({"net": "tiny",
      "places": [{"name": "A"}, {"name": "B", "capacity": 2}],
      "transitions": [{"name": "Go", "kind": "immediate", "inputs": [{"place": "A"}], "outputs": [{"place": "B"}]},
                      {"name": "Come", "kind": "timed", "delay": "Exp(1)", "outputs": [{"place": "A"}]}]})json");
    ProgramResult r = runGenerator(dir, {"--description", dir.file("net.json"), "--output-dir", dir.file("out")});
    ASSERT_EQ(r.status, 0) << r.err;
    const std::string build = dir.read("out/buildnet.cpp");
    EXPECT_NE(build.find("    createPlace(this, 2, \"B\", false, 2, false);\n"), std::string::npos) << build;
    EXPECT_NE(
        build.find("new Transition_Go(1, \"Go\", this, arcPlaces({\"A\", \"B\"}), \"\", 1.0, 1, false, false, false,"),
        std::string::npos)
        << build;
    EXPECT_NE(build.find("void ImplementedNetClass::createTokens() {}\n"), std::string::npos);
    EXPECT_NE(build.find("    Token_int::addInitialTokens(getPlace(\"A\"));\n"), std::string::npos);
    const std::string go = dir.read("out/Transition_Go.cpp");
    EXPECT_NE(go.find("    in1_Place.removeToken(in1);\n    nona1_Place.addToken(Ptr<Token>(new Token_int(0)));\n"),
              std::string::npos)
        << go;
    const std::string come = dir.read("out/Transition_Come.cpp");
    EXPECT_NE(come.find("bool Transition_Come::findFirstBinding(TokenList&) {\n    return true;\n}\n"), std::string::npos)
        << come;
}
