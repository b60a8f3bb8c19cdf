// Transform-tree walk: the re-propagation that runs on every camera move for
// the HUD tree and each shown widget. Trees shaped like the HUD (a centre
// transform, controls below it, glyph transforms below each control) of 250,
// 1,000 and 4,000 nodes; prints the time of one walk and the time per node,
// which stays flat when the walk is linear: once for the tree walk alone
// (visiting every node) and once with the scene's recomposition of each
// transform under its parent, whose per-node cost rises a little once the
// transforms (about 1 KB each) no longer fit the caches.
//
//   bench_tree
#include "engine/core/qvcontainer.h"
#include "engine/core/qvtransform.h"

#include <fmt/core.h>

#include <chrono>
#include <cstdint>
#include <deque>

namespace {

constexpr int kGlyphsPerControl = 24;

// Walks the tree below `parent` the way the scene does.
void propagate(const OakTree<QvTransform>& tree, QvTransform* parent)
{
    tree.walk(parent, [](QvTransform* up, QvTransform* child) { child->updateRelativeTransformation(up); });
}

void measure(int nodes)
{
    std::deque<QvTransform> transforms;
    QvTransform& root = transforms.emplace_back();
    QvTransform& centre = transforms.emplace_back(&root);
    OakTree<QvTransform> tree(&root);
    tree.insert(&root, &centre);
    int count = 2;
    while (count < nodes) {
        QvTransform& control = transforms.emplace_back(&centre);
        control.setTranslation(0.0f, 1.0f, -1.0f);
        tree.insert(&centre, &control);
        ++count;
        for (int g = 0; g < kGlyphsPerControl && count < nodes; ++g, ++count) {
            QvTransform& glyph = transforms.emplace_back(&control);
            glyph.setTranslation(0.1f * float(g), 0.0f, 0.0f);
            tree.insert(&control, &glyph);
        }
    }

    const int walks = 2000000 / nodes;
    std::int64_t visited = 0;
    const auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < walks; ++i) tree.walk(&centre, [&visited](QvTransform*, QvTransform*) { ++visited; });
    const auto middle = std::chrono::steady_clock::now();
    for (int i = 0; i < walks; ++i) {
        centre.translate(0.0f, 0.0f, 0.001f, 0);
        propagate(tree, &centre);
    }
    const auto end = std::chrono::steady_clock::now();
    const double walkOnly = std::chrono::duration<double>(middle - start).count() / walks * 1e6;
    const double withUpdate = std::chrono::duration<double>(end - middle).count() / walks * 1e6;
    fmt::print("{:5} nodes ({} visits a walk): walk {:8.2f} us ({:.4f} us/node), walk + recompose {:8.2f} us "
               "({:.4f} us/node)\n",
               nodes, visited / walks, walkOnly, walkOnly / nodes, withUpdate, withUpdate / nodes);
}

}  // namespace

int main()
{
    for (int nodes : {250, 1000, 4000}) measure(nodes);
    return 0;
}
