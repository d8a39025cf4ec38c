#pragma once

#include <juce_core/juce_core.h>

#include <utility>

namespace olvo
{

//==============================================================================
/** A compound member of the engine that the worker and the windows share: strings, vars, lists, byte records.

    Every write and every read from another thread goes through the engine's one lock; readers get a copy. The worker
    is the only writer of most of these, so it may look at its own value without the lock (unguarded()); a member
    that the windows write too must be read with get() on every thread. The lock is never held over device or network
    I/O: build the new value aside, then set() or update() it in.
*/
template <typename T>
class Guarded
{
public:
    explicit Guarded (juce::CriticalSection& engineLock, T initial = T())
        : lock (engineLock), value (std::move (initial)) {}

    /** A copy, taken under the lock. */
    T get() const
    {
        const juce::ScopedLock sl (lock);
        return value;
    }

    /** Replaces the value under the lock. */
    void set (T newValue)
    {
        const juce::ScopedLock sl (lock);
        std::swap (value, newValue);
    }   // the old value is released after the lock, in newValue's destructor

    /** Changes the value in place under the lock; keep f short and free of I/O. */
    template <typename Fn>
    void update (Fn&& f)
    {
        const juce::ScopedLock sl (lock);
        f (value);
    }

    /** Reads part of the value under the lock: returns whatever f returns. */
    template <typename Fn>
    auto read (Fn&& f) const
    {
        const juce::ScopedLock sl (lock);
        return f (static_cast<const T&> (value));
    }

    /** The writing thread's own view, without the lock. Only for a member that no other thread writes. */
    const T& unguarded() const { return value; }

private:
    juce::CriticalSection& lock;
    T value;

    JUCE_DECLARE_NON_COPYABLE (Guarded)
};

} // namespace olvo
