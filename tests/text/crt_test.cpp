// Command runner: splitting of the command text, the argument vector handed
// to the tool, the parser reset, and memory failures.
#include <optional>
#include <string>
#include <vector>

#include "vektest.hpp"

namespace {

// What the tool saw on its last run.
struct Seen {
    int calls = 0;
    int argc = 0;
    char **argv = nullptr;
    std::vector<std::string> words; // argv[0..argc-1] read up to their NUL
    bool null_after_last = false;
    bool rest_null = true; // entries argc+1 .. 31 (when argc < 31)
    int optind = 0;
    int opterr = 0;
};
Seen g_seen;

int record_tool(int argc, char **argv) {
    ++g_seen.calls;
    g_seen.argc = argc;
    g_seen.argv = argv;
    g_seen.words.clear();
    for (int i = 0; i < argc; ++i) g_seen.words.emplace_back(argv[i]);
    g_seen.null_after_last = argv[argc] == nullptr;
    for (int i = argc + 1; i < 32; ++i) g_seen.rest_null = g_seen.rest_null && argv[i] == nullptr;
    g_seen.optind = vek_optind;
    g_seen.opterr = vek_opterr;
    return 40 + argc;
}

class Crt : public vektest::LeakCheckedTest {
protected:
    void SetUp() override {
        vektest::LeakCheckedTest::SetUp();
        g_seen = Seen{};
    }
    void TearDown() override {
        vek_initopt();
        vektest::LeakCheckedTest::TearDown();
    }
    char prog_[8] = "tool";
};

struct SplitCase {
    const char *text;
    std::vector<std::string> words; // after the program name, as their strings read
};

TEST_F(Crt, SplitsTheTextIntoWords) {
    const std::vector<SplitCase> cases = {
        {"  ls  -l \n", {"ls", "-l"}},
        {"", {}},
        {" \t\n\r\v\f ", {}},
        {"a b", {"a", "b"}},
        {"a\nb\n", {"a", "b"}},
        {"a\n\n b", {"a", "b"}},
        // a tab (carriage return, vertical tab, form feed) after a word stays:
        // it separates the words, but the word's string runs on to the next NUL
        {"a\tb", {"a\tb", "b"}},
        {"a\tb c", {"a\tb", "b", "c"}},
        {"a\t b", {"a\t b", "b"}},
        {"a \tb", {"a", "b"}},
        {"x\ry\vz\fw", {"x\ry\vz\fw", "y\vz\fw", "z\fw", "w"}},
        {"one\r\ntwo", {"one\r\ntwo", "two"}},
        {"-a -bvalue file", {"-a", "-bvalue", "file"}},
    };
    for (const SplitCase &c : cases) {
        SCOPED_TRACE(testing::PrintToString(std::string(c.text)));
        g_seen = Seen{};
        const int n = static_cast<int>(c.words.size()) + 1;
        EXPECT_EQ(vek_crt(prog_, c.text, record_tool), 40 + n);
        EXPECT_EQ(g_seen.calls, 1);
        ASSERT_EQ(g_seen.argc, n);
        std::vector<std::string> want{"tool"};
        want.insert(want.end(), c.words.begin(), c.words.end());
        EXPECT_EQ(g_seen.words, want);
        EXPECT_TRUE(g_seen.null_after_last);
        EXPECT_TRUE(g_seen.rest_null);
    }
}

TEST_F(Crt, NullTextRunsTheToolWithTheProgramNameOnly) {
    EXPECT_EQ(vek_crt(prog_, nullptr, record_tool), 41);
    EXPECT_EQ(g_seen.argc, 1);
    EXPECT_EQ(g_seen.words, std::vector<std::string>{"tool"});
    EXPECT_TRUE(g_seen.null_after_last);
    EXPECT_TRUE(g_seen.rest_null);
}

TEST_F(Crt, ProgramNameIsPassedUnchangedAndTheTextIsNotWritten) {
    const char text[] = "a b\nc";
    static char *first_entry = nullptr;
    static const char *first_word = nullptr;
    const auto tool = [](int, char **argv) -> int {
        first_entry = argv[0];
        first_word = argv[1];
        return 0;
    };
    EXPECT_EQ(vek_crt(prog_, text, tool), 0);
    EXPECT_EQ(first_entry, prog_);
    EXPECT_NE(first_word, text); // the words live in a private copy
    EXPECT_STREQ(text, "a b\nc");
}

TEST_F(Crt, ResetsTheOptionParserBeforeTheRun) {
    vek_optind = 7;
    vek_opterr = 0;
    vek_optarg = prog_;
    vek_pIndexPosition = prog_;
    EXPECT_EQ(vek_crt(prog_, "x", record_tool), 42);
    EXPECT_EQ(g_seen.optind, 1);
    EXPECT_EQ(g_seen.opterr, 1);
}

TEST_F(Crt, ManyAndLongWordsHaveNoLimit) {
    for (int words : {29, 30, 31, 32, 33, 100, 5000}) {
        SCOPED_TRACE(words);
        std::string text;
        std::vector<std::string> want{"tool"};
        for (int i = 0; i < words; ++i) {
            // append, not "w" + ...: gcc 12 at -O3 warns falsely (-Wrestrict,
            // its bug 105329) about inserting into a temporary string
            want.push_back(std::string("w").append(std::to_string(i)));
            text += want.back() + (i % 2 != 0 ? "\n" : "  ");
        }
        EXPECT_EQ(vek_crt(prog_, text.c_str(), record_tool), 40 + words + 1);
        EXPECT_EQ(g_seen.words, want);
        EXPECT_TRUE(g_seen.null_after_last);
    }
    for (size_t len : {511u, 512u, 513u, 100000u}) {
        SCOPED_TRACE(len);
        const std::string word(len, 'q');
        EXPECT_EQ(vek_crt(prog_, (" " + word + " " + word + "\n").c_str(), record_tool), 43);
        EXPECT_EQ(g_seen.words, (std::vector<std::string>{"tool", word, word}));
    }
}

// A tool that parses options and leaves the parser pointing into its words.
int parsing_tool(int argc, char **argv) {
    int n = 0;
    while (vek_getopt(argc, argv, "ab:") != -1 && ++n < 2) {
    }
    return n;
}

TEST_F(Crt, ParserVariablesNeverPointIntoTheReleasedWords) {
    // -b's argument inside its word
    EXPECT_EQ(vek_crt(prog_, "-a -bvalue", parsing_tool), 2);
    EXPECT_EQ(vek_optarg, nullptr);
    EXPECT_EQ(vek_optind, 3);
    // the cursor left inside "-aab"
    EXPECT_EQ(vek_crt(prog_, "-aab", parsing_tool), 2);
    EXPECT_EQ(vek_pIndexPosition, nullptr);
    EXPECT_EQ(vek_optind, 2);
    // the argument as its own word, kept at the end of the options
    EXPECT_EQ(vek_crt(prog_, "-b value", parsing_tool), 1);
    EXPECT_EQ(vek_optarg, nullptr);
    EXPECT_EQ(vek_optind, 3);

    // pointers elsewhere are left alone
    static char outside[] = "kept";
    const auto tool = [](int, char **argv) -> int {
        vek_optarg = outside;
        vek_pIndexPosition = argv[0];
        return 5;
    };
    EXPECT_EQ(vek_crt(prog_, "w", tool), 5);
    EXPECT_EQ(vek_optarg, outside);
    EXPECT_EQ(vek_pIndexPosition, prog_);
}

TEST_F(Crt, NullToolIsNotRun) {
    EXPECT_EQ(vek_crt(prog_, "a b", nullptr), -1);
    EXPECT_EQ(vek_crt(prog_, nullptr, nullptr), -1);
}

// The copy of the text, and the vector for more than 30 words: when either
// cannot be allocated the tool is not run and the result is -1.
TEST_F(Crt, MemoryFailureSkipsTheToolAndReturnsMinusOne) {
    struct Case {
        std::string text;
        uint32_t points;
    };
    std::string long_text;
    for (int i = 0; i < 40; ++i) long_text += "w ";
    const std::vector<Case> cases = {{"a b c", 1}, {long_text, 2}};
    for (const Case &c : cases) {
        SCOPED_TRACE(c.text);
        const uint32_t points = vektest::sweep_alloc_failures(VEK_SALTEST_HEAP, [&](uint32_t) {
            g_seen = Seen{};
            const int result = vek_crt(prog_, c.text.c_str(), record_tool);
            if (vek_saltest_faults_fired() != 0) {
                EXPECT_EQ(result, -1);
                EXPECT_EQ(g_seen.calls, 0);
            } else {
                EXPECT_EQ(g_seen.calls, 1);
                EXPECT_EQ(result, 40 + g_seen.argc);
            }
        });
        EXPECT_EQ(points, c.points);
    }
    // a null text needs no memory
    vek_saltest_fail_alloc(VEK_SALTEST_HEAP, 1, 0);
    EXPECT_EQ(vek_crt(prog_, nullptr, record_tool), 41);
    vek_saltest_reset();
}

} // namespace
