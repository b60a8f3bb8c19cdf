// Text controls in a transform tree that outlives them, as a widget's or the
// scene's tree does: once a control is gone, the tree holds none of the
// transforms it made and freed (glyphs, buffer slots, caret bar).
#include "controlfixtures.h"

#include "controls/qvbutton.h"
#include "controls/qvedit2d.h"
#include "controls/qvlabel.h"
#include "engine/core/qvcontainer.h"
#include "engine/core/qvtransform.h"

#include <array>
#include <cstdint>
#include <set>
#include <string>

using TextControlTree = controlfixtures::TextControlDraw;

namespace {

// The ids of every transform the tree holds below its root.
std::multiset<std::int64_t> idsInTree(const OakTree<QvTransform>& tree, QvTransform* root)
{
    std::multiset<std::int64_t> ids;
    tree.walk(root, [&](QvTransform*, QvTransform* child) { ids.insert(child->getId()); });
    return ids;
}

}  // namespace

TEST_F(TextControlTree, ControlsTakeTheirTransformsOutOfATreeThatOutlivesThem)
{
    QvTransform root;
    OakTree<QvTransform> tree(&root);
    // The creator's transforms, ids 1 to 4, outlive the controls as well.
    std::array<QvTransform, 4> places;
    std::multiset<std::int64_t> creators;
    for (std::size_t i = 0; i < places.size(); ++i) {
        places[i].setId(std::int64_t(i) + 1);
        places[i].setScaling(1.0f, 1.0f, 1.0f);
        tree.insert(nullptr, &places[i]);
        creators.insert(places[i].getId());
    }
    {
        QvLabel info("QvModel_InfoText", u"one two three", font2D, nullptr, *camera);
        QvLabel value("QvModel_OdometerValueLabel", u"0", font2D, nullptr, *camera);
        QvButton clear("QvModel_ButtonClear", u"Clear", font2D, nullptr, *camera);
        // Never handed a transform: it brings its own into the tree.
        QvLabel loose("QvModel_Label", u"loose", font2D, nullptr, *camera);
        int place = 0;
        for (QvTextControl* control : std::array<QvTextControl*, 4>{&info, &value, &clear, &loose}) {
            control->setObjectTree(&tree);
            control->setSize(2.0f, 1.0f, 0.1f);
            control->setTextShader(&text);
            if (control != &loose) control->setTransform(&places[std::size_t(place++)]);
        }
        info.enableWrapping();
        info.initLabel();
        value.initLabel();
        const std::u16string digits = u"1234";
        value.setLabel(digits.data(), int(digits.size()));
        clear.initLabel();
        loose.initLabel();

        QvEdit2D box("QvModel_EditName", font2D, nullptr, *camera);
        box.setObjectTree(&tree);
        box.setSize(3.0f, 1.0f, 0.1f);
        box.setTextShader(&text);
        box.setTransform(&places[3]);
        controlfixtures::typeInto(box, U"name");

        // Each control's glyphs hang below its transform.
        std::int64_t count = 0;
        EXPECT_EQ(tree.getChildren(&places[0], count).size(), 13u);
        EXPECT_EQ(tree.getChildren(&places[1], count).size(), digits.size());
        EXPECT_EQ(tree.getChildren(&places[2], count).size(), 5u);
        EXPECT_EQ(tree.getChildren(&places[3], count).size(), 5u);  // bar and four letters
        EXPECT_EQ(tree.getChildren(loose.transform, count).size(), 5u);
    }
    tree.print();
    EXPECT_EQ(tree.nodeCount, 1 + int(places.size()));
    EXPECT_EQ(idsInTree(tree, &root), creators);
}
