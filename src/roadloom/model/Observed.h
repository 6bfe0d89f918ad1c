#pragma once

#include <utility>

// The setter of an observable property: stores the value and emits the property's NOTIFY signal with it,
// or does nothing when it equals the stored one. True when it changed.
template <class Owner, class T, class Value, class... SignalArgs>
bool setObserved(Owner *owner, T &member, Value &&value, void (Owner::*notify)(SignalArgs...))
{
    if (member == value)
        return false;
    member = std::forward<Value>(value);
    emit(owner->*notify)(member);
    return true;
}
