// CZtRef: the references it adds and releases, seen by a counted stub.
#include "cztref.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>

namespace {

// Counts its references and writes each call to a shared journal, "+name" or "-name", so that a
// test sees the order in which a holder adds and releases.
struct SCounted {
    SCounted(const char* n, std::string* j) : name(n), journal(j) {}
    long AddRef() {
        *journal += "+" + name;
        return ++count;
    }
    long Release() {
        *journal += "-" + name;
        return --count;
    }
    std::string name;
    std::string* journal;
    long count = 1;  // the creator's reference
};

TEST(ZtRef, AdoptTakesOverAndAttachAddsOneOfItsOwn) {
    std::string journal;
    SCounted a("a", &journal);
    SCounted b("b", &journal);
    {
        auto adopted = CZtRef<SCounted>::Adopt(&a);
        CZtRef<SCounted> attached(&b);
        EXPECT_EQ(adopted.get(), &a);
        EXPECT_EQ(a.count, 1);
        EXPECT_EQ(b.count, 2);
    }
    EXPECT_EQ(a.count, 0);
    EXPECT_EQ(b.count, 1);
    EXPECT_EQ(journal, "+b-b-a");
}

TEST(ZtRef, CopyAddsMoveHandsOverAssignmentReleasesTheOldObject) {
    std::string journal;
    SCounted a("a", &journal);
    SCounted b("b", &journal);
    CZtRef<SCounted> first(&a);
    CZtRef<SCounted> copy(first);
    EXPECT_EQ(a.count, 3);
    CZtRef<SCounted> moved(std::move(copy));
    EXPECT_FALSE(copy);
    EXPECT_EQ(a.count, 3);
    moved = CZtRef<SCounted>(&b);
    EXPECT_EQ(a.count, 2);
    EXPECT_EQ(b.count, 2);
    moved = moved;  // copies first, so the reference it drops is the copy's own
    EXPECT_EQ(b.count, 2);
    first = std::move(moved);
    EXPECT_EQ(a.count, 1);
    EXPECT_EQ(first.get(), &b);
    EXPECT_EQ(journal, "+a+a+b-a+b-b-a");
}

// Holding the same object again must add before it releases: the other order could let the
// count reach zero in between and destroy the object it keeps.
TEST(ZtRef, ResetAddsTheNewReferenceBeforeReleasingTheOld) {
    std::string journal;
    SCounted a("a", &journal);
    auto ref = CZtRef<SCounted>::Adopt(&a);
    ref.reset(&a);
    EXPECT_EQ(a.count, 1);
    EXPECT_EQ(journal, "+a-a");
    ref.reset();
    EXPECT_FALSE(ref);
    EXPECT_EQ(ref.get(), nullptr);
    EXPECT_EQ(a.count, 0);
    CZtRef<SCounted> none(nullptr);
    none.reset(nullptr);
    EXPECT_EQ(journal, "+a-a-a");
}

}  // namespace
