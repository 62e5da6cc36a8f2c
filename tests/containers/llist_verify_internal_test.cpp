// Structure check of the links around one list link: a whole ring and an
// open chain pass, and each broken link is named.
#include <functional>
#include <vector>

#include "containers/verify.hpp"
#include "foundation/check.hpp"
#include "pokes.hpp"
#include "vektest.hpp"

namespace {

using vektest::Pokes;

// A ring head <-> a <-> b <-> c <-> head.
struct Ring {
    Ring() {
        vek_llist_init_head(&head);
        for (vek_llist_t *l : {&a, &b, &c}) vek_llist_insert_tail(l, &head);
    }
    vek_llist_t head{}, a{}, b{}, c{};
};

TEST(LListVerify, WholeListsPass) {
    Ring r;
    for (const vek_llist_t *l : {&r.head, &r.a, &r.b, &r.c}) EXPECT_EQ(vek::llist::verify_around(l), nullptr);

    vek_llist_t x{nullptr, nullptr}, y{}, z{};
    vek_llist_insert(&y, &x);
    vek_llist_insert(&z, &y);
    for (const vek_llist_t *l : {&x, &y, &z}) EXPECT_EQ(vek::llist::verify_around(l), nullptr);
    vek_llist_t alone{nullptr, nullptr};
    EXPECT_EQ(vek::llist::verify_around(&alone), nullptr);
}

TEST(LListVerify, EachBrokenLinkAroundIsNamed) {
    struct Case {
        const char *name;
        std::function<void(Ring &, Pokes &)> corrupt;
        const char *broken;
    };
    const std::vector<Case> cases = {
        {"predecessor skips the link", [](Ring &r, Pokes &p) { p.set(r.a.next, &r.c); },
         "next link does not point back"},
        {"successor points past the link", [](Ring &r, Pokes &p) { p.set(r.c.prev, &r.a); },
         "next link does not point back"},
        {"predecessor's predecessor points elsewhere", [](Ring &r, Pokes &p) { p.set(r.head.next, &r.b); },
         "previous link does not point forward"},
        {"successor's successor points elsewhere", [](Ring &r, Pokes &p) { p.set(r.c.next, &r.a); },
         "next link does not point back"},
        {"link's own back pointer", [](Ring &r, Pokes &p) { p.set(r.b.prev, &r.head); },
         "previous link does not point forward"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        Ring r;
        Pokes p;
        c.corrupt(r, p);
        EXPECT_STREQ(vek::llist::verify_around(&r.b), c.broken);
        p.restore();
        EXPECT_EQ(vek::llist::verify_around(&r.b), nullptr);
    }
}

TEST(LListVerify, OperationsStopOnABrokenList) {
    if (!vek::kStructureChecks) GTEST_SKIP() << "built without VEK_STRUCTURE_CHECKS: operations run no check";
    Ring r;
    r.a.next = &r.c; // the link before b no longer leads to it
    vek_llist_t x{};
    EXPECT_DEATH(vek_llist_insert(&x, &r.b), "structure check failed: previous link does not point forward");
    EXPECT_DEATH(vek_llist_remove(&r.c), "structure check failed");
}

} // namespace
