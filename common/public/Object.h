// Object<T>: a per-GPU container of four slots guarded by a mask.
//
// Every interposed object (adapter, device, resource) exists once per GPU towards the
// vendor drivers; bit i of m_mask says whether slot i (GPU i) holds a value.
#pragma once

#include "Report.h"

#include <stdint.h>

template <typename T> class Object {
public:
    static constexpr unsigned kSlotCount = 4;

    /// Stores `value` in slot `index`; the slot counts as filled only if the value is non-zero.
    void set(unsigned index, T value) {
        if (index >= kSlotCount) {
            VESSA_REPORT(Warning, 0, "index < kSlotCount", "set object: index %u out of range",
                         index);
            return;
        }
        m_slots[index] = value;
        if (value != T())
            m_mask |= 0x00000001u << index;
        else
            m_mask &= ~(0x00000001u << index);
    }

    /// Returns slot `index`. An empty slot is reported and read all the same (as zero if it
    /// was never set), since callers rely on reading on.
    T get(unsigned index) const {
        if (index >= kSlotCount) {
            VESSA_REPORT(Warning, 0, "index < kSlotCount", "get object: index %u out of range",
                         index);
            return T();
        }
        VESSA_CHECK_AT(129, Warning, 0, m_mask & (0x00000001 << index),
                       "get object: index out of mask");
        return m_slots[index];
    }

    /// True when slot `index` holds a value.
    bool has(unsigned index) const { return index < kSlotCount && (m_mask & (1u << index)); }

    uint32_t mask() const { return m_mask; }

private:
    uint32_t m_mask = 0;
    T m_slots[kSlotCount] = {};
};
