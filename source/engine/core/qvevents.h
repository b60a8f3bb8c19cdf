// qvevents: the one notification mechanism of the program.
//
// QvEvent<Sender, Args> is an ordered list of handlers taking (Sender*, Args*).
// Handlers run in the order they were added, there is no removal and no
// duplicate check. The argument classes below are what input callbacks, the
// camera and the transforms hand to their handlers. Input argument objects are
// shared and refilled before every firing, so a handler copies what it keeps.
//
// Sender types (QvTransform, Camera, QvMaterialObject, QvWindow, QvWorld, the
// controls) live in their own modules; each holder declares its events as
// members, e.g.  QvEvent<QvTransform, QvEventArgs> onChange;
// Events fired "without an argument object" pass nullptr as Args*.
#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <limits>
#include <tuple>
#include <type_traits>
#include <utility>

#include <glm/vec3.hpp>

// ---------------------------------------------------------------------------
// Argument classes. Integers start at 0, floating-point fields at NaN.
// Each class has one static default instance `_e`, built at program start.
// ---------------------------------------------------------------------------

struct QvEventArgs {
    static QvEventArgs _e;
};

struct QvWindowEventArgs : QvEventArgs {
    std::int32_t width = 0;  // new window size in pixels
    std::int32_t height = 0;
    static QvWindowEventArgs _e;
};

struct QvCharEventArgs : QvEventArgs {
    std::uint32_t codepoint = 0;  // Unicode code point
    static QvCharEventArgs _e;
};

struct QvKeyboardEventArgs : QvEventArgs {
    std::int32_t key = 0;       // GLFW key code
    std::int32_t scancode = 0;  // platform scan code
    std::int32_t action = 0;    // 0 release, 1 press, 2 repeat
    std::int32_t mods = 0;      // GLFW modifier bits
    static QvKeyboardEventArgs _e;
};

struct QvMouseEventArgs : QvEventArgs {
    std::int32_t x = 0;  // cursor in window pixels, truncated toward zero
    std::int32_t y = 0;
    std::int32_t button = 0;  // 0 left, 1 right, 2 middle
    std::int32_t action = 0;  // 0 release, 1 press
    std::int32_t mods = 0;
    static QvMouseEventArgs _e;
};

struct QvCursorEventArgs : QvEventArgs {
    std::int32_t x = 0;  // cursor in window pixels, truncated toward zero
    std::int32_t y = 0;
    static QvCursorEventArgs _e;
};

struct QvScrollEventArgs : QvEventArgs {
    double xoffset = std::numeric_limits<double>::quiet_NaN();  // as GLFW reports
    double yoffset = std::numeric_limits<double>::quiet_NaN();
    static QvScrollEventArgs _e;
};

struct QvDropEventArgs : QvEventArgs {
    std::int32_t count = 0;        // number of dropped paths
    const char** paths = nullptr;  // owned by GLFW, valid only during the callback
    static QvDropEventArgs _e;
};

struct QvCameraPositionEventArgs : QvEventArgs {
    glm::vec3 position{std::numeric_limits<float>::quiet_NaN()};
    static QvCameraPositionEventArgs _e;
};

// Carries nothing: no part of the program sets or reads a field of it.
struct QvShaderEventArgs : QvEventArgs {
    static QvShaderEventArgs _e;
};

// ---------------------------------------------------------------------------
// Handler shape deduction, used by the append operator to adapt handlers of a
// related shape (a subclass sender, another argument class, no parameters).
// ---------------------------------------------------------------------------
namespace qvevents_detail {

// A callable's parameter types, read off the std::function it deduces to
// (function pointers and lambdas or functors with one call operator).
template <class F>
struct CallShape : CallShape<decltype(std::function{std::declval<F>()})> {
};
template <class R, class... P>
struct CallShape<std::function<R(P...)>> {
    using Params = std::tuple<P...>;
};

}  // namespace qvevents_detail

// ---------------------------------------------------------------------------
// QvEvent
// ---------------------------------------------------------------------------
template <class Sender, class Args>
class QvEvent {
public:
    using Handler = std::function<void(Sender*, Args*)>;

    QvEvent() = default;
    // An event belongs to one owner; copying it would copy handlers bound to
    // that owner onto another object.
    QvEvent(const QvEvent&) = delete;
    QvEvent& operator=(const QvEvent&) = delete;

    // Append a handler of the event's own shape. No duplicate check. An empty
    // handler (a null function) is not kept: calling it would throw in the
    // middle of a firing and the handlers after it would never run.
    void addEventHandler(Handler handler)
    {
        if (handler) handlers.push_back(std::move(handler));
    }

    // Append any callable: the exact shape (Sender*, Args*), no parameters, or
    // (Sub*, OtherArgs*) where Sub derives from Sender. A subclass handler is
    // skipped for a sender that is not a Sub (checked when Sender is
    // polymorphic). A handler of another argument class gets a
    // default-constructed object of its own class, never a reinterpreted one.
    template <class F>
    QvEvent& operator+=(F&& handler);

    // Call every handler present when the call began, first added first.
    void opCall(Sender* sender, Args* args);
    void operator()(Sender* sender, Args* args) { opCall(sender, args); }

    // Call body(handler) in order; stop at and return the first non-zero result.
    template <class Body>
    int opApply(Body&& body) const;

    // The most recently added handler; an empty Handler when there is none.
    Handler getLastHandler() const { return handlers.empty() ? Handler{} : handlers.back(); }

    std::size_t size() const { return handlers.size(); }
    bool empty() const { return handlers.empty(); }

private:
    // A deque keeps every element in place when another is appended, so a
    // handler that adds handlers while it runs does not pull the running
    // std::function out from under itself.
    std::deque<Handler> handlers;
};

template <class Sender, class Args>
void QvEvent<Sender, Args>::opCall(Sender* sender, Args* args)
{
    const std::size_t count = handlers.size();
    for (std::size_t i = 0; i < count; ++i) handlers[i](sender, args);
}

template <class Sender, class Args>
template <class Body>
int QvEvent<Sender, Args>::opApply(Body&& body) const
{
    const std::size_t count = handlers.size();
    for (std::size_t i = 0; i < count; ++i) {
        if (const int result = body(handlers[i]); result != 0) return result;
    }
    return 0;
}

template <class Sender, class Args>
template <class F>
QvEvent<Sender, Args>& QvEvent<Sender, Args>::operator+=(F&& handler)
{
    using Fn = std::decay_t<F>;
    if constexpr (std::is_pointer_v<Fn>) {
        if (handler == nullptr) return *this;  // a null function is not a handler
    }
    if constexpr (std::is_invocable_v<Fn&, Sender*, Args*>) {
        addEventHandler(Handler(std::forward<F>(handler)));
    } else if constexpr (std::is_invocable_v<Fn&>) {
        addEventHandler([h = Fn(std::forward<F>(handler))](Sender*, Args*) mutable { h(); });
    } else {
        using Params = typename qvevents_detail::CallShape<Fn>::Params;
        static_assert(std::tuple_size_v<Params> == 2, "an event handler takes (sender, args) or nothing");
        using SubPtr = std::tuple_element_t<0, Params>;
        using OtherArgsPtr = std::tuple_element_t<1, Params>;
        using Sub = std::remove_cv_t<std::remove_pointer_t<SubPtr>>;
        using OtherArgs = std::remove_cv_t<std::remove_pointer_t<OtherArgsPtr>>;
        static_assert(std::is_pointer_v<SubPtr> && std::is_base_of_v<Sender, Sub>,
                      "the handler's sender must be the event's sender type or a subclass of it");
        static_assert(std::is_pointer_v<OtherArgsPtr> && std::is_base_of_v<QvEventArgs, OtherArgs>,
                      "the handler's argument must be an event argument class");
        addEventHandler([h = Fn(std::forward<F>(handler))](Sender* sender, Args* args) mutable {
            Sub* sub = nullptr;
            if constexpr (std::is_polymorphic_v<Sender>) {
                // A subclass handler cannot take some other object of the base class.
                sub = dynamic_cast<Sub*>(sender);
                if (sub == nullptr && sender != nullptr) return;
            } else {
                sub = static_cast<Sub*>(sender);
            }
            if constexpr (std::is_convertible_v<Args*, OtherArgsPtr>) {
                h(sub, args);
            } else {
                OtherArgs fresh{};
                h(sub, &fresh);
            }
        });
    }
    return *this;
}
