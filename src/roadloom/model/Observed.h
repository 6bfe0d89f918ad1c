#pragma once

#include <QtGlobal>

#include <type_traits>

// The setter of an observable property: stores the value and emits the property's NOTIFY signal with it,
// or does nothing when the value is equal to the stored one. True when it changed.
template <class Owner, class T, class Value, class... SignalArgs>
bool setObserved(Owner *owner, T &member, Value &&value, void (Owner::*notify)(SignalArgs...))
{
    if constexpr (std::is_floating_point_v<T>) {
        // Fuzzy, so that a value that only went through a conversion is not announced again.
        if (member == value || (member != 0 && value != 0 && qFuzzyCompare(member, T(value))))
            return false;
    } else if (member == value) {
        return false;
    }
    member = std::forward<Value>(value);
    emit(owner->*notify)(member);
    return true;
}
