#pragma once

#include <cstddef>
#include <initializer_list>
#include <vector>

#include "runtime/fatal.h"

namespace pandrel {

// A one-dimensional, 1-based array grown by appending. Reading or writing a member outside
// 1..Count() is a fatal runtime error, so callers that index with numbers from outside data
// must check Count() first.
template <typename T> class Array {
public:
    Array() = default;
    Array(std::initializer_list<T> members) : m_members(members) {}

    int Count() const { return static_cast<int>(m_members.size()); }
    bool Empty() const { return m_members.empty(); }
    void Append(T value) { m_members.push_back(std::move(value)); }

    T& operator[](int index) { return m_members[Checked(index)]; }
    const T& operator[](int index) const { return m_members[Checked(index)]; }

    const std::vector<T>& Members() const { return m_members; }
    auto begin() const { return m_members.begin(); }
    auto end() const { return m_members.end(); }

    friend bool operator==(const Array&, const Array&) = default;

private:
    std::size_t Checked(int index) const {
        if (index < 1) {
            FatalRuntimeError("数组成员引用下标必须大于等于1", 4);
        }
        if (index > Count()) {
            FatalRuntimeError("数组成员引用下标超出定义范围", 1);
        }
        return static_cast<std::size_t>(index - 1);
    }

    std::vector<T> m_members;
};

} // namespace pandrel
