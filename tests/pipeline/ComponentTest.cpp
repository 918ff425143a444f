#include "platform/Classes.h"

#include <gtest/gtest.h>

using namespace velmar;

namespace {
struct Probe : TComponent {
    Probe(TComponent* owner, std::vector<std::string>* log) : TComponent(owner), Log(log) {}
    ~Probe() override { Log->push_back("free " + Name()); }
    void Notification(TComponent* c, TOperation op) override
    {
        if (op == TOperation::opRemove && c != this)
            Log->push_back(Name() + " saw " + c->Name() + " go");
    }
    std::vector<std::string>* Log;
};
} // namespace

TEST(Component, OwnerFreesOwnedLastFirstAndNotifiesSiblings)
{
    std::vector<std::string> log;
    {
        TComponent owner;
        auto* a = TComponent::Create<Probe>(&owner, &log);
        a->SetName("a");
        auto* b = TComponent::Create<Probe>(&owner, &log);
        b->SetName("b");
        EXPECT_EQ(owner.ComponentCount(), 2);
        EXPECT_EQ(owner.FindComponent("b"), b);
    }
    std::vector<std::string> want{"a saw b go", "free b", "free a"};
    EXPECT_EQ(log, want);
}
