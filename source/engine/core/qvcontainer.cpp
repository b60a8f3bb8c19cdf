// qvcontainer: OakTree node lookup, insertion, removal and counting.
//
// Children are held in growable lists, so a node takes any number of them.
// Removal unlinks exactly the node found, by node identity, so siblings that
// hold the same transform stay in place. The index from value to nodes keeps
// lookups and the insertion's duplicate test independent of the tree's size.
#include "engine/core/qvcontainer.h"

#include <algorithm>

#include <fmt/core.h>

#include "engine/core/qvtransform.h"

template <class T>
OakTree<T>::OakTree(T* rootValue) : root(std::make_unique<Node>())
{
    root->value = rootValue;
    _index(root.get());
}

// Depth first, each node tested before its subtree, children in order.
template <class T>
typename OakTree<T>::Node* OakTree<T>::_findNode(Node* node, const T* value)
{
    if (node->value == value) return node;
    for (const auto& child : node->children) {
        if (Node* hit = _findNode(child.get(), value)) return hit;
    }
    return nullptr;
}

// The node and all its descendants.
template <class T>
std::int32_t OakTree<T>::_getNode(const Node* node)
{
    std::int32_t count = 1;
    for (const auto& child : node->children) count += _getNode(child.get());
    return count;
}

template <class T>
typename OakTree<T>::Node* OakTree<T>::_locate(const T* value) const
{
    const auto found = nodesOf.find(value);
    if (found == nodesOf.end()) return nullptr;
    // Copies in several branches are rare; the first one met depth-first wins.
    if (found->second.size() > 1) return _findNode(root.get(), value);
    return found->second.front();
}

template <class T>
bool OakTree<T>::_inSubtree(const Node* node, const T* value) const
{
    const auto found = nodesOf.find(value);
    if (found == nodesOf.end()) return false;
    for (const Node* copy : found->second) {
        for (const Node* up = copy; up != nullptr; up = up->parent) {
            if (up == node) return true;
        }
    }
    return false;
}

template <class T>
void OakTree<T>::_index(Node* node)
{
    nodesOf[node->value].push_back(node);
}

// Forgets the node and its whole subtree.
template <class T>
void OakTree<T>::_unindex(const Node* node)
{
    for (const auto& child : node->children) _unindex(child.get());
    const auto found = nodesOf.find(node->value);
    if (found == nodesOf.end()) return;
    auto& copies = found->second;
    copies.erase(std::find(copies.begin(), copies.end(), node));
    if (copies.empty()) nodesOf.erase(found);
}

template <class T>
void OakTree<T>::insert(T* parent, T* child)
{
    Node* p = parent == nullptr ? root.get() : _locate(parent);
    if (p != nullptr && _inSubtree(p, child)) return;
    // A parent that is not in the tree hands the child to the root, without
    // the duplicate test.
    if (p == nullptr) p = root.get();
    auto node = std::make_unique<Node>();
    node->parent = p;
    node->value = child;
    _index(node.get());
    p->children.push_back(std::move(node));
}

template <class T>
void OakTree<T>::remove(T* value)
{
    Node* n = _locate(value);
    if (n == nullptr || n->parent == nullptr) return;
    _unindex(n);
    auto& siblings = n->parent->children;
    // Erasing the owning pointer releases n's whole subtree.
    siblings.erase(std::find_if(siblings.begin(), siblings.end(),
                                [n](const std::unique_ptr<Node>& s) { return s.get() == n; }));
}

template <class T>
void OakTree<T>::clear()
{
    root->children.clear();
    nodesOf.clear();
    _index(root.get());
}

template <class T>
std::vector<T*> OakTree<T>::getChildren(T* value, std::int64_t& count) const
{
    const Node* n = _locate(value);
    if (n == nullptr || n->children.empty()) return {};
    std::vector<T*> values;
    values.reserve(n->children.size());
    for (const auto& child : n->children) values.push_back(child->value);
    count = static_cast<std::int64_t>(values.size());
    return values;
}

template <class T>
void OakTree<T>::print()
{
    nodeCount = _getNode(root.get());
    fmt::print("count nodes = {}\n", nodeCount);
}

template <class T>
T* OakTree<T>::print(T* value)
{
    const Node* n = _locate(value);
    nodeCount = n != nullptr ? _getNode(n) : 0;
    return n != nullptr ? n->value : nullptr;
}

template class OakTree<QvTransform>;
