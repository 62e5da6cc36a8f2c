// Text utilities on random input, seeded and bounded: the string-list
// builder over random texts for every item type, compared with a plain
// model of the byte walk, and the command runner over random command texts
// with a tool that runs the option parser to its end.
#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "vektest.hpp"

namespace {

bool blank(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r'; }

// strtol in base 10 limited to the 32-bit range.
int32_t to_i32(const std::string &s) {
    errno = 0;
    const long long v = std::strtoll(s.c_str(), nullptr, 10);
    return static_cast<int32_t>(std::clamp<long long>(v, INT32_MIN, INT32_MAX));
}

// What the builder must produce: a status and the items in list order.
struct Expected {
    vek_st_t status = 0;
    std::vector<std::string> strings; // type 1 and custom values
    std::vector<int64_t> numbers;     // types 2 and 3
    size_t count = 0;                 // items of any type
};

constexpr size_t kMaxModelItems = 3000; // texts that would make more are skipped

Expected model(const std::string &text, vek_strlist_type_t type, char sep, char mark) {
    Expected e;
    std::string token;
    bool range = false;
    int32_t start = 0;
    const bool numeric = type == VEK_STRLIST_INT32 || type == VEK_STRLIST_INT64;
    auto end_item = [&]() -> bool {
        if (!range) {
            if (numeric) e.numbers.push_back(to_i32(token));
            else if (type == VEK_STRLIST_STRING || type == VEK_STRLIST_CUSVAL) e.strings.push_back(token);
            ++e.count;
        } else {
            const int32_t end = to_i32(token);
            if (end < start) { // a reversed range is an invalid range
                e.status = VEK_ST_STRLIST_INV_RANGE;
                return false;
            }
            if (static_cast<int64_t>(end) - start + e.count > static_cast<int64_t>(kMaxModelItems)) {
                e.count = kMaxModelItems + 1;
                return false;
            }
            for (int64_t v = start; v <= end; ++v) e.numbers.push_back(v);
            e.count += static_cast<size_t>(static_cast<int64_t>(end) - start + 1);
        }
        token.clear();
        range = false;
        return true;
    };
    for (char c : text) {
        if (blank(c)) continue;
        if (c == sep) {
            if (token.empty()) {
                if (range) {
                    e.status = VEK_ST_STRLIST_INV_RANGE;
                    return e;
                }
                continue;
            }
            if (!end_item()) return e;
        } else if (numeric && c == mark && mark != sep) {
            if (token.empty() || range) {
                e.status = VEK_ST_STRLIST_INV_RANGE;
                return e;
            }
            start = to_i32(token);
            range = true;
            token.clear();
        } else {
            if (token.size() == VEK_STRLIST_MAX_ITEM_LEN) {
                e.status = VEK_ST_STRLIST_ITEM_EXCEED;
                return e;
            }
            token += c;
        }
    }
    if (!token.empty()) {
        end_item();
    } else if (range) {
        e.status = VEK_ST_STRLIST_INV_RANGE;
    }
    if (e.status == 0) {
        std::sort(e.numbers.begin(), e.numbers.end());
        if (type == VEK_STRLIST_STRING) std::sort(e.strings.begin(), e.strings.end());
    }
    return e;
}

uintptr_t copy_text(const char *text) { return reinterpret_cast<uintptr_t>(vek_strlist_strdup(text)); }

class TextRandom : public vektest::LeakCheckedTest {
protected:
    std::mt19937 rng_{31337u};

    uint32_t below(uint32_t n) { return n == 0 ? 0 : static_cast<uint32_t>(rng_() % n); }

    char pick(const char *set) { return set[below(static_cast<uint32_t>(std::strlen(set)))]; }

    std::string random_list_text(char sep, char mark) {
        std::string t;
        const uint32_t pieces = below(14);
        for (uint32_t i = 0; i < pieces; ++i) {
            switch (below(9)) {
            case 0: t += sep; break;
            case 1: t += mark; break;
            case 2: t += pick("+-"); break;
            case 3: t += std::to_string(below(2) ? below(60) : rng_()); break;
            case 4: t += pick("abcXYZ_.#"); break;
            case 5: t += pick(" \t\n\v\f\r"); break;
            case 6: t += pick(",;:-"); break;
            case 7: { // a long item near the 255-character limit, blanks not counted
                const size_t len = 250 + below(10);
                std::string item(len, pick("a7"));
                if (below(2)) item.insert(below(static_cast<uint32_t>(len)), " \t");
                t += item;
                break;
            }
            default: t += std::to_string(below(40)) + mark + std::to_string(below(40)); break;
            }
        }
        return t;
    }

    // Walks the list with the iterator and every accessor; compares with e.
    void check_list(vek_strlist_node_t *list, vek_strlist_type_t type, const Expected &e, const std::string &what) {
        SCOPED_TRACE(what);
        if (e.count == 0) {
            EXPECT_EQ(list, nullptr);
            vek_strlist_iter_t *it = reinterpret_cast<vek_strlist_iter_t *>(1);
            EXPECT_EQ(vek_strlist_iter_fetch(list, &it), VEK_ST_STRLIST_INV_LIST);
            return;
        }
        vek_strlist_iter_t *it = nullptr;
        ASSERT_EQ(vek_strlist_iter_fetch(list, &it), 0u);
        ASSERT_NE(it, nullptr);
        size_t i = 0;
        while (vek_strlist_iter_hasNext(it) != 0) {
            vek_strlist_node_t *n = vek_strlist_iter_getNext(it);
            ASSERT_NE(n, nullptr);
            ASSERT_LT(i, e.count);
            vek_strlist_type_t t = 0;
            ASSERT_EQ(vek_strlist_node_val_getType(n, &t), 0u);
            EXPECT_EQ(t, type);
            const char *s = nullptr;
            int32_t i32 = 0;
            int64_t i64 = 0;
            uintptr_t cus = 0;
            const vek_st_t ss = vek_strlist_node_val_getString(n, &s);
            const vek_st_t s32 = vek_strlist_node_val_getInt32(n, &i32);
            const vek_st_t s64 = vek_strlist_node_val_getInt64(n, &i64);
            const vek_st_t sc = vek_strlist_node_val_getCusval(n, &cus);
            EXPECT_EQ(ss, type == VEK_STRLIST_STRING ? 0u : VEK_ST_STRLIST_INV_TYPE);
            EXPECT_EQ(s32, type == VEK_STRLIST_INT32 ? 0u : VEK_ST_STRLIST_INV_TYPE);
            EXPECT_EQ(s64, type == VEK_STRLIST_INT64 ? 0u : VEK_ST_STRLIST_INV_TYPE);
            EXPECT_EQ(sc, type == VEK_STRLIST_CUSVAL ? 0u : VEK_ST_STRLIST_INV_TYPE);
            if (type == VEK_STRLIST_STRING) {
                EXPECT_STREQ(s, e.strings[i].c_str());
            } else if (type == VEK_STRLIST_INT32) {
                EXPECT_EQ(i32, e.numbers[i]);
            } else if (type == VEK_STRLIST_INT64) {
                EXPECT_EQ(i64, e.numbers[i]);
            } else if (type == VEK_STRLIST_CUSVAL) {
                EXPECT_STREQ(reinterpret_cast<const char *>(cus), e.strings[i].c_str());
            } else {
                EXPECT_EQ(n->value->payload.cusval, 0u); // other types: zero payload
            }
            ++i;
        }
        EXPECT_EQ(i, e.count);
        EXPECT_EQ(vek_strlist_iter_getNext(it), nullptr);
        vek_strlist_iter_free(it);
    }
};

TEST_F(TextRandom, ListBuildMatchesTheByteWalkForEveryType) {
    static const vek_strlist_type_t kTypes[] = {
        VEK_STRLIST_STRING, VEK_STRLIST_INT32, VEK_STRLIST_INT64, VEK_STRLIST_CUSVAL, 0u, 9u};
    int built = 0;
    int failed = 0;
    for (int iter = 0; iter < 5000; ++iter) {
        const vek_strlist_type_t type = kTypes[below(6)];
        const char sep = pick(",,,;- \t:1");
        const char mark = pick("--::,a ");
        const std::string text = random_list_text(sep, mark);
        const Expected e = model(text, type, sep, mark);
        if (e.count > kMaxModelItems) continue; // bounded work
        const std::string what =
            "type " + std::to_string(type) + " sep '" + sep + "' mark '" + mark + "' text [" + text + "]";
        const long heap_before = vek_saltest_heap_live();
        vek_strlist_node_t *list = reinterpret_cast<vek_strlist_node_t *>(1);
        const vek_st_t st = vek_strlist_list_build(text.c_str(), type, sep, mark,
                                                   type == VEK_STRLIST_CUSVAL ? copy_text : nullptr, nullptr, &list);
        EXPECT_TRUE(st == 0 || st == VEK_ST_NO_MEMORY || st == VEK_ST_STRLIST_INV_RANGE ||
                    st == VEK_ST_STRLIST_ITEM_EXCEED)
            << what << " status " << st;
        EXPECT_EQ(st, e.status) << what;
        if (st != 0) {
            EXPECT_EQ(list, nullptr) << what;
            EXPECT_EQ(vek_saltest_heap_live(), heap_before) << what;
            ++failed;
            continue;
        }
        ++built;
        check_list(list, type, e, what);
        EXPECT_EQ(vek_strlist_list_free(list), 0u);
        EXPECT_EQ(vek_saltest_heap_live(), heap_before) << what;
        if (HasFailure()) return;
    }
    EXPECT_GT(built, 100);
    EXPECT_GT(failed, 100);
}

TEST_F(TextRandom, ListBuildArgumentChecksLeaveTheOutParameter) {
    for (int iter = 0; iter < 200; ++iter) {
        const std::string text = random_list_text(',', '-');
        const vek_strlist_type_t type = below(6);
        const bool conv = below(2) == 1;
        vek_strlist_node_t *const sentinel = reinterpret_cast<vek_strlist_node_t *>(8);
        vek_strlist_node_t *list = sentinel;
        const int which = static_cast<int>(below(3));
        vek_st_t st = 0;
        vek_st_t want = 0;
        if (which == 0) {
            st = vek_strlist_list_build(nullptr, type, ',', '-', conv ? copy_text : nullptr, nullptr, &list);
            want = VEK_ST_STRLIST_INV_VALUE;
        } else if (which == 1) {
            st = vek_strlist_list_build(text.c_str(), type, ',', '-', conv ? copy_text : nullptr, nullptr, nullptr);
            want = VEK_ST_STRLIST_INV_LIST;
        } else {
            if (conv == (type == VEK_STRLIST_CUSVAL)) continue; // a valid pairing
            st = vek_strlist_list_build(text.c_str(), type, ',', '-', conv ? copy_text : nullptr, nullptr, &list);
            want = VEK_ST_STRLIST_INV_CONV;
        }
        EXPECT_EQ(st, want) << which << " type " << type;
        EXPECT_EQ(list, sentinel);
    }
}

TEST_F(TextRandom, ListBuildAllocationFailuresReleaseEverything) {
    int fired_runs = 0;
    for (int iter = 0; iter < 1000; ++iter) {
        const vek_strlist_type_t type = 1 + below(4);
        const std::string text = random_list_text(',', ':');
        const Expected e = model(text, type, ',', ':');
        if (e.count > 200 || e.status != 0 || e.count == 0) continue;
        const uint32_t nth = 1 + below(static_cast<uint32_t>(e.count * 2 + 2));
        const long heap_before = vek_saltest_heap_live();
        vek_saltest_fail_alloc(VEK_SALTEST_HEAP, nth, 1);
        vek_strlist_node_t *list = reinterpret_cast<vek_strlist_node_t *>(1);
        const vek_st_t st = vek_strlist_list_build(text.c_str(), type, ',', ':',
                                                   type == VEK_STRLIST_CUSVAL ? copy_text : nullptr, nullptr, &list);
        const bool fired = vek_saltest_faults_fired() != 0;
        vek_saltest_reset();
        fired_runs += fired ? 1 : 0;
        if (type == VEK_STRLIST_CUSVAL && st == 0) {
            // A failed allocation inside the conversion function is a null
            // custom value, which is no failure.
            EXPECT_NE(list, nullptr);
        } else {
            EXPECT_EQ(st, fired ? VEK_ST_NO_MEMORY : 0u) << text << " nth " << nth;
        }
        if (st != 0) {
            EXPECT_EQ(list, nullptr);
        } else {
            EXPECT_EQ(vek_strlist_list_free(list), 0u);
        }
        EXPECT_EQ(vek_saltest_heap_live(), heap_before) << text << " nth " << nth;
    }
    EXPECT_GT(fired_runs, 30) << "too few allocation failures exercised";
}

// ---- command runner and option parser ------------------------------------

struct ToolRun {
    std::string optstring;
    bool quiet = false; // vek_opterr 0
    std::vector<std::string> words;
    std::vector<int> results;
    bool bad = false;
    std::string why;
};
ToolRun *g_run = nullptr;

bool inside(const char *p, int argc, char **argv) {
    for (int i = 0; i < argc; ++i) {
        if (p >= argv[i] && p <= argv[i] + std::strlen(argv[i])) return true;
    }
    return false;
}

// Runs the option parser to its end and checks every answer.
int parsing_tool(int argc, char **argv) {
    ToolRun &r = *g_run;
    for (int i = 0; i < argc; ++i) r.words.emplace_back(argv[i]);
    if (argv[argc] != nullptr) {
        r.bad = true;
        r.why = "no null after the last entry";
    }
    if (r.quiet) vek_opterr = 0;
    size_t budget = 2;
    for (int i = 0; i < argc; ++i) budget += std::strlen(argv[i]) + 1;
    for (;;) {
        const int c = vek_getopt(argc, argv, r.optstring.c_str());
        r.results.push_back(c);
        if (vek_optind < 1 || vek_optind > argc) {
            r.bad = true;
            r.why = "optind " + std::to_string(vek_optind);
        }
        if (c == -1) break;
        if (c < 0 || c > 255) {
            r.bad = true;
            r.why = "result " + std::to_string(c);
        } else if (c != '?' || r.quiet) {
            const char *at = std::strchr(r.optstring.c_str(), c);
            const bool known = c != ':' && c != 0 && at != nullptr;
            if (known && at[1] == ':' && vek_optarg != nullptr && !inside(vek_optarg, argc, argv)) {
                r.bad = true;
                r.why = "optarg outside the words";
            }
            if (!known && !r.quiet) {
                r.bad = true;
                r.why = std::string("unknown option returned: ") + static_cast<char>(c);
            }
            if (known && at[1] != ':' && vek_optarg != nullptr) {
                r.bad = true;
                r.why = "optarg for an option without argument";
            }
        }
        if (vek_pIndexPosition != nullptr && !inside(vek_pIndexPosition, argc, argv)) {
            r.bad = true;
            r.why = "cursor outside the words";
        }
        if (--budget == 0) {
            r.bad = true;
            r.why = "the parser does not end";
            break;
        }
    }
    return 7;
}

// The words the tool must see: split at white space; only a blank or a
// newline right after a word ends its string, so after other white space
// an entry runs on to the next ended word.
std::vector<std::string> crt_model(const std::string &text) {
    std::string copy = text;
    std::vector<size_t> starts;
    size_t i = 0;
    while (i < copy.size()) {
        while (i < copy.size() && blank(copy[i])) ++i;
        if (i >= copy.size()) break;
        starts.push_back(i);
        while (i < copy.size() && !blank(copy[i])) ++i;
        if (i < copy.size() && (copy[i] == ' ' || copy[i] == '\n')) {
            copy[i] = '\0';
            ++i;
        }
    }
    std::vector<std::string> out{"tool"};
    for (size_t s : starts) out.emplace_back(copy.c_str() + s);
    return out;
}

TEST_F(TextRandom, CommandRunnerAndOptionParserOnRandomTexts) {
    char prog[] = "tool";
    for (int iter = 0; iter < 4000; ++iter) {
        std::string text;
        const uint32_t pieces = below(12);
        for (uint32_t i = 0; i < pieces; ++i) {
            switch (below(7)) {
            case 0: text += pick(" \t\n\v\f\r"); break;
            case 1: text += "-"; break;
            case 2: text += "--"; break;
            case 3: text += pick("abcxyz:-?"); break;
            case 4: text += std::string(below(3) == 0 ? 510 + below(4) : 1 + below(5), pick("ab-")); break;
            case 5:
                text += ' ';
                text += '-';
                text += pick("abcx:");
                break;
            default: text += ' '; break;
            }
        }
        if (below(20) == 0) { // more than 31 words
            for (int w = 0; w < 40; ++w) text += " -a";
        }
        ToolRun run;
        const uint32_t olen = below(6);
        for (uint32_t i = 0; i < olen; ++i) run.optstring += pick("abcx::-?");
        run.quiet = below(3) == 0;
        g_run = &run;
        const bool null_text = below(30) == 0;
        EXPECT_EQ(vek_crt(prog, null_text ? nullptr : text.c_str(), parsing_tool), 7);
        g_run = nullptr;
        const std::string what = "text [" + text + "] options [" + run.optstring + "]";
        EXPECT_FALSE(run.bad) << what << ": " << run.why;
        EXPECT_EQ(run.words, null_text ? std::vector<std::string>{"tool"} : crt_model(text)) << what;
        if (HasFailure()) return;
    }
    vek_initopt();
}

// The option parser's walk, step by step as documented.
struct OptModel {
    int argc;
    char **argv;
    const char *opts;
    bool opterr;
    int optind = 1;
    char *optarg = nullptr;
    char *cursor = nullptr;

    int handle(char *p) {
        const char c = *p;
        if (c == ':') {
            cursor = p;
            return opterr ? '?' : ':';
        }
        const char *at = std::strchr(opts, c);
        if (at == nullptr) {
            cursor = nullptr;
            optarg = nullptr;
            return opterr ? '?' : static_cast<unsigned char>(c);
        }
        if (at[1] != ':') {
            cursor = p;
            optarg = nullptr;
            return static_cast<unsigned char>(c);
        }
        cursor = nullptr;
        if (p[1] != '\0') {
            optarg = p + 1;
        } else if (optind < argc) {
            optarg = argv[optind++];
        } else {
            optarg = nullptr;
            cursor = p;
            return opterr ? '?' : static_cast<unsigned char>(c);
        }
        return static_cast<unsigned char>(c);
    }

    int next() {
        if (cursor != nullptr) {
            ++cursor;
            if (*cursor != '\0') return handle(cursor);
        }
        if (optind >= argc) {
            cursor = nullptr;
            return -1;
        }
        char *e = argv[optind++];
        if (e[0] != '-') {
            --optind;
            cursor = nullptr;
            optarg = nullptr;
            return -1;
        }
        if (std::strcmp(e, "-") == 0 || std::strcmp(e, "--") == 0) {
            cursor = nullptr;
            optarg = nullptr;
            return -1;
        }
        return handle(e + 1);
    }
};

TEST_F(TextRandom, OptionParserOnRandomVectors) {
    for (int iter = 0; iter < 3000; ++iter) {
        // Elements the runner cannot make too: empty ones and ones holding
        // white space.
        std::vector<std::string> elems{"tool"};
        const uint32_t n = below(7);
        for (uint32_t i = 0; i < n; ++i) {
            std::string e;
            switch (below(6)) {
            case 0: break;
            case 1: e = below(2) ? "-" : "--"; break;
            case 2: e = std::string("-") + pick("abcx:?- "); break;
            default: {
                const uint32_t len = below(6);
                for (uint32_t k = 0; k < len; ++k) e += pick("-abcx:? \t");
                break;
            }
            }
            elems.push_back(e);
        }
        std::vector<char *> argv;
        for (std::string &e : elems) argv.push_back(e.data());
        argv.push_back(nullptr);
        std::string opts;
        const uint32_t olen = below(6);
        for (uint32_t i = 0; i < olen; ++i) opts += pick("abcx::-?");
        const bool quiet = below(3) == 0;
        const int argc = static_cast<int>(elems.size());
        vek_initopt();
        if (quiet) vek_opterr = 0;
        OptModel m{argc, argv.data(), opts.c_str(), !quiet};
        std::string what = "options [" + opts + "] vector";
        for (const std::string &e : elems) what += " [" + e + "]";
        for (int call = 0; call < 64; ++call) {
            const int want = m.next();
            const int got = vek_getopt(argc, argv.data(), opts.c_str());
            ASSERT_EQ(got, want) << what << " call " << call;
            ASSERT_EQ(vek_optind, m.optind) << what << " call " << call;
            ASSERT_EQ(vek_optarg, m.optarg) << what << " call " << call;
            ASSERT_EQ(vek_pIndexPosition, m.cursor) << what << " call " << call;
            if (got == -1) break;
        }
    }
    vek_initopt();
}

} // namespace
