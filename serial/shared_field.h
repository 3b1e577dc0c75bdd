// Fields of a channel that the owner's thread and the reader thread both touch. The record
// keeps its plain layout; every access that may cross threads goes through these.
#pragma once

#include <atomic>

namespace serial_detail {

template <class T>
T LoadShared(const T& field, std::memory_order order = std::memory_order_relaxed) {
    static_assert(std::atomic_ref<T>::is_always_lock_free);
    return std::atomic_ref<T>(const_cast<T&>(field)).load(order);
}

template <class T>
void StoreShared(T& field, T value, std::memory_order order = std::memory_order_relaxed) {
    std::atomic_ref<T>(field).store(value, order);
}

template <class T>
T ExchangeShared(T& field, T value) {
    return std::atomic_ref<T>(field).exchange(value, std::memory_order_acq_rel);
}

template <class T>
bool CompareExchangeShared(T& field, T expected, T value) {
    return std::atomic_ref<T>(field).compare_exchange_strong(expected, value,
                                                             std::memory_order_acq_rel);
}

}  // namespace serial_detail
