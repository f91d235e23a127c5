// SPDX-License-Identifier: GPL-3.0-or-later
#include "framework/UBroadcaster.h"
#include "framework/UChangeNotify.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

namespace {

struct TReceived {
    TObject* Sender;
    TGUID EventId;
};

// A listener that records what it hears.
struct TRecordingListener {
    std::vector<TReceived> Events;
    std::unique_ptr<TListener> Listener =
        std::make_unique<TListener>([this](TObject* sender, const TGUID& id) { Events.push_back({sender, id}); });
    IListener* Intf() { return Listener.get(); }
};

// An owner that publishes through a broadcaster it controls, forwarding IBroadcaster to it.
class TPublisher : public TInterfacedObject, public IBroadcaster {
public:
    TPublisher() : FBroadcaster(std::make_unique<TBroadcaster>(this)) {}
    ~TPublisher() override { FreeBroadcaster(FBroadcaster); }
    int AddRef() override { return 1; }
    int Release() override { return 1; }
    void Notify(TObject* sender, const TGUID& eventId) override { FBroadcaster->Notify(sender, eventId); }
    void AddListener(IListener* listener) override { FBroadcaster->AddListener(listener); }
    void RemoveListener(IListener* listener) override { FBroadcaster->RemoveListener(listener); }
    bool QueryOwnInterface(const TGUID& iid, void** object) override
    {
        if (iid == IBroadcaster::IID) {
            *object = static_cast<IBroadcaster*>(this);
            return true;
        }
        return TInterfacedObject::QueryOwnInterface(iid, object);
    }
    TBroadcaster& Broadcaster() { return *FBroadcaster; }
    IBroadcaster* Intf() { return this; }

private:
    std::unique_ptr<TBroadcaster> FBroadcaster;
};

constexpr TGUID kSomeEvent{0x11111111, 0x2222, 0x3333, {1, 2, 3, 4, 5, 6, 7, 8}};

std::vector<std::string> gDestructionErrors;
void RecordDestructionError(const Exception& error)
{
    gDestructionErrors.emplace_back(error.what());
}

} // namespace

TEST(Broadcaster, RegistrationFromEitherSideEndsMutualAndIdempotent)
{
    for (bool fromListener : {true, false}) {
        TPublisher publisher;
        TRecordingListener a;
        for (int twice = 0; twice < 2; ++twice) {
            if (fromListener)
                a.Intf()->Listen(publisher.Intf());
            else
                publisher.AddListener(a.Intf());
        }
        EXPECT_EQ(publisher.Broadcaster().ListenerCount(), 1);
        EXPECT_EQ(a.Listener->BroadcasterCount(), 1);
        EXPECT_EQ(a.Listener->Broadcaster(0), static_cast<IInterface*>(publisher.Intf()));

        publisher.Notify(&publisher, kSomeEvent);
        ASSERT_EQ(a.Events.size(), 1u);
        EXPECT_EQ(a.Events[0].Sender, &publisher);
        EXPECT_EQ(a.Events[0].EventId, kSomeEvent);

        // Unregistering from either side clears both lists.
        if (fromListener)
            publisher.RemoveListener(a.Intf());
        else
            a.Intf()->Unlisten(publisher.Intf());
        EXPECT_EQ(publisher.Broadcaster().ListenerCount(), 0);
        EXPECT_EQ(a.Listener->BroadcasterCount(), 0);
    }
}

TEST(Broadcaster, DestroyingBroadcasterTellsEveryListenerFirstThenDetachesThem)
{
    TRecordingListener listeners[3];
    auto publisher = std::make_unique<TPublisher>();
    TPublisher* sender = publisher.get();
    for (auto& l : listeners)
        l.Intf()->Listen(publisher->Intf());
    // When the first listener hears of the destruction, the others must still be attached.
    int attachedAtFirstEvent = -1;
    listeners[0].Events.clear();
    auto observer = std::make_unique<TListener>([&](TObject*, const TGUID& id) {
        if (id == kDestroyingEventId && attachedAtFirstEvent < 0)
            attachedAtFirstEvent = listeners[2].Listener->BroadcasterCount();
    });
    observer->Listen(publisher->Intf());

    publisher.reset();
    EXPECT_EQ(attachedAtFirstEvent, 1);
    for (auto& l : listeners) {
        ASSERT_EQ(l.Events.size(), 1u);
        EXPECT_EQ(l.Events[0].EventId, kDestroyingEventId);
        EXPECT_EQ(l.Events[0].Sender, sender);
        EXPECT_EQ(l.Listener->BroadcasterCount(), 0);
        EXPECT_EQ(l.Listener->RefCount(), 0);
    }
}

TEST(Broadcaster, DestroyingListenerLeavesBothBroadcastersWithoutItAndSendsNothing)
{
    TPublisher first, second;
    TRecordingListener bystander;
    bystander.Intf()->Listen(first.Intf());
    bystander.Intf()->Listen(second.Intf());
    {
        TRecordingListener doomed;
        doomed.Intf()->Listen(first.Intf());
        second.AddListener(doomed.Intf());
        EXPECT_EQ(first.Broadcaster().ListenerCount(), 2);
    }
    EXPECT_EQ(first.Broadcaster().ListenerCount(), 1);
    EXPECT_EQ(second.Broadcaster().ListenerCount(), 1);
    EXPECT_TRUE(bystander.Events.empty());
    EXPECT_EQ(first.Broadcaster().RefCount(), 0);
}

// Every destruction order of two broadcasters and two listeners bound crosswise leaves no
// dangling partner (run under the address sanitizer, this also proves no use after free).
TEST(Broadcaster, EveryDestructionOrderLeavesNoPartnerBehind)
{
    std::vector<int> order{0, 1, 2, 3};
    do {
        std::unique_ptr<TChangeNotify> b[2] = {std::make_unique<TChangeNotify>(), std::make_unique<TChangeNotify>()};
        std::unique_ptr<TRecordingListener> l[2] = {std::make_unique<TRecordingListener>(),
                                                    std::make_unique<TRecordingListener>()};
        for (auto& listener : l)
            for (auto& broadcaster : b)
                listener->Intf()->Listen(broadcaster.get());
        for (int which : order) {
            if (which < 2) {
                b[which].reset();
            } else {
                l[which - 2].reset();
            }
            for (auto& broadcaster : b)
                if (broadcaster) {
                    broadcaster->Changed(); // must reach only live listeners
                    for (int i = 0; i < broadcaster->ListenerCount(); ++i)
                        EXPECT_NE(broadcaster->Listener(i), nullptr);
                }
        }
    } while (std::next_permutation(order.begin(), order.end()));
}

TEST(Broadcaster, ListenerDestroyedByAHandlerDuringBroadcastIsNotCalled)
{
    TChangeNotify notify;
    auto second = std::make_unique<TRecordingListener>();
    TListener first([&](TObject*, const TGUID&) { second.reset(); });
    first.Listen(&notify);
    second->Intf()->Listen(&notify);
    notify.Changed();
    EXPECT_EQ(second, nullptr);
    EXPECT_EQ(notify.ListenerCount(), 1);
}

TEST(Broadcaster, ListenerAddedDuringBroadcastIsNotCalledInIt)
{
    TChangeNotify notify;
    TRecordingListener late;
    TListener first([&](TObject*, const TGUID&) { late.Intf()->Listen(&notify); });
    first.Listen(&notify);
    notify.Changed();
    EXPECT_TRUE(late.Events.empty());
    notify.Changed();
    EXPECT_EQ(late.Events.size(), 1u);
}

TEST(ChangeNotify, OneChangedEventPerOutermostBracket)
{
    struct TCase {
        const char* Name;
        int Changes;
        int Nesting;
        std::size_t Expected;
    };
    for (const TCase& c : {TCase{"two changes in one bracket", 2, 1, 1}, TCase{"nested brackets", 3, 3, 1},
                           TCase{"bracket without change", 0, 2, 0}, TCase{"change outside any bracket", 1, 0, 1}}) {
        TObject owner;
        TChangeNotify notify(&owner);
        int onChange = 0;
        struct TCounter {
            int* Count;
            void Hit(TObject*) { ++*Count; }
        } counter{&onChange};
        notify.OnChange = MakeNotifyEvent<&TCounter::Hit>(&counter);
        TRecordingListener listener;
        // The owner offers no interfaces: the listener is attached from the notifier's side
        // and never learns of it, so it is detached by hand below.
        notify.TBroadcaster::AddListener(listener.Intf());
        for (int i = 0; i < c.Nesting; ++i)
            notify.BeginUpdate();
        for (int i = 0; i < c.Changes; ++i)
            notify.Changed();
        if (c.Nesting > 0) {
            EXPECT_TRUE(listener.Events.empty()) << c.Name;
        }
        for (int i = 0; i < c.Nesting; ++i)
            notify.EndUpdate();
        ASSERT_EQ(listener.Events.size(), c.Expected) << c.Name;
        EXPECT_EQ(onChange, static_cast<int>(c.Expected)) << c.Name;
        if (c.Expected) {
            EXPECT_EQ(listener.Events[0].EventId, kChangedEventId);
            EXPECT_EQ(listener.Events[0].Sender, &owner) << c.Name;
        }
        notify.TBroadcaster::RemoveListener(listener.Intf());
    }
}

TEST(ChangeNotify, OffersIBroadcasterItselfWithoutAController)
{
    TChangeNotify notify;
    EXPECT_EQ(Supports<IBroadcaster>(&notify), static_cast<IBroadcaster*>(&notify));
    EXPECT_EQ(Supports<IListener>(&notify), nullptr);
    TListener listener;
    EXPECT_EQ(Supports<IListener>(static_cast<TInterfaceImplement*>(&listener)), static_cast<IListener*>(&listener));
}

TEST(InterfacedObject, ReleaseBelowZeroRaisesAndLeavesTheObjectUsable)
{
    TInterfaceImplement object;
    object.AddRef();
    EXPECT_EQ(object.Release(), 0);
    try {
        object.Release();
        FAIL() << "no exception";
    } catch (const Exception& error) {
        EXPECT_STREQ(error.what(), "FRefCount is minus value");
    }
    EXPECT_EQ(object.RefCount(), 0);
    EXPECT_EQ(object.AddRef(), 1);
    object.Release();
}

TEST(InterfacedObject, ControlledObjectAnswersQueriesThroughItsController)
{
    TPublisher publisher;
    // The broadcaster presents itself as the publisher's IBroadcaster.
    EXPECT_EQ(Supports<IBroadcaster>(&publisher.Broadcaster()), publisher.Intf());
    TObject plain;
    TInterfaceImplement controlled(&plain);
    EXPECT_EQ(Supports<IInterface>(&controlled), nullptr); // a controller without interfaces
}

TEST(InterfacedObject, AutoFreeObjectGoesWithItsLastReference)
{
    static int destroyed = 0;
    struct TCounted : TAutoFreeInterface {
        ~TCounted() override { ++destroyed; }
    };
    {
        TInterfaceRef<IInterface> a(new TCounted);
        TInterfaceRef<IInterface> b = a;
        a.Reset();
        EXPECT_EQ(destroyed, 0);
    }
    EXPECT_EQ(destroyed, 1);
}

TEST(InterfacedObject, DestroyingWithLiveReferencesIsReported)
{
    gDestructionErrors.clear();
    const TDestructionErrorHandler previous = SetDestructionErrorHandler(&RecordDestructionError);
    {
        TInterfaceImplement object;
        object.AddRef();
    }
    SetDestructionErrorHandler(previous);
    ASSERT_EQ(gDestructionErrors.size(), 1u);
    EXPECT_EQ(gDestructionErrors[0], kInvalidPointerText);
}

// A partner that does not detach would make the destruction loop spin; it is reported instead.
TEST(Broadcaster, DetachThatDoesNotShrinkTheListIsReportedNotLooped)
{
    struct TDeafListener : TInterfaceImplement, IListener {
        void Notify(TObject*, const TGUID&) override {}
        void Listen(IBroadcaster*) override {}
        void Unlisten(IBroadcaster*) override {}
        bool QueryOwnInterface(const TGUID& iid, void** object) override
        {
            if (iid == IListener::IID) {
                *object = static_cast<IListener*>(this);
                return true;
            }
            return TInterfaceImplement::QueryOwnInterface(iid, object);
        }
    };
    gDestructionErrors.clear();
    const TDestructionErrorHandler previous = SetDestructionErrorHandler(&RecordDestructionError);
    TDeafListener deaf;
    {
        TChangeNotify notify;
        notify.AddListener(&deaf);
    }
    SetDestructionErrorHandler(previous);
    ASSERT_FALSE(gDestructionErrors.empty());
    EXPECT_EQ(gDestructionErrors[0], kInfinityLoopText);
    EXPECT_EQ(deaf.RefCount(), 0);
}
