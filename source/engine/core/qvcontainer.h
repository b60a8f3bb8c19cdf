// qvcontainer: OakTree, the ordered tree of transforms.
//
// The tree records which transform hangs under which, so that a change of one
// transform can be carried to everything placed relative to it (walk). A node
// stands for one transform object: lookups compare object identity, never ids.
// The tree owns its nodes but only references the transforms; it never changes
// a transform.
//
// The walks run on every camera move over hundreds of glyph transforms, so a
// transform's node is found through an index instead of a search from the
// root, and walk() visits the nodes directly: linear in the subtree, no
// allocation.
//
// Usage: OakTree<QvTransform> tree(&rootTransform);
//        tree.insert(&parentTransform, &childTransform);
// Only OakTree<QvTransform> is built (see qvcontainer.cpp).
#pragma once

#include <cstdint>
#include <memory>
#include <unordered_map>
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
    // Calls visit(parent, child) for every node below value's node: parents
    // before their children, siblings in insertion order; `parent` is the value
    // of the child's own parent node. Nothing happens when value is absent.
    // visit must not change the tree.
    template <class Visit>
    void walk(T* value, Visit&& visit) const
    {
        if (const Node* n = _locate(value)) _walk(n, visit);
    }
    // Count every node and write "count nodes = N".
    void print();
    // Count the nodes of value's subtree into nodeCount (0 when absent) and
    // return the node's value (null when absent). Writes nothing.
    T* print(T* value);

    std::int32_t nodeCount = 0;  // written by the two print operations

private:
    static Node* _findNode(Node* node, const T* value);
    static std::int32_t _getNode(const Node* node);
    template <class Visit>
    static void _walk(const Node* node, Visit& visit)
    {
        for (const auto& child : node->children) {
            visit(node->value, child->value);
            _walk(child.get(), visit);
        }
    }
    // The node that holds value: its only node, or the depth-first first one
    // when the value hangs in several places. Null when absent.
    Node* _locate(const T* value) const;
    // True when one of value's nodes is `node` or lies below it.
    bool _inSubtree(const Node* node, const T* value) const;
    void _index(Node* node);
    void _unindex(const Node* node);

    std::unique_ptr<Node> root;
    // Every node of each value, the root's included, in insertion order.
    std::unordered_map<const T*, std::vector<Node*>> nodesOf;
};

extern template class OakTree<QvTransform>;
