#include <gmock/gmock.h>

#include "kit/closure.h"
#include "kit/refcounted.h"
#include "kit/shared_string.h"

using kit::shared_string;
using kit::smartptr;

namespace {

struct Counted : kit::refcounted {
    explicit Counted(int* destroyed) : destroyed(destroyed) {}
    ~Counted() override { ++*destroyed; }
    int* destroyed;
};

TEST(SharedString, CopiesShareOneBlockAndFreeItWithTheLastCopy) {
    shared_string a("recording");
    EXPECT_EQ(a.shareCount(), 1);
    {
        shared_string b = a;
        shared_string c;
        c = b;
        EXPECT_EQ(a.c_str(), c.c_str());
        EXPECT_EQ(a.shareCount(), 3);
    }
    EXPECT_EQ(a.shareCount(), 1);
    a = "other";  // different text: a new block
    EXPECT_EQ(a, "other");
    EXPECT_EQ(a.shareCount(), 1);
}

TEST(SharedString, NullAndEmptyTextsAreTheUncountedEmptyString) {
    shared_string fromNull(static_cast<const char*>(nullptr));
    shared_string fromEmpty("");
    EXPECT_TRUE(fromNull.empty());
    EXPECT_EQ(fromNull.c_str(), fromEmpty.c_str());
    EXPECT_EQ(fromNull.shareCount(), 0);
    shared_string copy = fromNull;
    EXPECT_EQ(copy.shareCount(), 0);
}

TEST(SharedString, FormattingIsCutAtTheLimit) {
    EXPECT_EQ(shared_string::format("%s %d (0x%X)", "err", 5, 5), "err 5 (0x5)");
    std::string huge(20000, 'x');
    shared_string cut = shared_string::format("%s", huge.c_str());
    EXPECT_EQ(cut.length(), shared_string::kFormatLimit - 1);
}

TEST(SmartPtr, ReleasingTheLastReferenceDestroysOnce) {
    int destroyed = 0;
    {
        smartptr<Counted> a(new Counted(&destroyed));
        smartptr<Counted> b = a;
        EXPECT_EQ(a->references(), 2);
        a.reset();
        EXPECT_EQ(destroyed, 0);
    }
    EXPECT_EQ(destroyed, 1);
}

TEST(SmartPtr, SelfAssignmentAndSameObjectAssignmentKeepTheCount) {
    int destroyed = 0;
    smartptr<Counted> a(new Counted(&destroyed));
    smartptr<Counted> b = a;
    auto& alias = a;
    a = alias;
    EXPECT_EQ(a->references(), 2);
    b = a;
    EXPECT_EQ(a->references(), 2);
    a = std::move(alias);  // self move leaves it alone
    EXPECT_EQ(destroyed, 0);
    EXPECT_EQ(b->references(), 2);
}

struct UtilityWindowLike : kit::refcounted {
    void poke() {}
};

TEST(SmartPtr, NullAccessThrowsWithTheHeadersOrigin) {
    smartptr<UtilityWindowLike> p;
    try {
        p->poke();
        FAIL() << "no exception";
    } catch (kit::NullPointerException& e) {
        EXPECT_STREQ(e.originFile(), "kit_smartptr");
        EXPECT_EQ(e.originLine(), 99);
        EXPECT_TRUE(e.message().empty());
    }
    try {
        (*p).poke();
        FAIL() << "no exception";
    } catch (kit::NullPointerException& e) {
        EXPECT_EQ(e.originLine(), 78);
    }
}

struct Listener {
    void first(int v) { seen.push_back(v); }
    void second(int v) { seen.push_back(-v); }
    std::vector<int> seen;
};

TEST(HandlerList, RefusesAnEqualHandlerAndDispatchesInOrder) {
    Listener l;
    kit::HandlerList<int> list;
    list.addHandler(kit::makeClosure(&l, &Listener::first));
    list.addHandler(kit::makeClosure(&l, &Listener::second));  // other member: accepted
    try {
        list.addHandler(kit::makeClosure(&l, &Listener::first));
        FAIL() << "duplicate accepted";
    } catch (kit::ALogicError& e) {
        EXPECT_EQ(e.message(), "attempted to add a handler which already exists");
    }
    list.dispatch(7);
    EXPECT_THAT(l.seen, ::testing::ElementsAre(7, -7));

    list.removeHandler(kit::makeClosure(&l, &Listener::first));
    list.dispatch(1);
    EXPECT_THAT(l.seen, ::testing::ElementsAre(7, -7, -1));
}

TEST(HandlerList, ClosuresOnDifferentTargetsAreDifferent) {
    Listener a, b;
    auto ca = kit::makeClosure(&a, &Listener::first);
    auto cb = kit::makeClosure(&b, &Listener::first);
    EXPECT_FALSE(ca->equals(*cb));
    EXPECT_TRUE(ca->equals(*kit::makeClosure(&a, &Listener::first)));
}

}  // namespace
