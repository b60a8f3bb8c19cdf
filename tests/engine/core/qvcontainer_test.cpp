// Transform tree: insertion, lookup by identity, removal, child walks, counts.
#include "engine/core/qvcontainer.h"
#include "engine/core/qvtransform.h"

#include <cstdio>
#include <deque>
#include <utility>
#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace {

using Tree = OakTree<QvTransform>;
using List = std::vector<QvTransform*>;

List childrenOf(const Tree& tree, QvTransform* t)
{
    std::int64_t count = 0;
    List list = tree.getChildren(t, count);
    EXPECT_EQ(count, static_cast<std::int64_t>(list.size()));
    return list;
}

std::string printed(Tree& tree)
{
    testing::internal::CaptureStdout();
    tree.print();
    std::fflush(stdout);
    return testing::internal::GetCapturedStdout();
}

// A tree rooted at `root` and five transforms to hang in it.
struct TransformTree : testing::Test {
    QvTransform root, a, b, c, d, e;
    Tree tree{&root};
};

TEST_F(TransformTree, InsertUnderRootOnceAndPrintCount)
{
    tree.insert(nullptr, &a);
    tree.insert(nullptr, &a);
    EXPECT_EQ(childrenOf(tree, &root), List{&a});
    EXPECT_EQ(printed(tree), "count nodes = 2\n");
    EXPECT_EQ(tree.nodeCount, 2);
}

TEST_F(TransformTree, ChildrenKeepInsertionOrderAtEveryLevel)
{
    tree.insert(&root, &a);
    tree.insert(&root, &b);
    tree.insert(&a, &c);
    tree.insert(&a, &d);
    tree.insert(&d, &e);
    tree.insert(&root, &c);  // already below root: ignored
    tree.insert(&d, &d);     // a node under itself: ignored
    EXPECT_EQ(childrenOf(tree, &root), (List{&a, &b}));
    EXPECT_EQ(childrenOf(tree, &a), (List{&c, &d}));
    EXPECT_EQ(childrenOf(tree, &d), List{&e});
    EXPECT_EQ(printed(tree), "count nodes = 6\n");
}

TEST_F(TransformTree, UnknownParentPutsChildUnderRootAndLookupIsByIdentity)
{
    QvTransform stranger;
    a.setId(5);
    b.setId(5);  // a's twin by id
    tree.insert(&stranger, &a);
    tree.insert(nullptr, &b);
    EXPECT_EQ(childrenOf(tree, &root), (List{&a, &b}));
    tree.remove(&a);
    EXPECT_EQ(childrenOf(tree, &root), List{&b});
}

// The duplicate test covers only the chosen parent's subtree, so one transform
// can sit in two branches; lookups meet the depth-first first copy.
TEST_F(TransformTree, SameTransformInTwoBranchesResolvesDepthFirst)
{
    tree.insert(nullptr, &a);
    tree.insert(nullptr, &b);
    tree.insert(&a, &c);
    tree.insert(&b, &d);
    tree.insert(&b, &c);
    tree.insert(&c, &e);  // goes under the copy of c below a
    EXPECT_EQ(childrenOf(tree, &b), (List{&d, &c}));
    EXPECT_EQ(childrenOf(tree, &a), List{&c});
    EXPECT_EQ(tree.print(&a), &a);
    EXPECT_EQ(tree.nodeCount, 3);  // a, c, e
    EXPECT_EQ(tree.print(&b), &b);
    EXPECT_EQ(tree.nodeCount, 3);  // b, d, c

    // Removing c takes the first copy (with e) and leaves b's copy alone.
    tree.remove(&c);
    EXPECT_TRUE(childrenOf(tree, &a).empty());
    EXPECT_EQ(childrenOf(tree, &b), (List{&d, &c}));
    EXPECT_EQ(printed(tree), "count nodes = 5\n");
}

// Two sibling nodes with the same transform (an unknown parent skips the
// duplicate test): removal unlinks exactly one node and the count stays right.
TEST_F(TransformTree, RemoveUnlinksOneNodeAmongEqualSiblings)
{
    QvTransform stranger;
    tree.insert(nullptr, &a);
    tree.insert(nullptr, &b);
    tree.insert(&stranger, &a);
    EXPECT_EQ(childrenOf(tree, &root), (List{&a, &b, &a}));
    tree.remove(&a);
    EXPECT_EQ(childrenOf(tree, &root), (List{&b, &a}));
    EXPECT_EQ(printed(tree), "count nodes = 3\n");
}

TEST_F(TransformTree, RemoveInnerNodeReleasesSubtreeAndKeepsSiblingOrder)
{
    for (QvTransform* t : {&a, &b, &c}) tree.insert(nullptr, t);
    tree.insert(&b, &d);
    tree.insert(&d, &e);
    tree.remove(&b);
    EXPECT_EQ(childrenOf(tree, &root), (List{&a, &c}));
    EXPECT_EQ(tree.print(&e), nullptr);
    EXPECT_EQ(tree.nodeCount, 0);
    EXPECT_EQ(printed(tree), "count nodes = 3\n");
    // The released transforms can be inserted again.
    tree.insert(&c, &d);
    EXPECT_EQ(childrenOf(tree, &c), List{&d});
}

TEST_F(TransformTree, RootCannotBeRemovedAndClearKeepsIt)
{
    tree.insert(nullptr, &a);
    tree.insert(&a, &b);
    tree.remove(&root);
    EXPECT_EQ(printed(tree), "count nodes = 3\n");
    tree.clear();
    EXPECT_EQ(printed(tree), "count nodes = 1\n");
    tree.insert(nullptr, &b);
    EXPECT_EQ(childrenOf(tree, &root), List{&b});
}

TEST_F(TransformTree, LeafAndAbsentTransformsHaveNoChildren)
{
    QvTransform &leaf = a, &absent = b;
    tree.insert(nullptr, &leaf);
    std::int64_t count = 0;
    EXPECT_TRUE(tree.getChildren(&leaf, count).empty());
    EXPECT_TRUE(tree.getChildren(&absent, count).empty());
    EXPECT_EQ(count, 0);
    EXPECT_EQ(tree.print(&absent), nullptr);
    EXPECT_EQ(tree.nodeCount, 0);
    tree.remove(&absent);
    EXPECT_EQ(printed(tree), "count nodes = 2\n");
}

// A material object's tree is rooted at its transform's parent, often null.
TEST_F(TransformTree, NullRootValueActsAsRoot)
{
    Tree rootless(nullptr);
    rootless.insert(nullptr, &a);
    EXPECT_EQ(childrenOf(rootless, nullptr), List{&a});
}

TEST_F(TransformTree, NodeTakesMoreThanFourThousandChildren)
{
    std::deque<QvTransform> many(5000);
    for (auto& t : many) tree.insert(nullptr, &t);
    const List children = childrenOf(tree, &root);
    ASSERT_EQ(children.size(), 5000u);
    EXPECT_EQ(children.front(), &many.front());
    EXPECT_EQ(children[4321], &many[4321]);
    EXPECT_EQ(children.back(), &many.back());
}

// The scene carries a move down the tree level by level: every child is
// refreshed from its parent, so grandchildren follow too.
TEST_F(TransformTree, LevelWalkCarriesAMoveToEveryDescendant)
{
    QvTransform child(&root), grandChild(&child);
    child.setRelativeTranslation(1, 0, 0);
    grandChild.setRelativeTranslation(0, 1, 0);
    tree.insert(&root, &child);
    tree.insert(&child, &grandChild);

    root.translate(0, 0, 10, 1);
    std::vector<QvTransform*> level{&root};
    while (!level.empty()) {
        std::vector<QvTransform*> next;
        for (QvTransform* parent : level) {
            for (QvTransform* c : childrenOf(tree, parent)) {
                c->updateRelativeTransformation(parent);
                next.push_back(c);
            }
        }
        level = next;
    }
    const glm::vec3 at = grandChild.getTranslationVectorFromMatrix();
    EXPECT_FLOAT_EQ(at.x, 1);
    EXPECT_FLOAT_EQ(at.y, 1);
    EXPECT_FLOAT_EQ(at.z, 10);
}

}  // namespace

// The walk visits each node once, parents before children, and hands each
// child its own parent; the same placement as the level-by-level walk.
TEST_F(TransformTree, WalkVisitsEverySubtreeNodeOnceWithItsParent)
{
    tree.insert(&root, &a);
    tree.insert(&a, &b);
    tree.insert(&a, &c);
    tree.insert(&c, &d);
    tree.insert(&root, &e);
    std::vector<std::pair<QvTransform*, QvTransform*>> visits;
    tree.walk(&a, [&](QvTransform* up, QvTransform* child) { visits.emplace_back(up, child); });
    const std::vector<std::pair<QvTransform*, QvTransform*>> expected{{&a, &b}, {&a, &c}, {&c, &d}};
    EXPECT_EQ(visits, expected);

    visits.clear();
    QvTransform absent;
    tree.walk(&absent, [&](QvTransform* up, QvTransform* child) { visits.emplace_back(up, child); });
    tree.walk(&d, [&](QvTransform* up, QvTransform* child) { visits.emplace_back(up, child); });
    EXPECT_TRUE(visits.empty());

    // After a removal the walk no longer reaches the removed subtree, and the
    // removed transforms can hang elsewhere.
    tree.remove(&c);
    tree.insert(&e, &d);
    tree.walk(&root, [&](QvTransform* up, QvTransform* child) { visits.emplace_back(up, child); });
    const std::vector<std::pair<QvTransform*, QvTransform*>> after{
        {&root, &a}, {&a, &b}, {&root, &e}, {&e, &d}};
    EXPECT_EQ(visits, after);
}

// A duplicate inserted under a deep parent is still refused when it already
// hangs below that parent, and accepted when it hangs only elsewhere.
TEST_F(TransformTree, DuplicateTestSeesDeepCopiesOnly)
{
    tree.insert(&root, &a);
    tree.insert(&a, &b);
    tree.insert(&b, &c);
    tree.insert(&a, &c);  // c already below a (under b): ignored
    EXPECT_EQ(childrenOf(tree, &a), List{&b});
    tree.insert(&root, &d);
    tree.insert(&d, &c);  // c is not below d: a second copy
    EXPECT_EQ(childrenOf(tree, &d), List{&c});
    tree.clear();
    EXPECT_EQ(printed(tree), "count nodes = 1\n");
    tree.insert(&a, &c);  // a is gone with the clear: c goes under the root
    EXPECT_EQ(childrenOf(tree, &root), List{&c});
}
