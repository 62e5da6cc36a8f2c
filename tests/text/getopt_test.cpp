// Option parser: initial state, the sequences of results for typical
// vectors, error modes and the parser variables.
#include <string>
#include <vector>

#include "vektest.hpp"

namespace {

// Declared first: the parser's variables as the library is loaded.
TEST(Getopt, VariablesStartAtTheirInitialValues) {
    EXPECT_EQ(vek_optind, 1);
    EXPECT_EQ(vek_opterr, 1);
    EXPECT_EQ(vek_optarg, nullptr);
    EXPECT_EQ(vek_pIndexPosition, nullptr);
}

// An argument vector with writable strings: the program name, then args.
class Argv {
public:
    explicit Argv(const std::vector<std::string> &args) : store_{"tool"} {
        store_.insert(store_.end(), args.begin(), args.end());
        for (std::string &s : store_) ptrs_.push_back(s.data());
        ptrs_.push_back(nullptr);
    }
    int argc() const { return static_cast<int>(store_.size()); }
    char **argv() { return ptrs_.data(); }
    char *at(size_t i) { return ptrs_[i]; }

private:
    std::vector<std::string> store_;
    std::vector<char *> ptrs_;
};

struct Step {
    int result;
    const char *arg; // the expected vek_optarg after an option, or nullptr
};

struct GetoptCase {
    std::vector<std::string> args;
    std::vector<Step> steps; // the last is -1
    int optind;
};

TEST(Getopt, SequencesOfResults) {
    const std::vector<GetoptCase> cases = {
        {{"-a", "-c", "file"}, {{'a', nullptr}, {'c', nullptr}, {-1, nullptr}}, 3},
        {{"-ac"}, {{'a', nullptr}, {'c', nullptr}, {-1, nullptr}}, 2},
        {{"-bvalue"}, {{'b', "value"}, {-1, nullptr}}, 2},
        {{"-b", "value", "-a"}, {{'b', "value"}, {'a', nullptr}, {-1, nullptr}}, 4},
        {{"-a", "--", "-c"}, {{'a', nullptr}, {-1, nullptr}}, 3},
        {{"-a", "-", "-c"}, {{'a', nullptr}, {-1, nullptr}}, 3},
        {{"--", "-c"}, {{-1, nullptr}, {'c', nullptr}, {-1, nullptr}}, 3}, // a further call goes on after "--"

        {{"-xa", "-c"}, {{'?', nullptr}, {'c', nullptr}, {-1, nullptr}}, 3},
        {{"-a", "-b"}, {{'a', nullptr}, {'?', nullptr}, {-1, nullptr}}, 3},
        {{"-:"}, {{'?', nullptr}, {-1, nullptr}}, 2},
        {{}, {{-1, nullptr}}, 1},
        // more sequences
        {{"-b", "-a"}, {{'b', "-a"}, {-1, nullptr}}, 3},
        {{"file", "-a"}, {{-1, nullptr}}, 1},
        {{"-a", "file", "-c"}, {{'a', nullptr}, {-1, nullptr}}, 2},
        {{"-cab", "x", "y"}, {{'c', nullptr}, {'a', nullptr}, {'b', "x"}, {-1, nullptr}}, 3},
        {{"-abc"}, {{'a', nullptr}, {'b', "c"}, {-1, nullptr}}, 2},
        {{"--a"}, {{'?', nullptr}, {-1, nullptr}}, 2},
        {{"-a:c"}, {{'a', nullptr}, {'?', nullptr}, {'c', nullptr}, {-1, nullptr}}, 2},
        {{"-d", "v"}, {{'d', "v"}, {-1, nullptr}}, 3}, // d:: takes an argument like d:
    };
    for (const GetoptCase &c : cases) {
        std::string name;
        for (const std::string &a : c.args) name += a + " ";
        SCOPED_TRACE(name);
        vek_initopt();
        Argv av(c.args);
        for (const Step &s : c.steps) {
            ASSERT_EQ(vek_getopt(av.argc(), av.argv(), "ab:cd::"), s.result);
            if (s.result == -1) continue;
            if (s.arg == nullptr) {
                EXPECT_EQ(vek_optarg, nullptr);
            } else {
                ASSERT_NE(vek_optarg, nullptr);
                EXPECT_STREQ(vek_optarg, s.arg);
            }
        }
        EXPECT_EQ(vek_optind, c.optind);
        EXPECT_EQ(vek_pIndexPosition, nullptr);
        if (vek_optind == av.argc()) {
            EXPECT_EQ(vek_getopt(av.argc(), av.argv(), "ab:cd::"), -1) << "stays at the end";
        }
    }
}

TEST(Getopt, ErrorsReturnTheCharacterWhenOpterrIsZero) {
    struct Case {
        std::vector<std::string> args;
        int result;
    };
    const std::vector<Case> cases = {{{"-x"}, 'x'}, {{"-b"}, 'b'}, {{"-:"}, ':'}, {{"-\xff"}, 0xff}};
    for (const Case &c : cases) {
        SCOPED_TRACE(c.args[0]);
        vek_initopt();
        vek_opterr = 0;
        Argv av(c.args);
        EXPECT_EQ(vek_getopt(av.argc(), av.argv(), "ab:c"), c.result);
        EXPECT_EQ(vek_optarg, nullptr);
        EXPECT_EQ(vek_getopt(av.argc(), av.argv(), "ab:c"), -1);
    }
    vek_initopt();
}

TEST(Getopt, CursorPointsAtTheOptionCharacterLastHandled) {
    vek_initopt();
    Argv av({"-ac", "-b"});
    EXPECT_EQ(vek_getopt(av.argc(), av.argv(), "ab:c"), 'a');
    EXPECT_EQ(vek_pIndexPosition, av.at(1) + 1);
    EXPECT_EQ(vek_getopt(av.argc(), av.argv(), "ab:c"), 'c');
    EXPECT_EQ(vek_pIndexPosition, av.at(1) + 2);
    EXPECT_EQ(vek_optind, 2);
    // a missing argument leaves the cursor on the option character
    EXPECT_EQ(vek_getopt(av.argc(), av.argv(), "ab:c"), '?');
    EXPECT_EQ(vek_pIndexPosition, av.at(2) + 1);
    EXPECT_EQ(vek_getopt(av.argc(), av.argv(), "ab:c"), -1);
    EXPECT_EQ(vek_pIndexPosition, nullptr);
}

TEST(Getopt, OptargIsKeptAtTheEndAndClearedAtANonOption) {
    vek_initopt();
    Argv end({"-bvalue"});
    EXPECT_EQ(vek_getopt(end.argc(), end.argv(), "b:"), 'b');
    EXPECT_EQ(vek_getopt(end.argc(), end.argv(), "b:"), -1);
    EXPECT_EQ(vek_optarg, end.at(1) + 2);

    vek_initopt();
    Argv stop({"-bvalue", "rest"});
    EXPECT_EQ(vek_getopt(stop.argc(), stop.argv(), "b:"), 'b');
    EXPECT_EQ(vek_getopt(stop.argc(), stop.argv(), "b:"), -1);
    EXPECT_EQ(vek_optarg, nullptr);
    EXPECT_EQ(vek_optind, 2);

    // ':' keeps the argument of the option before it
    vek_initopt();
    Argv colon({"-bv", "-:"});
    EXPECT_EQ(vek_getopt(colon.argc(), colon.argv(), "b:"), 'b');
    EXPECT_EQ(vek_getopt(colon.argc(), colon.argv(), "b:"), '?');
    EXPECT_EQ(vek_optarg, colon.at(1) + 2);
}

TEST(Getopt, InitoptRestoresTheInitialState) {
    Argv av({"-a", "-a"});
    vek_initopt();
    vek_getopt(av.argc(), av.argv(), "a");
    vek_opterr = 0;
    vek_optarg = av.at(0);
    vek_initopt();
    EXPECT_EQ(vek_optind, 1);
    EXPECT_EQ(vek_opterr, 1);
    EXPECT_EQ(vek_optarg, nullptr);
    EXPECT_EQ(vek_pIndexPosition, nullptr);
}

TEST(Getopt, MissingVectorOrElementsEndTheOptions) {
    vek_initopt();
    EXPECT_EQ(vek_getopt(3, nullptr, "a"), -1);
    char *holes[] = {nullptr, nullptr, nullptr};
    EXPECT_EQ(vek_getopt(3, holes, "a"), -1);
    EXPECT_EQ(vek_optind, 1);
    vek_optind = -4;
    Argv av({"-a"});
    EXPECT_EQ(vek_getopt(av.argc(), av.argv(), "a"), -1);
    vek_initopt();
    EXPECT_EQ(vek_getopt(av.argc(), av.argv(), nullptr), '?');
    vek_initopt();
}

// The same guards hold for the argument of an option whose element is used
// up: a negative index, a null vector or a null element has no argument to
// give, so the argument is missing.
TEST(Getopt, ArgumentIsMissingWhereTheVectorEnds) {
    Argv av({"-ab", "x"});
    vek_initopt();
    ASSERT_EQ(vek_getopt(av.argc(), av.argv(), "ab:"), 'a');
    vek_optind = -1;
    EXPECT_EQ(vek_getopt(av.argc(), av.argv(), "ab:"), '?');
    EXPECT_EQ(vek_optarg, nullptr);
    EXPECT_EQ(vek_optind, -1);
    EXPECT_EQ(vek_pIndexPosition, av.at(1) + 2);

    vek_initopt();
    ASSERT_EQ(vek_getopt(av.argc(), av.argv(), "ab:"), 'a');
    EXPECT_EQ(vek_getopt(av.argc(), nullptr, "ab:"), '?');
    EXPECT_EQ(vek_optarg, nullptr);
    EXPECT_EQ(vek_optind, 2);

    char prog[] = "tool";
    char opts[] = "-ab";
    char *holes[] = {prog, opts, nullptr};
    vek_initopt();
    vek_opterr = 0;
    ASSERT_EQ(vek_getopt(3, holes, "ab:"), 'a');
    EXPECT_EQ(vek_getopt(3, holes, "ab:"), 'b');
    EXPECT_EQ(vek_optarg, nullptr);
    EXPECT_EQ(vek_optind, 2);
    EXPECT_EQ(vek_getopt(3, holes, "ab:"), -1);
    vek_initopt();
}

} // namespace
