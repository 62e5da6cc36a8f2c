// Status names: the table's shape, lookups and the printed status line.
#include <cstring>
#include <regex>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "vektest.hpp"

namespace {

constexpr const char *kOob = "ERROR: Status Code Out of Bounds";

bool named(vek_st_t code) { return std::strcmp(vek_status_get(code), kOob) != 0; }

TEST(StatusTable, HoldsExactlyTheListedRuns) {
    const std::vector<std::pair<vek_st_t, vek_st_t>> runs = {
        {0, 14},      {101, 108},    {201, 226},   {301, 310},   {401, 408},   {501, 529},   {601, 602},   {604, 613},
        {701, 705},   {801, 866},    {901, 904},   {1001, 1012}, {1101, 1104}, {1201, 1203}, {1301, 1301}, {1401, 1407},
        {1501, 1509}, {1601, 1640},  {1701, 1730}, {1801, 1808}, {1901, 1903}, {2001, 2026}, {2101, 2103}, {2201, 2257},
        {2301, 2310}, {2401, 2406},  {2501, 2517}, {2601, 2602}, {2701, 2748}, {2801, 2818}, {2901, 2908}, {2910, 2913},
        {3001, 3036}, {3101, 3108},  {3201, 3220}, {3301, 3340}, {3401, 3519}, {3601, 3608}, {3701, 3797}, {3801, 3815},
        {3901, 3915}, {3950, 3950},  {3970, 3971}, {4001, 4009}, {4101, 4109}, {4201, 4257}, {4301, 4319}, {4401, 4448},
        {4450, 4474}, {4501, 4520},  {4601, 4602}, {4701, 4705}, {4801, 4802}, {4901, 4901}, {5001, 5019}, {5101, 5113},
        {5201, 5220}, {5301, 5314},  {5401, 5630}, {5800, 5801}, {5900, 5951}, {5956, 6016}, {6100, 6104}, {7000, 7000},
        {8000, 8002}, {65535, 65535}};
    ASSERT_EQ(runs.size(), 66u);

    // Walk every code that can have a name and rebuild the runs from the table.
    std::vector<std::pair<vek_st_t, vek_st_t>> found;
    std::set<std::string> names;
    const std::regex shape("^VEK_ST_[A-Z0-9_a-z]+$");
    uint32_t count = 0;
    for (vek_st_t code = 0; code <= 0xFFFFu; ++code) {
        if (!named(code)) continue;
        ++count;
        const std::string name = vek_status_get(code);
        EXPECT_TRUE(std::regex_match(name, shape)) << code << " " << name;
        EXPECT_GE(name.size(), 10u) << name;
        EXPECT_LE(name.size(), 69u) << name;
        EXPECT_TRUE(names.insert(name).second) << "duplicate name " << name;
        if (!found.empty() && found.back().second + 1 == code) {
            found.back().second = code;
        } else {
            found.emplace_back(code, code);
        }
    }
    EXPECT_EQ(count, VEK_ST_NUM_NAMES);
    EXPECT_EQ(found, runs);
}

TEST(StatusTable, GivenNamesAreExact) {
    const std::pair<vek_st_t, const char *> given[] = {
#define GIVEN(code) {code, #code}
        GIVEN(VEK_ST_SUCCESS),
        GIVEN(VEK_ST_ERROR),
        GIVEN(VEK_ST_NO_MEMORY),
        GIVEN(VEK_ST_INTERNAL_ERROR),
        GIVEN(VEK_ST_INVALID_VALUE),
        GIVEN(VEK_ST_INVALID_HANDLE),
        GIVEN(VEK_ST_HANDLE_IN_USE),
        GIVEN(VEK_ST_INVALID_PARAMETER),
        GIVEN(VEK_ST_NOT_IMPLEMENTED),
        GIVEN(VEK_ST_NVM_ERROR),
        GIVEN(VEK_ST_EOF),
        GIVEN(VEK_ST_PARSE_ERROR),
        GIVEN(VEK_ST_API_NOT_SUPPORTED),
        GIVEN(VEK_ST_POLL_TIMEOUT),
        GIVEN(VEK_ST_REF_COUNT_MISMATCH),
        GIVEN(VEK_ST_MAP_ERROR),
        GIVEN(VEK_ST_MAP_INTERNAL_ERROR),
        GIVEN(VEK_ST_MAP_INVALID_MAP),
        GIVEN(VEK_ST_MAP_KEY_NOT_EXIST),
        GIVEN(VEK_ST_MAP_INVALID_TYPE),
        GIVEN(VEK_ST_MAP_INVALID_INDEX),
        GIVEN(VEK_ST_MAP_INVALID_SEARCH),
        GIVEN(VEK_ST_MAP_CALLBACK_ERROR),
        GIVEN(VEK_ST_READFN_NULL),
        GIVEN(VEK_ST_INVALID_CFG_FILE),
        GIVEN(VEK_ST_INVALID_INSTANCE),
        GIVEN(VEK_ST_INCOMPATIBLE_TARGET_DEVICE_REVISION),
        GIVEN(VEK_ST_INVALID_DOMAIN_ID),
        GIVEN(VEK_ST_SERVICE_UNAVAILABLE_ON_THIS_DOMAIN),
        GIVEN(VEK_ST_CONFIG_ABORTED),
        GIVEN(VEK_ST_NOT_CONFIGURED),
        GIVEN(VEK_ST_DOMAIN_NOT_CONFIGURED),
        GIVEN(VEK_ST_PRIMARY_DOMAIN_NOT_CONFIGURED),
        GIVEN(VEK_ST_DOMAIN_NVM_BAD_ADDR),
        GIVEN(VEK_ST_DOMAIN_NVM_BAD_SIZE),
        GIVEN(VEK_ST_DOMAIN_NVM_ADDR_OVERLAPS_OS),
        GIVEN(VEK_ST_DOMAIN_NVM_ADDR_MISMATCH),
        GIVEN(VEK_ST_DOMAIN_NVM_SIZE_MISMATCH),
        GIVEN(VEK_ST_DOMAIN_DMA_BAD_ADDR),
        GIVEN(VEK_ST_DOMAIN_DMA_BAD_SIZE),
        GIVEN(VEK_ST_DOMAIN_DMA_ADDR_OVERLAPS_OS),
        GIVEN(VEK_ST_DOMAIN_DMA_ADDR_MISMATCH),
        GIVEN(VEK_ST_DOMAIN_DMA_SIZE_MISMATCH),
        GIVEN(VEK_ST_DOMAIN_RSVD_MEM_SIZE_MISMATCH),
        GIVEN(VEK_ST_HW_NOT_CONFIGURED),
        GIVEN(VEK_ST_ALREADY_CONFIGURED),
        GIVEN(VEK_ST_UNKNOWN_RELEASE_ID),
        GIVEN(VEK_ST_STATE_VERSION_MISMATCH),
        GIVEN(VEK_ST_STATE_INCONSISTENT),
        GIVEN(VEK_ST_MUTEX_ATTR_INIT_ERROR),
        GIVEN(VEK_ST_MUTEX_SHARED_INIT_ERROR),
        GIVEN(VEK_ST_MUTEX_INIT_ERROR),
        GIVEN(VEK_ST_MUTEX_WAIT_ERROR),
        GIVEN(VEK_ST_MUTEX_BUSY),
        GIVEN(VEK_ST_MUTEX_TRYWAIT_ERROR),
        GIVEN(VEK_ST_MUTEX_POST_ERROR),
        GIVEN(VEK_ST_MUTEX_DESTROY_ERROR),
        GIVEN(VEK_ST_PTHREAD_ONCE_ERROR),
        GIVEN(VEK_ST_PTHREAD_SETSPECIFIC_ERROR),
        GIVEN(VEK_ST_STRLIST_INV_LIST),
        GIVEN(VEK_ST_STRLIST_INV_NODE),
        GIVEN(VEK_ST_STRLIST_INV_VALUE),
        GIVEN(VEK_ST_STRLIST_INV_TYPE),
        GIVEN(VEK_ST_STRLIST_INV_ITER),
        GIVEN(VEK_ST_STRLIST_INV_CONV),
        GIVEN(VEK_ST_STRLIST_INV_RANGE),
        GIVEN(VEK_ST_STRLIST_ITEM_EXCEED),
        GIVEN(VEK_ST_RSRC_INIT_FAILED),
        GIVEN(VEK_ST_RSRC_INSUFF_IDS_AVAIL),
        GIVEN(VEK_ST_RSRC_INSUFF_IDS_AVAIL_IN_RANGE),
        GIVEN(VEK_ST_RSRC_READ_ONLY),
        GIVEN(VEK_ST_MISCOMPARE),
        GIVEN(VEK_ST_INVALID_REG_SIZE),
        GIVEN(VEK_ST_SAL_SSID_FAILURE),
        GIVEN(VEK_ST_SAL_CHDIR_FAILURE),
        GIVEN(VEK_ST_PTHREAD_MUTEX_OWNER_DEAD),
        GIVEN(VEK_ST_MUTEX_WRONG_STATE),
        GIVEN(VEK_ST_MUTEX_CANNOT_CHANGE_TYPE),
        GIVEN(VEK_ST_LAST_STATUS_CODE),
#undef GIVEN
    };
    ASSERT_EQ(std::size(given), 79u);
    for (const auto &[code, name] : given) EXPECT_STREQ(vek_status_get(code), name) << code;
    // Spot checks of the constants' values.
    EXPECT_EQ(VEK_ST_MAP_CALLBACK_ERROR, 108u);
    EXPECT_EQ(VEK_ST_PTHREAD_MUTEX_OWNER_DEAD, 8000u);
    EXPECT_EQ(VEK_ST_LAST_STATUS_CODE, 65535u);
}

TEST(StatusGet, UnnamedCodesGiveTheOutOfBoundsText) {
    for (vek_st_t code : {15u, 100u, 109u, 603u, 2909u, 65534u, 65536u, 0x7FFFFFFFu, 0x80000000u, 0xFFFFFFFFu}) {
        EXPECT_STREQ(vek_status_get(code), kOob) << code;
    }
    EXPECT_STREQ(VEK_ST_OUT_OF_BOUNDS_TEXT, kOob);
}

struct PrintCase {
    const char *prefix;
    vek_st_t code;
    const char *line;
};

TEST(StatusPrint, WritesOneLineByteForByte) {
    const PrintCase cases[] = {
        {"map", 103, "map: VEK_ST_MAP_INVALID_MAP\n"},
        {nullptr, 104, "VEK_ST_MAP_KEY_NOT_EXIST\n"},
        {"x", 65536, "x: ERROR: Status Code Out of Bounds: 65536\n"},
        {nullptr, 0xFFFFFFFFu, "ERROR: Status Code Out of Bounds: -1\n"},
        {nullptr, 0x80000000u, "ERROR: Status Code Out of Bounds: -2147483648\n"},
        {"", 0, ": VEK_ST_SUCCESS\n"},
        {"p", 15, "p: ERROR: Status Code Out of Bounds: 15\n"},
    };
    for (const PrintCase &c : cases) {
        int rc = 0;
        const std::string out = vektest::capture_stdout([&] { rc = vek_status_print(c.prefix, c.code); });
        EXPECT_EQ(out, c.line);
        EXPECT_GE(rc, 0);
    }
}

TEST(StatusPrint, ReturnsTheLastOutputCallsResult) {
    int rc = 0;
    // Unnamed: printf's count of the "%s: %d\n" line.
    vektest::capture_stdout([&] { rc = vek_status_print("x", 65536); });
    EXPECT_EQ(rc, static_cast<int>(std::strlen("ERROR: Status Code Out of Bounds: 65536\n")));
}

} // namespace
