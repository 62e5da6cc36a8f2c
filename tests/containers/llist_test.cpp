// Intrusive list: ring with a sentinel head and open chains.
#include <vector>

#include "vektest.hpp"

namespace {

struct Rec {
    vek_llist_t link; // first member: a link is its record
    int id;
};

std::vector<int> walk_next(vek_llist_t *head) {
    std::vector<int> ids;
    for (vek_llist_t *l = head->next; l != head && ids.size() < 16; l = l->next) {
        ids.push_back(reinterpret_cast<Rec *>(l)->id);
    }
    return ids;
}

std::vector<int> walk_prev(vek_llist_t *head) {
    std::vector<int> ids;
    for (vek_llist_t *l = head->prev; l != head && ids.size() < 16; l = l->prev) {
        ids.push_back(reinterpret_cast<Rec *>(l)->id);
    }
    return ids;
}

TEST(LList, RingAppendsInOrderAndEmptiesAgain) {
    vek_llist_t head{nullptr, nullptr};
    vek_llist_init_head(&head);
    EXPECT_EQ(head.next, &head);
    EXPECT_EQ(head.prev, &head);
    EXPECT_EQ(vek_llist_empty(&head), 1);

    Rec a{{nullptr, nullptr}, 1}, b{{nullptr, nullptr}, 2};
    vek_llist_insert_tail(&a.link, &head);
    vek_llist_insert_tail(&b.link, &head);
    EXPECT_EQ(vek_llist_empty(&head), 0);
    EXPECT_EQ(walk_next(&head), (std::vector<int>{1, 2}));
    EXPECT_EQ(walk_prev(&head), (std::vector<int>{2, 1}));

    vek_llist_remove(&a.link);
    // The removed link keeps its own pointers.
    EXPECT_EQ(a.link.next, &b.link);
    EXPECT_EQ(a.link.prev, &head);
    EXPECT_EQ(walk_next(&head), (std::vector<int>{2}));
    vek_llist_remove(&b.link);
    EXPECT_EQ(vek_llist_empty(&head), 1);
    EXPECT_EQ(head.prev, &head);
}

TEST(LList, InsertAfterWorksInARing) {
    vek_llist_t head;
    vek_llist_init_head(&head);
    Rec a{{}, 1}, b{{}, 2}, c{{}, 3};
    vek_llist_insert(&a.link, &head); // right after the sentinel
    vek_llist_insert(&c.link, &a.link);
    vek_llist_insert(&b.link, &a.link); // between a and c
    EXPECT_EQ(walk_next(&head), (std::vector<int>{1, 2, 3}));
    EXPECT_EQ(walk_prev(&head), (std::vector<int>{3, 2, 1}));
}

TEST(LList, OpenChainKeepsNullEnds) {
    Rec a{{nullptr, nullptr}, 1}, b{{}, 2}, c{{}, 3};
    vek_llist_insert(&b.link, &a.link); // after the last link: next stays null
    EXPECT_EQ(a.link.next, &b.link);
    EXPECT_EQ(b.link.prev, &a.link);
    EXPECT_EQ(b.link.next, nullptr);
    vek_llist_insert(&c.link, &b.link);
    EXPECT_EQ(c.link.next, nullptr);

    // Removing the first link: the new first link's prev becomes null.
    vek_llist_remove(&a.link);
    EXPECT_EQ(b.link.prev, nullptr);
    EXPECT_EQ(a.link.next, &b.link);
    // Removing the last link: the new last link's next becomes null.
    vek_llist_remove(&c.link);
    EXPECT_EQ(b.link.next, nullptr);
    EXPECT_EQ(c.link.prev, &b.link);
}

TEST(LList, NullLinksDoNothing) {
    vek_llist_t head;
    vek_llist_init_head(&head);
    vek_llist_init_head(nullptr);
    vek_llist_insert(nullptr, &head);
    vek_llist_insert(&head, nullptr);
    vek_llist_insert_tail(nullptr, &head);
    vek_llist_insert_tail(&head, nullptr);
    vek_llist_remove(nullptr);
    EXPECT_EQ(vek_llist_empty(nullptr), 1);
    EXPECT_EQ(vek_llist_empty(&head), 1);
    EXPECT_EQ(head.prev, &head);
}

TEST(LList, ListOperationsPrintNoTrace) {
    vektest::TraceLevel level(12);
    const std::string out = vektest::capture_stdout([] {
        vek_llist_t head;
        vek_llist_t a;
        vek_llist_init_head(&head);
        vek_llist_insert_tail(&a, &head);
        vek_llist_remove(&a);
        vek_llist_insert(&a, &head);
        vek_llist_remove(&a);
        (void)vek_llist_empty(&head);
    });
    EXPECT_EQ(out, "");
}

} // namespace
