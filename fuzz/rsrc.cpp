// Resource registry operation sequences on two device handles, checked
// against a model: every status, every identifier handed out (first fit),
// the free counts, the answers of isset and query, and the registry list;
// after every step, the structure checks of each registry and record.
// Robust allocations fail at input-chosen points in init and create: the
// documented status, nothing changed, nothing leaked.
//
// Input: a sequence of operations, each an operation byte and its operands.
#include <string>
#include <vector>

#include "fuzz_support.hpp"
#include "rsrc/rsrc_internal.hpp"

namespace {

struct Res {
    vek_rsrc_t *rec = nullptr;
    uint32_t kind = 0;
    std::string name;
    uint32_t num = 0;
    uint32_t base = 0;
    bool read_only = false;
    std::vector<bool> used; // bitmap: max(num, 1) identifiers
    uint32_t free = 0;
};

struct Handle {
    vek_hdl_t hdl{};
    bool has_registry = false;
    std::vector<Res> list; // newest first
};

const char *const kNames[] = {"rx", "tx", "RX", "queue", "a", "x", "", nullptr};

// First fit of n free identifiers, or -1.
int64_t first_fit(const std::vector<bool> &used, uint32_t n) {
    uint32_t run = 0;
    for (size_t i = 0; i < used.size(); ++i) {
        run = used[i] ? 0 : run + 1;
        if (run == n) return static_cast<int64_t>(i + 1 - n);
    }
    return -1;
}

Res *pick(Handle &h, uint8_t b) {
    if (h.list.empty()) return nullptr;
    return &h.list[b % h.list.size()];
}

void check_record(const Res &r) {
    vek_rsrc_info_t info{};
    FUZZ_CHECK(vek_rsrc_query(r.rec, &info) == VEK_ST_SUCCESS);
    FUZZ_CHECK(info.kind == r.kind && info.name == r.rec->name && r.name == info.name);
    FUZZ_CHECK(info.baseId == r.base && info.numElems == r.num && info.numElemsFree == r.free);
    FUZZ_CHECK((r.rec->bitmap == nullptr) == r.read_only);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    fuzz::Input in(data, size);
    const fuzz::LeakCheck leaks;
    Handle hs[2];
    for (Handle &h : hs) h.hdl.magic = VEK_HDL_MAGIC;

    for (int step = 0; step < 64 && !in.empty(); ++step) {
        const uint8_t op = in.u8();
        Handle &h = hs[op >> 7];
        Handle &other = hs[1 - (op >> 7)];
        vek_saltest_reset();
        switch (op & 0x0F) {
        case 0: { // init, possibly with the registry allocation failing
            const uint8_t f = in.u8();
            if ((f & 1) != 0) vek_saltest_fail_alloc(VEK_SALTEST_ROBUST, 1, 1);
            const vek_st_t st = vek_rsrc_init(&h.hdl);
            if (h.has_registry) {
                FUZZ_CHECK(st == VEK_ST_SUCCESS);
            } else if ((f & 1) != 0) {
                FUZZ_CHECK(st == VEK_ST_NO_MEMORY && h.hdl.rsrcRegistry == nullptr);
            } else {
                FUZZ_CHECK(st == VEK_ST_SUCCESS && h.hdl.rsrcRegistry != nullptr);
                h.has_registry = true;
            }
            break;
        }
        case 1: { // release
            FUZZ_CHECK(vek_rsrc_release(&h.hdl) == VEK_ST_SUCCESS);
            FUZZ_CHECK(h.hdl.rsrcRegistry == nullptr);
            h.has_registry = false;
            h.list.clear();
            break;
        }
        case 2:
        case 3: { // create
            const uint8_t a = in.u8();
            const uint32_t kind = a % 9;
            const char *name = kNames[(a >> 4) & 7];
            const uint8_t sz = in.u8();
            uint32_t num = sz & 0x7F;
            uint32_t base = in.u16();
            const uint8_t f = in.u8();
            if ((f & 3) == 1) base = 0x1000000u - (num & 0x3F) + (f >> 5); // around the 2^24 limit
            if ((f & 3) == 2) base = 0xFFFFFFFFu - (f >> 3);               // sums that wrap
            const bool read_only = (sz & 0x80) != 0;
            const uint32_t fail_at = (f >> 2) & 7;
            if (fail_at != 0 && (f & 3) == 3) vek_saltest_fail_alloc(VEK_SALTEST_ROBUST, fail_at, 1);
            vek_rsrc_t *rec = reinterpret_cast<vek_rsrc_t *>(&rec);
            vek_rsrc_t *const untouched = rec;
            const vek_st_t st = vek_rsrc_create_intern(&h.hdl, kind, name, num, base, (f & 0x80) != 0 ? nullptr : &rec,
                                                       read_only ? 1 : 0);
            const bool fired = vek_saltest_faults_fired() != 0;
            vek_st_t want;
            if (!h.has_registry) {
                want = VEK_ST_ERROR;
            } else if (name == nullptr || name[0] == '\0' || kind > VEK_RSRC_MAX_KIND) {
                want = VEK_ST_INVALID_PARAMETER;
            } else if (kind != 5 && uint64_t{num} + base > VEK_RSRC_ID_LIMIT) { // no 32-bit wrap
                want = VEK_ST_INVALID_VALUE;
            } else {
                want = VEK_ST_SUCCESS;
                for (const Res &r : h.list) {
                    if (r.kind == kind && r.name == name) want = VEK_ST_INVALID_VALUE;
                }
            }
            if (want == VEK_ST_SUCCESS && fired) want = VEK_ST_NO_MEMORY;
            FUZZ_CHECK_EQ(st, want);
            if (st != VEK_ST_SUCCESS) {
                FUZZ_CHECK(rec == untouched);
                break;
            }
            if ((f & 0x80) != 0) {
                // No out-parameter: the newest record heads the list.
                rec = h.hdl.rsrcRegistry->rsrcHead;
            }
            Res r;
            r.rec = rec;
            r.kind = kind;
            r.name = name;
            r.num = num;
            r.base = base;
            r.read_only = read_only;
            r.used.assign(num == 0 ? 1 : num, false);
            r.free = num;
            h.list.insert(h.list.begin(), r);
            FUZZ_CHECK(h.hdl.rsrcRegistry->rsrcHead == rec && h.hdl.rsrcRegistry->numRsrcs == h.list.size());
            check_record(h.list.front());
            break;
        }
        case 4: { // destroy, through this handle or through the other one
            const uint8_t b = in.u8();
            Res *r = pick(h, b);
            if (r == nullptr) break;
            if ((b & 0x80) != 0 && other.has_registry) {
                FUZZ_CHECK(vek_rsrc_destroy(&other.hdl, r->rec) == VEK_ST_INVALID_PARAMETER);
                break;
            }
            FUZZ_CHECK(vek_rsrc_destroy(&h.hdl, r->rec) == VEK_ST_SUCCESS);
            h.list.erase(h.list.begin() + (r - h.list.data()));
            FUZZ_CHECK(h.hdl.rsrcRegistry->numRsrcs == h.list.size());
            break;
        }
        case 5: { // find
            const uint8_t a = in.u8();
            const uint32_t kind = a % 10;
            const char *name = kNames[(a >> 4) & 7];
            vek_rsrc_t *rec = nullptr;
            const vek_st_t st = vek_rsrc_find(&h.hdl, kind, name, &rec);
            if (!h.has_registry) {
                FUZZ_CHECK(st == VEK_ST_ERROR);
            } else if (name == nullptr || name[0] == '\0') {
                FUZZ_CHECK(st == VEK_ST_INVALID_PARAMETER);
            } else {
                const Res *want = nullptr;
                for (const Res &r : h.list) {
                    if (r.kind == kind && r.name == name) {
                        want = &r;
                        break;
                    }
                }
                FUZZ_CHECK(st == (want != nullptr ? VEK_ST_SUCCESS : VEK_ST_INVALID_VALUE));
                if (want != nullptr) FUZZ_CHECK(rec == want->rec);
            }
            break;
        }
        case 6:
        case 7: { // allocate
            Res *r = pick(h, in.u8());
            const uint32_t n = in.u8() % 40;
            if (r == nullptr) break;
            uint32_t start = 0xDEADBEEF;
            const vek_st_t st = vek_rsrc_allocate(r->rec, n, &start);
            vek_st_t want;
            int64_t at = -1;
            if (n > r->free) want = VEK_ST_RSRC_INSUFF_IDS_AVAIL;
            else if (r->read_only) want = VEK_ST_RSRC_READ_ONLY;
            else if (n == 0) want = VEK_ST_INVALID_PARAMETER;
            else if (n > r->used.size()) want = VEK_ST_RSRC_INSUFF_IDS_AVAIL_IN_RANGE;
            else {
                at = first_fit(r->used, n);
                want = at < 0 ? VEK_ST_INVALID_PARAMETER : VEK_ST_SUCCESS;
            }
            FUZZ_CHECK_EQ(st, want);
            if (st == VEK_ST_SUCCESS) {
                FUZZ_CHECK(start == r->base + static_cast<uint32_t>(at));
                for (uint32_t i = 0; i < n; ++i) r->used[static_cast<size_t>(at) + i] = true;
                r->free -= n;
            } else {
                FUZZ_CHECK(start == 0xDEADBEEF);
            }
            check_record(*r);
            break;
        }
        case 8: { // allocate_fixed
            Res *r = pick(h, in.u8());
            const uint32_t n = in.u8() % 20;
            const uint32_t off = in.u8();
            if (r == nullptr) break;
            const uint32_t start = r->base + off - 3;
            const vek_st_t st = vek_rsrc_allocate_fixed(r->rec, n, start);
            vek_st_t want;
            const uint32_t rel = start - r->base;
            if (n > r->free) want = VEK_ST_RSRC_INSUFF_IDS_AVAIL;
            else if (r->read_only) want = VEK_ST_RSRC_READ_ONLY;
            else if (n == 0) want = VEK_ST_INVALID_PARAMETER;
            else if (start < r->base || start - r->base >= r->num) want = VEK_ST_INVALID_PARAMETER; // no 32-bit wrap
            else {
                want = VEK_ST_SUCCESS;
                for (uint32_t i = 0; i < n; ++i) {
                    if (static_cast<uint64_t>(rel) + i >= r->used.size() || r->used[rel + i])
                        want = VEK_ST_RSRC_INSUFF_IDS_AVAIL_IN_RANGE;
                }
            }
            FUZZ_CHECK_EQ(st, want);
            if (st == VEK_ST_SUCCESS) {
                for (uint32_t i = 0; i < n; ++i) r->used[rel + i] = true;
                r->free -= n;
            }
            check_record(*r);
            break;
        }
        case 9:
        case 10: { // free
            Res *r = pick(h, in.u8());
            const uint32_t n = in.u8() % 20;
            const uint32_t off = in.u8();
            if (r == nullptr) break;
            const uint32_t start = r->base + off - 3;
            const vek_st_t st = vek_rsrc_free(r->rec, start, n);
            vek_st_t want;
            // Bounds compared without sign and without 32-bit wrap.
            if (n == 0 || start < r->base || uint64_t{start} + n > uint64_t{r->base} + r->num) {
                want = VEK_ST_INVALID_PARAMETER;
            } else if (r->read_only) {
                want = VEK_ST_RSRC_READ_ONLY;
            } else {
                want = VEK_ST_SUCCESS;
                for (uint32_t i = 0; i < n && want == VEK_ST_SUCCESS; ++i) {
                    const uint32_t rel = start + i - r->base;
                    if (rel >= r->used.size() || !r->used[rel]) want = VEK_ST_INVALID_PARAMETER;
                }
            }
            FUZZ_CHECK_EQ(st, want);
            if (st == VEK_ST_SUCCESS) {
                for (uint32_t i = 0; i < n; ++i) r->used[start + i - r->base] = false;
                r->free += n;
            }
            check_record(*r);
            break;
        }
        case 11: { // isset and issetv2
            Res *r = pick(h, in.u8());
            const uint32_t off = in.u8();
            if (r == nullptr) break;
            const uint32_t id = r->base + off - 3;
            const uint32_t rel = id - r->base;
            uint32_t want;
            if (r->read_only) want = rel < r->num ? 1 : 0;
            else want = rel < r->used.size() && r->used[rel] ? 1 : 0;
            FUZZ_CHECK(vek_rsrc_isset(r->rec, id) == want);
            uint8_t res = 7;
            FUZZ_CHECK(vek_rsrc_issetv2(r->rec, id, &res) == VEK_ST_SUCCESS && res == want);
            break;
        }
        case 12: { // query, also with a null out-parameter
            Res *r = pick(h, in.u8());
            if (r == nullptr) break;
            check_record(*r);
            FUZZ_CHECK(vek_rsrc_query(r->rec, nullptr) == VEK_ST_INVALID_PARAMETER);
            break;
        }
        case 13: { // dump
            const uint32_t kind = in.u8() % 11;
            const vek_st_t st = vek_rsrc_dump(&h.hdl, kind);
            if (!h.has_registry) FUZZ_CHECK(st == VEK_ST_ERROR);
            else FUZZ_CHECK(st == (kind > VEK_RSRC_KIND_ALL ? VEK_ST_INVALID_PARAMETER : VEK_ST_SUCCESS));
            break;
        }
        default: { // the registry list against the model
            if (!h.has_registry) break;
            const vek_rsrc_t *p = h.hdl.rsrcRegistry->rsrcHead;
            for (const Res &r : h.list) {
                FUZZ_CHECK(p == r.rec);
                p = p->next;
            }
            FUZZ_CHECK(p == nullptr);
            break;
        }
        }
        vek_saltest_reset();
        for (const Handle &g : hs) {
            if (!g.has_registry) continue;
            FUZZ_WHOLE(vek::rsrc::verify_registry(&g.hdl));
            for (const Res &r : g.list) FUZZ_WHOLE(vek::rsrc::verify_record(r.rec));
        }
    }
    for (Handle &h : hs) FUZZ_CHECK(vek_rsrc_release(&h.hdl) == VEK_ST_SUCCESS);
    FUZZ_NO_LEAK(leaks);
    return 0;
}
