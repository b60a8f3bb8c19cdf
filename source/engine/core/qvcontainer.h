// qvcontainer: OakTree, the ordered tree of transforms.
//
// The tree records which transform hangs under which, so that a change of one
// transform can be carried to everything placed relative to it (the scene
// walks it level by level with getChildren). A node stands for one transform
// object: lookups compare object identity, never ids. The tree owns its nodes
// but only references the transforms; it never changes a transform.
//
// Usage: OakTree<QvTransform> tree(&rootTransform);
//        tree.insert(&parentTransform, &childTransform);
// Only OakTree<QvTransform> is built (see qvcontainer.cpp).
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

class QvTransform;

template <class T>
class OakTree {
public:
    struct Node {
        std::vector<std::unique_ptr<Node>> children;  // insertion order
        Node* parent = nullptr;                       // null for the root
        T* value = nullptr;                           // not owned
    };

    // The root node holds rootValue (which may be null).
    explicit OakTree(T* rootValue);

    // Put child under parent's node (under the root when parent is null).
    // Nothing happens when child is already in parent's subtree. A parent that
    // is not in the tree puts child directly under the root.
    void insert(T* parent, T* child);
    // Remove value's node (the first met depth-first) with its whole subtree.
    // The root stays.
    void remove(T* value);
    // Remove every child subtree of the root; the root stays.
    void clear();
    // The transforms of value's direct children, in order. Empty when value has
    // no children or is not in the tree; count is written only when non-empty.
    std::vector<T*> getChildren(T* value, std::int64_t& count) const;
    // Count every node and write "count nodes = N".
    void print();
    // Count the nodes of value's subtree into nodeCount (0 when absent) and
    // return the node's value (null when absent). Writes nothing.
    T* print(T* value);

    std::int32_t nodeCount = 0;  // written by the two print operations

private:
    static Node* _findNode(Node* node, const T* value);
    static std::int32_t _getNode(const Node* node);

    std::unique_ptr<Node> root;
};

extern template class OakTree<QvTransform>;
