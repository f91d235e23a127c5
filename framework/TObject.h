// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The root of the component-style classes and the event pair their handlers are stored in.
// An event is (code, object): the code says which handler it is, the object what it runs on.
// Two events with the same code are the same handler even when bound to different objects,
// which is what lets a helper notice that someone replaced a canvas's own handler.
#include <type_traits>

class TObject {
public:
    virtual ~TObject() = default;
};

struct TNotifyEvent {
    using TCode = void (*)(void* data, TObject* sender);
    TCode Code = nullptr;
    void* Data = nullptr;

    explicit operator bool() const { return Code != nullptr; }
    void operator()(TObject* sender) const
    {
        if (Code)
            Code(Data, sender);
    }
    friend bool operator==(const TNotifyEvent&, const TNotifyEvent&) = default;
};

namespace framework_detail {
template <auto Method>
struct TNotifyThunk;
template <class C, void (C::*Method)(TObject*)>
struct TNotifyThunk<Method> {
    static void Call(void* data, TObject* sender) { (static_cast<C*>(data)->*Method)(sender); }
};
template <class C>
C* ThunkTarget(void (C::*)(TObject*), std::type_identity_t<C>* object)
{
    return object;
}
} // namespace framework_detail

// MakeNotifyEvent<&TCanvas::FontChanged>(canvas): the handler code is one function per method,
// the data the object converted to the method's own class.
template <auto Method, class T>
TNotifyEvent MakeNotifyEvent(T* object)
{
    return {&framework_detail::TNotifyThunk<Method>::Call,
            static_cast<void*>(framework_detail::ThunkTarget(Method, object))};
}
