// qvplotlist: a growable list that says how it changed.
//
// The overlay lists (route, stops, circle points, cursor) are sent to the GPU
// every frame, and only what they gained should go. Whether a list merely
// grew or was changed anywhere else cannot be told from its contents without
// reading all of them, so the list counts it instead: appends only make it
// longer, every other write (clear, assign, an element set, an erase, a
// shrink) bumps its revision, and a reader that saw an older revision sends
// the whole list again.
#pragma once

#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <utility>
#include <vector>

template <class T>
class QvPlotList {
public:
    using value_type = T;
    using const_iterator = typename std::vector<T>::const_iterator;

    QvPlotList() = default;
    QvPlotList(std::initializer_list<T> items) : items(items) {}
    QvPlotList(const QvPlotList& other) : items(other.items) {}
    // A list given another's items has been rewritten, whatever it held.
    QvPlotList& operator=(const QvPlotList& other)
    {
        if (this != &other) {
            items = other.items;
            ++rev;
        }
        return *this;
    }
    QvPlotList& operator=(std::initializer_list<T> list)
    {
        items = list;
        ++rev;
        return *this;
    }
    QvPlotList& operator=(std::vector<T> list)
    {
        items = std::move(list);
        ++rev;
        return *this;
    }

    // --- reading -------------------------------------------------------------
    std::size_t size() const { return items.size(); }
    bool empty() const { return items.empty(); }
    const T* data() const { return items.data(); }
    const T& operator[](std::size_t i) const { return items[i]; }
    const T& front() const { return items.front(); }
    const T& back() const { return items.back(); }
    const_iterator begin() const { return items.begin(); }
    const_iterator end() const { return items.end(); }
    const std::vector<T>& view() const { return items; }
    operator const std::vector<T>&() const { return items; }
    // Bumped by every write that is not an append.
    std::uint64_t revision() const { return rev; }

    // --- appending (the revision stays) --------------------------------------
    void push_back(const T& item) { items.push_back(item); }
    template <class... Args>
    T& emplace_back(Args&&... args)
    {
        return items.emplace_back(std::forward<Args>(args)...);
    }
    // At the end an append; anywhere else a rewrite.
    void insert(const_iterator at, std::initializer_list<T> list)
    {
        if (at != items.end()) ++rev;
        items.insert(at, list);
    }

    // --- rewriting (the revision moves on) -----------------------------------
    void clear()
    {
        items.clear();
        ++rev;
    }
    void assign(std::size_t n, const T& item)
    {
        items.assign(n, item);
        ++rev;
    }
    void assign(std::initializer_list<T> list)
    {
        items.assign(list);
        ++rev;
    }
    void set(std::size_t i, const T& item)
    {
        items[i] = item;
        ++rev;
    }
    void resize(std::size_t n, const T& item = T())
    {
        items.resize(n, item);
        ++rev;
    }
    // The items for one call that writes them as it likes (a triangulation
    // filling the list). Counted as a rewrite now, so the reference must not
    // be kept past that call: a write through it after the next frame's
    // upload would not be seen.
    std::vector<T>& edit()
    {
        ++rev;
        return items;
    }

    friend bool operator==(const QvPlotList& a, const QvPlotList& b) { return a.items == b.items; }
    friend bool operator==(const QvPlotList& a, const std::vector<T>& b) { return a.items == b; }

private:
    std::vector<T> items;
    std::uint64_t rev = 0;
};
