#include <gmock/gmock.h>

#include <atomic>

#include "kit/threads.h"

namespace {

class GatedThread : public kit::Thread {
public:
    uint32_t run() override {
        ++runs;
        gate.wait();
        return 7;
    }
    kit::WCondition gate;
    std::atomic<int> runs{0};
};

TEST(Thread, NeverStartedIsNotRunning) {
    kit::smartptr<GatedThread> t(new GatedThread);
    EXPECT_FALSE(t->isRunning());
}

TEST(Thread, StartWhileRunningDoesNothingAndStartAfterTheEndRunsAgain) {
    kit::smartptr<GatedThread> t(new GatedThread);
    t->start();
    HANDLE first = t->threadHandle();
    t->start();
    EXPECT_EQ(t->threadHandle(), first);
    EXPECT_TRUE(t->isRunning());
    t->gate.set();
    t->wait();
    EXPECT_FALSE(t->isRunning());
    DWORD code = 0;
    ::GetExitCodeThread(t->threadHandle(), &code);
    EXPECT_EQ(code, 7u);

    t->start();
    EXPECT_TRUE(t->isRunning());
    t->gate.set();
    t->wait();
    EXPECT_EQ(t->runs.load(), 2);
}

TEST(WCondition, IsAutoReset) {
    kit::WCondition c;
    EXPECT_FALSE(c.waitFor(0));
    c.set();
    EXPECT_TRUE(c.waitFor(0));
    EXPECT_FALSE(c.waitFor(0));
    c.set();
    c.reset();
    EXPECT_FALSE(c.waitFor(0));
}

TEST(EventQueue, DeliversInPostingOrderWithCounts) {
    kit::smartptr<kit::EventQueue> q(new kit::EventQueue);
    int a = 0, b = 0;
    q->postEvent(1, &a);
    q->postEvent(17640, 5, &b);
    uint32_t count = 99;
    ULONG_PTR key = 0;
    void* p = nullptr;
    EXPECT_TRUE(q->getEvent(count, key, p));
    EXPECT_EQ(count, 0u);
    EXPECT_EQ(key, 1u);
    EXPECT_EQ(p, &a);
    EXPECT_TRUE(q->getEvent(count, key, p));
    EXPECT_EQ(count, 17640u);
    EXPECT_EQ(key, 5u);
    EXPECT_EQ(p, &b);
    EXPECT_FALSE(q->getEventFor(0, count, key, p));
}

class Producer : public kit::Thread {
public:
    Producer(kit::EventQueue* q, ULONG_PTR key) : q(q), key(key) {}
    uint32_t run() override {
        for (uintptr_t i = 1; i <= 5000; ++i) q->postEvent(key, reinterpret_cast<void*>(i));
        return 0;
    }
    kit::EventQueue* q;
    ULONG_PTR key;
};

TEST(EventQueue, KeepsEachProducersOrderUnderConcurrentPosting) {
    kit::smartptr<kit::EventQueue> q(new kit::EventQueue);
    kit::smartptr<Producer> p1(new Producer(q.get(), 1)), p2(new Producer(q.get(), 2));
    p1->start();
    p2->start();
    uintptr_t last[3] = {0, 0, 0};
    for (int n = 0; n < 10000; ++n) {
        uint32_t count;
        ULONG_PTR key;
        void* p;
        ASSERT_TRUE(q->getEvent(count, key, p));
        auto v = reinterpret_cast<uintptr_t>(p);
        ASSERT_EQ(v, last[key] + 1);
        last[key] = v;
    }
    p1->wait();
    p2->wait();
}

}  // namespace
