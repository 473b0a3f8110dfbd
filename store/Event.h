#pragma once
// Store events and their handlers.
//
// A handler is reference counted: the event that holds it and the DataHandler
// that registered it each keep a reference. Destroying a DataHandler marks its
// handlers dead; dispatch works on a snapshot of the handler list, holds a
// reference to each handler while calling it and skips dead ones, so a handler
// may remove items, subscribe others or destroy its own object safely.
#include <QtGlobal>
#include <vector>

class EventHandlerRoot {
public:
    virtual ~EventHandlerRoot() = default;
    bool IsDead() const { return m_dead; }
    void Kill() { m_dead = true; }
    void AddRef() { ++m_refs; }
    void Release()
    {
        if (--m_refs == 0)
            delete this;
    }

private:
    int m_refs = 0;
    bool m_dead = false;
};

// Keeps one reference to a handler.
template <class H> class HandlerRef {
public:
    HandlerRef() = default;
    explicit HandlerRef(H* h)
        : m_h(h)
    {
        if (m_h)
            m_h->AddRef();
    }
    HandlerRef(const HandlerRef& o)
        : HandlerRef(o.m_h)
    {
    }
    HandlerRef(HandlerRef&& o) noexcept
        : m_h(o.m_h)
    {
        o.m_h = nullptr;
    }
    HandlerRef& operator=(HandlerRef o)
    {
        std::swap(m_h, o.m_h);
        return *this;
    }
    ~HandlerRef()
    {
        if (m_h)
            m_h->Release();
    }
    H* get() const { return m_h; }
    H* operator->() const { return m_h; }

private:
    H* m_h = nullptr;
};

template <class P> class EventHandlerBase : public EventHandlerRoot {
public:
    virtual void Handle(P payload) = 0;
};

// Binds an object and one of its member functions.
template <class C, class P> class EventHandler : public EventHandlerBase<P> {
public:
    typedef void (C::*Method)(P);
    EventHandler(C* object, Method method)
        : m_object(object)
        , m_method(method)
    {
    }
    void Handle(P payload) override { (m_object->*m_method)(payload); }

private:
    C* m_object;
    Method m_method;
};

// Binds any callable; convenient for tests and small glue.
template <class P, class F> class FunctionEventHandler : public EventHandlerBase<P> {
public:
    explicit FunctionEventHandler(F f)
        : m_f(std::move(f))
    {
    }
    void Handle(P payload) override { m_f(payload); }

private:
    F m_f;
};

template <class P> class Event {
public:
    void Insert(EventHandlerBase<P>* handler)
    {
        Prune();
        m_handlers.emplace_back(handler);
    }
    bool Empty() const { return m_handlers.empty(); }

    // Calls every live handler; stop() is asked before each call and ends the
    // dispatch early (for a payload item that a handler removed).
    template <class Stop> void Dispatch(P payload, Stop&& stop)
    {
        if (m_handlers.empty())
            return;
        std::vector<HandlerRef<EventHandlerBase<P>>> snapshot(m_handlers);
        for (auto& h : snapshot) {
            if (h->IsDead())
                continue;
            if (stop())
                return;
            h->Handle(payload);
        }
    }
    void Dispatch(P payload)
    {
        Dispatch(payload, [] { return false; });
    }

private:
    void Prune()
    {
        if (m_handlers.size() < 16 || ++m_prune % 16)
            return;
        std::erase_if(m_handlers, [](const auto& h) { return h->IsDead(); });
    }

    std::vector<HandlerRef<EventHandlerBase<P>>> m_handlers;
    unsigned m_prune = 0;
};

// The base of every store client: remembers the handlers it registered and
// disables them all when it is destroyed.
class DataHandler {
public:
    DataHandler() = default;
    DataHandler(const DataHandler&) = delete;
    DataHandler& operator=(const DataHandler&) = delete;
    virtual ~DataHandler()
    {
        for (auto& h : m_handlers)
            h->Kill();
    }

    // Records a handler so that it dies with this object; returns it.
    template <class H> H* Register(H* handler)
    {
        Keep(handler);
        return handler;
    }
    // Subscribes one of this object's member functions to an event.
    template <class C, class P> EventHandler<C, P>* Subscribe(Event<P>& event, void (C::*method)(P))
    {
        auto* h = Register(new EventHandler<C, P>(static_cast<C*>(this), method));
        event.Insert(h);
        return h;
    }
    // Subscribes a callable to an event.
    template <class P, class F> EventHandlerBase<P>* SubscribeFunction(Event<P>& event, F f)
    {
        auto* h = Register(new FunctionEventHandler<P, F>(std::move(f)));
        event.Insert(h);
        return h;
    }

private:
    // One body for every kind of handler. Not inlined: GCC 12 takes the
    // growth of a vector it sees built empty for a write out of bounds.
    [[gnu::noinline]] void Keep(EventHandlerRoot* handler) { m_handlers.emplace_back(handler); }

    std::vector<HandlerRef<EventHandlerRoot>> m_handlers;
};
