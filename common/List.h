// The owning pointer list: a doubly linked list of objects with a count. The list that holds an
// object owns it; removing hands the object back to the caller, who deletes it or passes it on.
// Destroying a list deletes whatever it still holds. No locking: callers that share a list
// between threads guard it themselves.
#pragma once

#include <cstddef>
#include <list>
#include <memory>
#include <utility>

namespace kvsdk {

template <class T>
class CList {
  public:
    using Pointer = std::unique_ptr<T>;

    CList() = default;
    CList(const CList&) = delete;
    CList& operator=(const CList&) = delete;
    CList(CList&&) noexcept = default;
    CList& operator=(CList&&) noexcept = default;
    ~CList() { RemoveAllFromTail(); }

    void AddTail(Pointer item) { m_items.push_back(std::move(item)); }
    void AddHead(Pointer item) { m_items.push_front(std::move(item)); }

    // Removes and hands back the head (tail) object; null when the list is empty.
    Pointer RemoveHead() {
        if (m_items.empty()) return nullptr;
        Pointer item = std::move(m_items.front());
        m_items.pop_front();
        return item;
    }
    Pointer RemoveTail() {
        if (m_items.empty()) return nullptr;
        Pointer item = std::move(m_items.back());
        m_items.pop_back();
        return item;
    }

    size_t GetCount() const { return m_items.size(); }
    bool IsEmpty() const { return m_items.empty(); }

    // Deletes every object, from the tail to the head.
    void RemoveAllFromTail() {
        while (!m_items.empty()) RemoveTail().reset();
    }
    // Deletes every object, from the head to the tail.
    void RemoveAllFromHead() {
        while (!m_items.empty()) RemoveHead().reset();
    }

    // Walk from head to tail. The objects stay owned by the list.
    template <class F>
    void ForEach(F&& visit) const {
        for (const auto& item : m_items) visit(*item);
    }
    auto begin() { return m_items.begin(); }
    auto end() { return m_items.end(); }
    auto begin() const { return m_items.begin(); }
    auto end() const { return m_items.end(); }

  private:
    std::list<Pointer> m_items;
};

}  // namespace kvsdk
