// Event firing order, re-entrancy, iteration and handler adaptation.
#include "engine/core/qvevents.h"

#include <cmath>
#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace {

struct Holder {
    virtual ~Holder() = default;
    int id = 0;
};
struct SpecialHolder : Holder {
    int special = 42;
};

using HolderEvent = QvEvent<Holder, QvKeyboardEventArgs>;

TEST(Event, HandlersRunInInsertionOrderAndDuplicatesRunTwice)
{
    HolderEvent event;
    std::string trace;
    auto a = [&](Holder*, QvKeyboardEventArgs*) { trace += 'A'; };
    event += a;
    event += [&](Holder*, QvKeyboardEventArgs*) { trace += 'B'; };
    event += a;
    Holder h;
    QvKeyboardEventArgs args;
    event.opCall(&h, &args);
    event(&h, &args);
    EXPECT_EQ(trace, "ABAABA");
}

TEST(Event, ApplyStopsAtFirstNonZeroResult)
{
    HolderEvent event;
    int bodyCalls = 0;
    event.opCall(nullptr, nullptr);  // no handlers: nothing happens
    EXPECT_EQ(event.opApply([&](const HolderEvent::Handler&) {
        ++bodyCalls;
        return 1;
    }),
              0);
    EXPECT_EQ(bodyCalls, 0);
    EXPECT_FALSE(event.getLastHandler());

    std::string trace;
    for (char name : std::string("ABCD"))
        event += [&, name](Holder*, QvKeyboardEventArgs*) { trace += name; };
    const int result = event.opApply([&](const HolderEvent::Handler& h) {
        h(nullptr, nullptr);
        return ++bodyCalls == 2 ? 7 : 0;
    });
    EXPECT_EQ(result, 7);
    EXPECT_EQ(trace, "AB");
    event.getLastHandler()(nullptr, nullptr);
    EXPECT_EQ(trace, "ABD");
}

// A handler that adds handlers while it runs keeps running on valid state: its
// own captured data must survive however many handlers it appends.
TEST(Event, HandlerAddedDuringFiringRunsFromTheNextFiring)
{
    struct Context {
        HolderEvent event;
        std::vector<std::string> firings = std::vector<std::string>(2);
        int firing = 0;
    } context;
    Context* ctx = &context;
    // Captures one pointer only, so the handler's state lives inside the
    // stored std::function itself and moves with it if storage moves.
    ctx->event += [ctx](Holder*, QvKeyboardEventArgs*) {
        ctx->firings[ctx->firing] += "A;";
        if (ctx->firing == 0) {
            for (int i = 0; i < 100; ++i)
                ctx->event += [ctx](Holder*, QvKeyboardEventArgs*) { ctx->firings[ctx->firing] += "x"; };
        }
        ctx->firings[ctx->firing] += "A";
    };
    ctx->event(nullptr, nullptr);
    ++ctx->firing;
    ctx->event(nullptr, nullptr);
    EXPECT_EQ(ctx->firings[0], "A;A");
    EXPECT_EQ(ctx->firings[1], "A;A" + std::string(100, 'x'));
    EXPECT_EQ(ctx->event.size(), 101u);
}

// A handler that fires its own event again: the inner firing covers the list
// as it is then; the outer firing still ends with its own snapshot.
TEST(Event, NestedFiringSeesListAtItsOwnStart)
{
    HolderEvent event;
    std::string trace;
    int depth = 0;
    event += [&](Holder*, QvKeyboardEventArgs*) {
        trace += 'A';
        if (depth++ == 0) {
            event += [&](Holder*, QvKeyboardEventArgs*) { trace += 'C'; };
            event(nullptr, nullptr);
        }
    };
    event += [&](Holder*, QvKeyboardEventArgs*) { trace += 'B'; };
    event(nullptr, nullptr);
    // outer A, inner A B C, outer B
    EXPECT_EQ(trace, "AABCB");
}

TEST(Event, EveryHandlerOfOneFiringSeesTheSameSenderAndArgs)
{
    HolderEvent event;
    std::vector<std::pair<Holder*, QvKeyboardEventArgs*>> seen;
    std::vector<int> keys;
    for (int i = 0; i < 3; ++i)
        event += [&](Holder* s, QvKeyboardEventArgs* a) {
            seen.emplace_back(s, a);
            keys.push_back(a->key);
        };
    Holder h;
    QvKeyboardEventArgs shared;
    shared.key = 65;
    event(&h, &shared);
    shared.key = 66;
    event(&h, &shared);
    ASSERT_EQ(seen.size(), 6u);
    for (auto& [s, a] : seen) {
        EXPECT_EQ(s, &h);
        EXPECT_EQ(a, &shared);
    }
    EXPECT_EQ(keys, (std::vector<int>{65, 65, 65, 66, 66, 66}));
}

TEST(Event, RelatedHandlerShapesAreAdapted)
{
    HolderEvent event;
    std::string trace;
    event += [&] { trace += "none;"; };
    event +=
        [&](SpecialHolder* s, QvKeyboardEventArgs* a) { trace += std::to_string(s->special + a->key) + ";"; };
    // Another argument class gets a fresh default object, never the keyboard one.
    event += [&](Holder*, QvMouseEventArgs* m) { trace += std::to_string(m->x + m->button) + ";"; };
    SpecialHolder s;
    QvKeyboardEventArgs args;
    args.key = 1;
    event(&s, &args);
    EXPECT_EQ(trace, "none;43;0;");

    // A subclass handler is skipped for a sender that is not of its class.
    trace.clear();
    Holder plain;
    event(&plain, &args);
    EXPECT_EQ(trace, "none;0;");
}

// A null function must not break the firing for the handlers after it.
TEST(Event, EmptyHandlersAreNotKept)
{
    HolderEvent event;
    int calls = 0;
    event.addEventHandler(HolderEvent::Handler{});
    void (*none)(Holder*, QvKeyboardEventArgs*) = nullptr;
    event += none;
    void (*noneWithoutParameters)() = nullptr;
    event += noneWithoutParameters;
    event += [&](Holder*, QvKeyboardEventArgs*) { ++calls; };
    EXPECT_EQ(event.size(), 1u);
    EXPECT_NO_THROW(event(nullptr, nullptr));
    EXPECT_EQ(calls, 1);
}

TEST(EventArgs, DefaultsAreZeroAndNaN)
{
    QvMouseEventArgs mouse;
    EXPECT_EQ(mouse.x + mouse.y + mouse.button + mouse.action + mouse.mods, 0);
    QvScrollEventArgs scroll;
    EXPECT_TRUE(std::isnan(scroll.xoffset));
    EXPECT_TRUE(std::isnan(scroll.yoffset));
    EXPECT_TRUE(std::isnan(QvCameraPositionEventArgs::_e.position.x));
    EXPECT_TRUE(std::isnan(QvCameraPositionEventArgs::_e.position.z));
    EXPECT_EQ(QvDropEventArgs::_e.paths, nullptr);
    EXPECT_EQ(QvDropEventArgs::_e.count, 0);
}

}  // namespace
