// Transform compositions, component bookkeeping and change firing, checked
// against matrices worked out by hand (written row by row, as on paper).
#include "engine/core/qvtransform.h"

#include <algorithm>
#include <cmath>
#include <functional>
#include <numbers>
#include <string>
#include <vector>

#include <glm/matrix.hpp>
#include <gtest/gtest.h>

#include "matrix_checks.h"

namespace {

constexpr float kHalfPi = std::numbers::pi_v<float> / 2.0f;

// Counts onChange firings and remembers what the handler saw.
struct ChangeProbe {
    int count = 0;
    QvTransform* sender = nullptr;
    QvEventArgs* args = &QvEventArgs::_e;  // anything but null until fired
    glm::mat4 seenModel{0.0f};

    explicit ChangeProbe(QvTransform& t)
    {
        t.onChange += [this](QvTransform* s, QvEventArgs* a) {
            ++count;
            sender = s;
            args = a;
            seenModel = s->getMatrix();
        };
    }
};

TEST(TransformConstruction, FreshTransformIsIdentityWithZeroScalingVector)
{
    QvTransform t;
    EXPECT_TRUE(matrixIs(t.getMatrix(), kIdentityRows));
    EXPECT_TRUE(matrixIs(t.getScaling(), kIdentityRows));
    EXPECT_TRUE(vecIs(t.getScalingVector(), {0, 0, 0}));
    EXPECT_EQ(t.getParent(), nullptr);
}

TEST(TransformConstruction, ChildStartsAtParentsMatrixAndKeepsSnapshot)
{
    QvTransform parent;
    parent.translate(10, 0, 0, 1);
    QvTransform child(&parent);
    QvTransform flagged(&parent, true);
    EXPECT_EQ(child.getParent(), &parent);
    EXPECT_TRUE(matrixIs(child.getMatrix(), translationRows(10, 0, 0)));
    EXPECT_TRUE(matrixIs(flagged.getMatrix(), translationRows(10, 0, 0)));

    // A later move of the parent does not reach the child until it is refreshed.
    parent.translate(20, 0, 0, 1);
    EXPECT_TRUE(matrixIs(child.getMatrix(), translationRows(10, 0, 0)));
    child.updateRelativeTransformation(&parent);
    EXPECT_TRUE(vecIs(child.getTranslationVectorFromMatrix(), {20, 0, 0}));

    // The flag constructor uses the parent snapshot like the plain parent one.
    flagged.translate(1, 0, 0, 1);
    EXPECT_TRUE(matrixIs(flagged.getMatrix(), translationRows(11, 0, 0)));
}

TEST(TransformConstruction, EveryConstructorCreatesOnChange)
{
    QvTransform parent;
    QvTransform plain;
    QvTransform child(&parent);
    QvTransform flagged(&parent, false);
    for (QvTransform* t : {&plain, &child, &flagged}) {
        ChangeProbe probe(*t);
        t->rotate(0.1f, 0, 0);
        EXPECT_EQ(probe.count, 1);
    }
    // A null parent gives a transform without parent.
    QvTransform orphan(nullptr);
    orphan.translate(1, 2, 3, 1);
    EXPECT_EQ(orphan.getParent(), nullptr);
    EXPECT_TRUE(matrixIs(orphan.getMatrix(), translationRows(1, 2, 3)));
}

TEST(TransformIdentity, OrderingIsStrictAndDescendingById)
{
    QvTransform a, b, c;
    a.setId(3);
    b.setId(7);
    c.setId(3);
    EXPECT_EQ(a.opCmp(b), 1);
    EXPECT_EQ(b.opCmp(a), -1);
    EXPECT_EQ(a.opCmp(c), 0);
    EXPECT_EQ(c.opCmp(a), 0);
    EXPECT_TRUE(a.opEquals(c));
    EXPECT_FALSE(a.opEquals(b));
    EXPECT_TRUE(a == c);
    EXPECT_FALSE(a < c || c < a);
    EXPECT_TRUE(b < a);

    // A valid strict ordering lets the standard sort work on it.
    std::vector<QvTransform*> list{&a, &b, &c};
    std::sort(list.begin(), list.end(), [](auto* l, auto* r) { return *l < *r; });
    EXPECT_EQ(list.front(), &b);
}

TEST(TransformAbsolute, TranslateAccumulatesOrReplaces)
{
    QvTransform t;
    t.translate(1, 2, 3, 0);
    t.translate(glm::vec3(1, 2, 3), 0);
    EXPECT_TRUE(vecIs(t.getTranslationVector(), {2, 4, 6}));
    EXPECT_TRUE(matrixIs(t.getTranslation(), translationRows(2, 4, 6)));

    QvTransform u;
    u.translate(1, 2, 3, 1);
    u.translate(1, 2, 3, 1);
    EXPECT_TRUE(vecIs(u.getTranslationVector(), {1, 2, 3}));
    EXPECT_TRUE(matrixIs(u.getMatrix(), translationRows(1, 2, 3)));
}

TEST(TransformAbsolute, AccumulatingScaleAddsVectorButMultipliesMatrix)
{
    QvTransform t;
    const float vectors[] = {2, 4, 6};
    const float matrices[] = {2, 4, 8};
    for (int i = 0; i < 3; ++i) {
        t.scale(2, 2, 2, 0);
        EXPECT_TRUE(vecIs(t.getScalingVector(), glm::vec3(vectors[i])));
        EXPECT_TRUE(matrixIs(t.getScaling(), diagonalRows(matrices[i], matrices[i], matrices[i])));
    }
    t.scale(glm::vec3(3, 4, 5), 1);
    EXPECT_TRUE(vecIs(t.getScalingVector(), {3, 4, 5}));
    EXPECT_TRUE(matrixIs(t.getMatrix(), diagonalRows(3, 4, 5)));
}

// Three-angle forms apply X first, then Y, then Z: Rz x Ry x Rx x M.
TEST(TransformAbsolute, AxisAnglesApplyXThenYThenZ)
{
    QvTransform t;
    t.rotate(kHalfPi, kHalfPi, 0);
    // Rx(90) takes +Y to +Z, then Ry(90) takes +Z to +X.
    const glm::vec4 y = t.getMatrix() * glm::vec4(0, 1, 0, 1);
    EXPECT_TRUE(vecIs(glm::vec3(y), {1, 0, 0}));
    // By hand: Ry(90) x Rx(90).
    EXPECT_TRUE(matrixIs(t.getRotation(), Rows{{{0, 1, 0, 0}, {0, 0, -1, 0}, {-1, 0, 0, 0}, {0, 0, 0, 1}}}));
}

TEST(TransformAbsolute, SetRotationAccumulatesAxisFormReplaces)
{
    const float c = std::cos(1.0f), s = std::sin(1.0f);
    QvTransform t;
    t.setRotation(0.5f, 0, 0);
    t.setRotation(0.5f, 0, 0);
    EXPECT_TRUE(matrixIs(t.getRotation(), Rows{{{1, 0, 0, 0}, {0, c, -s, 0}, {0, s, c, 0}, {0, 0, 0, 1}}}));

    const float ch = std::cos(0.5f), sh = std::sin(0.5f);
    QvTransform u;
    u.setRotation(0.5f, glm::vec3(1, 0, 0));
    u.setRotation(0.5f, glm::vec3(1, 0, 0));
    EXPECT_TRUE(
        matrixIs(u.getRotation(), Rows{{{1, 0, 0, 0}, {0, ch, -sh, 0}, {0, sh, ch, 0}, {0, 0, 0, 1}}}));
}

// Normal form: parent x translation x spin x rotation x scaling.
// Scaling 2, rotation Rz(90), spin Rx(90), translation (1,2,3), parent at (10,0,0):
// e_x -> (2,0,0) -> (0,2,0) -> (0,0,2); e_y -> (0,2,0) -> (-2,0,0) -> (-2,0,0);
// e_z -> (0,0,2) -> (0,0,2) -> (0,-2,0); origin -> (11,2,3).
TEST(TransformComposition, NormalFormWithParent)
{
    QvTransform parent;
    parent.translate(10, 0, 0, 1);
    QvTransform t(&parent);
    t.scale(2, 2, 2, 1);
    t.rotate(kHalfPi, glm::vec3(0, 0, 1));
    t.spin(kHalfPi, glm::vec3(1, 0, 0));
    t.translate(1, 2, 3, 1);
    const Rows expected{{{0, -2, 0, 11}, {0, 0, -2, 2}, {2, 0, 0, 3}, {0, 0, 0, 1}}};
    EXPECT_TRUE(matrixIs(t.getMatrix(), expected));
    EXPECT_TRUE(vecIs(t.getTranslationVectorFromMatrix(), {11, 2, 3}));
    EXPECT_TRUE(vecIs(t.getTranslationVector(), {1, 2, 3}));

    // performMatrixMultiplication(0) recomposes the same normal form.
    t.setTransformation(glm::mat4(1.0f));
    EXPECT_TRUE(matrixIs(t.getMatrix(), kIdentityRows));
    t.performMatrixMultiplication(0);
    EXPECT_TRUE(matrixIs(t.getMatrix(), expected));
}

// Plain form ignores the parent and the spin.
TEST(TransformComposition, PlainFormIgnoresParentAndSpin)
{
    QvTransform parent;
    parent.translate(10, 0, 0, 1);
    QvTransform t(&parent);
    t.spin(kHalfPi, glm::vec3(1, 0, 0));
    t.setScaling(2, 2, 2);
    t.setTranslation(1, 2, 3);
    EXPECT_TRUE(matrixIs(t.getMatrix(), Rows{{{2, 0, 0, 1}, {0, 2, 0, 2}, {0, 0, 2, 3}, {0, 0, 0, 1}}}));
    t.addTranslation(1, 1, 1);
    t.setRelationTranslation(glm::vec3(1, 1, 1));
    EXPECT_TRUE(vecIs(t.getTranslationVector(), {3, 4, 5}));
    EXPECT_TRUE(matrixIs(t.getMatrix(), Rows{{{2, 0, 0, 3}, {0, 2, 0, 4}, {0, 0, 2, 5}, {0, 0, 0, 1}}}));
}

TEST(TransformComposition, OrbitFormPlacesObjectAtDistanceFromTarget)
{
    QvTransform target;
    target.translate(1, 2, 3, 1);

    QvTransform t;
    t.setDistanceFromObjectSurveillance(glm::vec3(0, 0, 5));
    t.relativeRotate(0, 0, 0, &target);
    EXPECT_TRUE(matrixIs(t.getMatrix(), translationRows(1, 2, 8)));
    EXPECT_TRUE(vecIs(t.getTranslationVector(), {0, 0, 0}));

    // Translation takes no part in the orbit form.
    t.relativeTranslate(4, 0, 0, &target, 1);
    EXPECT_TRUE(vecIs(t.getTranslationVector(), {4, 0, 0}));
    EXPECT_TRUE(matrixIs(t.getMatrix(), translationRows(1, 2, 8)));
    // ...but shows at the next normal composition.
    t.performMatrixMultiplication(0);
    EXPECT_TRUE(matrixIs(t.getMatrix(), translationRows(4, 0, 0)));
    t.performMatrixMultiplication(1);
    EXPECT_TRUE(matrixIs(t.getMatrix(), translationRows(1, 2, 8)));
}

// Orbit form: pivot(1,2,3) x Rz(90) x distance(2,0,0) x spin Rx(90) x scaling 2.
// origin -> (2,0,0) -> (0,2,0) -> (1,4,3);
// e_x -> (2,0,0) -> (2,0,0) -> (4,0,0) -> (0,4,0) -> (1,6,3): column (0,2,0);
// e_y -> (0,2,0) -> (0,0,2) -> (2,0,2) -> (0,2,2) -> (1,4,5): column (0,0,2);
// e_z -> (0,0,2) -> (0,-2,0) -> (2,-2,0) -> (2,2,0) -> (3,4,3): column (2,0,0).
TEST(TransformComposition, OrbitFormWithRotationSpinAndScale)
{
    QvTransform target;
    target.translate(1, 2, 3, 1);
    QvTransform t;
    t.setDistanceFromObjectSurveillance(glm::vec3(2, 0, 0));
    t.scale(2, 2, 2, 1);
    t.spin(kHalfPi, glm::vec3(1, 0, 0));
    t.relativeRotate(kHalfPi, glm::vec3(0, 0, 1), &target);
    const Rows expected{{{0, 0, 2, 1}, {2, 0, 0, 4}, {0, 2, 0, 3}, {0, 0, 0, 1}}};
    EXPECT_TRUE(matrixIs(t.getMatrix(), expected));

    // relativeScale keeps the pivots of the target it is given: replace by 1.
    t.relativeScale(1, 1, 1, &target, 1);
    EXPECT_TRUE(vecIs(t.getTranslationVectorFromMatrix(), {1, 4, 3}));
    EXPECT_TRUE(matrixIs(t.getScaling(), kIdentityRows));
}

TEST(TransformComposition, RelativeSpinBeforeAnyTargetUsesIdentityPivots)
{
    QvTransform parent;
    parent.translate(0, 0, 7, 1);
    QvTransform t(&parent);
    t.rotate(kHalfPi, 0, 0);
    t.setDistanceFromObjectSurveillance(glm::vec3(5, 5, 5));  // not used until a target is given
    t.relativeSpin(0, 0, kHalfPi);
    // parent x Rx(90) x Rz(90): e_x -> (0,1,0) -> (0,0,1); e_y -> (-1,0,0); e_z -> (0,0,1) -> (0,-1,0).
    EXPECT_TRUE(matrixIs(t.getMatrix(), Rows{{{0, -1, 0, 0}, {0, 0, -1, 0}, {1, 0, 0, 7}, {0, 0, 0, 1}}}));
}

TEST(TransformComposition, NullOrbitTargetOrbitsTheOrigin)
{
    QvTransform t;
    t.setDistanceFromObjectSurveillance(glm::vec3(3, 0, 0));
    t.relativeRotate(kHalfPi, glm::vec3(0, 0, 1), nullptr);
    EXPECT_TRUE(vecIs(t.getTranslationVectorFromMatrix(), {0, 3, 0}));
}

// Centre-pivot form: outer x rotation x inner x scaling, pivots from the
// translation and the dimension.
TEST(TransformComposition, CentrePivotPlacesLikeTranslationWithoutRotation)
{
    QvTransform t;
    t.setDimension(glm::vec3(4, 6, 8));
    t.changeTranslation(glm::vec3(2, 0, 0));
    EXPECT_TRUE(matrixIs(t.getMatrix(), translationRows(2, 0, 0)));

    t.setRelativeTranslation(1, 0, 0);
    t.setRelativeTranslation(glm::vec3(1, 0, 0));
    EXPECT_TRUE(vecIs(t.getTranslationVector(), {4, 0, 0}));
    EXPECT_TRUE(matrixIs(t.getTranslation(), translationRows(4, 0, 0)));
    EXPECT_TRUE(matrixIs(t.getMatrix(), translationRows(4, 0, 0)));
}

// Dimension 2, translation (5,5,5): outer = (1+5)-2 = 4, inner = 1 on each axis.
// Rz(90) turns the box about its lower corner: origin -> (1,1,1) -> (-1,1,1) -> (3,5,5),
// e_x -> (2,1,1) -> (-1,2,1) -> (3,6,5): column (0,1,0).
TEST(TransformComposition, CentrePivotRotatesAboutLowerCorner)
{
    QvTransform t;
    t.setDimension(glm::vec3(2, 2, 2));
    t.setRelativeTranslation(5, 5, 5);
    t.setRelativeRotation(0, 0, kHalfPi);
    EXPECT_TRUE(matrixIs(t.getMatrix(), Rows{{{0, -1, 0, 3}, {1, 0, 0, 5}, {0, 0, 1, 5}, {0, 0, 0, 1}}}));
    const glm::vec4 corner = t.getMatrix() * glm::vec4(-1, -1, -1, 1);
    EXPECT_TRUE(vecIs(glm::vec3(corner), {4, 4, 4}));
}

TEST(TransformComposition, ZeroTranslationAxisIsNeitherShiftedNorPivoted)
{
    QvTransform t;
    t.setDimension(glm::vec3(2, 2, 2));
    t.setRelativeRotation(0, 0, kHalfPi);
    t.changeTranslation(glm::vec3(0, 5, 0));
    // x: no pivot; y: outer 4, inner 1. origin -> (0,1,0) -> (-1,0,0) -> (-1,4,0).
    EXPECT_TRUE(matrixIs(t.getMatrix(), Rows{{{0, -1, 0, -1}, {1, 0, 0, 4}, {0, 0, 1, 0}, {0, 0, 0, 1}}}));

    // The three-float form stores 0.0001 for zeros (either sign), the matrix keeps 0.
    t.changeTranslation(0.0f, 5.0f, -0.0f);
    EXPECT_TRUE(vecIs(t.getTranslationVector(), {0.0001f, 5, 0.0001f}));
    EXPECT_EQ(t.getTranslationVector().x, 0.0001f);
    EXPECT_TRUE(matrixIs(t.getTranslation(), translationRows(0, 5, 0)));
}

TEST(TransformComposition, RelativeScalingRebuildsFromSummedVector)
{
    QvTransform t;
    t.setRelativeScaling(1, 1, 1);
    EXPECT_TRUE(vecIs(t.getScalingVector(), {1, 1, 1}));
    EXPECT_TRUE(matrixIs(t.getScaling(), kIdentityRows));
    t.setRelativeScaling(1, 1, 1);
    EXPECT_TRUE(vecIs(t.getScalingVector(), {2, 2, 2}));
    EXPECT_TRUE(matrixIs(t.getMatrix(), diagonalRows(2, 2, 2)));
}

TEST(TransformComposition, UpdateRelativeTransformationFollowsTheGivenParent)
{
    QvTransform parent;
    parent.translate(10, 0, 0, 1);
    QvTransform child(&parent);
    child.setScaling(2, 2, 2);
    child.setRotation(kHalfPi, glm::vec3(0, 0, 1));
    parent.translate(0, 20, 0, 1);
    child.updateRelativeTransformation(&parent);
    // translation vector 0: pivots identity, model = parent x Rz(90) x 2.
    EXPECT_TRUE(
        matrixIs(child.getMatrix(), Rows{{{0, -2, 0, 0}, {2, 0, 0, 20}, {0, 0, 2, 0}, {0, 0, 0, 1}}}));
}

TEST(TransformComposition, UpdateWithoutParentComposesWithoutParentFactor)
{
    QvTransform orphan;
    orphan.setScaling(3, 3, 3);
    orphan.updateRelativeTransformation(orphan.getParent());
    EXPECT_TRUE(matrixIs(orphan.getMatrix(), diagonalRows(3, 3, 3)));

    QvTransform parent;
    parent.translate(10, 0, 0, 1);
    QvTransform child(&parent);
    child.setScaling(3, 3, 3);
    child.updateRelativeTransformation(nullptr);
    EXPECT_TRUE(matrixIs(child.getMatrix(), diagonalRows(3, 3, 3)));

    // A parentless transform stores the snapshot but does not use it.
    orphan.updateRelativeTransformation(&parent);
    EXPECT_TRUE(matrixIs(orphan.getMatrix(), diagonalRows(3, 3, 3)));
}

TEST(TransformSkew, QuaternionSkewSetsSpinAndFlagSelectsNothing)
{
    QvTransform a, b;
    a.skew(static_cast<long double>(kHalfPi), glm::vec3(0, 0, 1), 0);
    b.skew(static_cast<long double>(kHalfPi), glm::vec3(0, 0, 1), 1);
    const Rows rz90{{{0, -1, 0, 0}, {1, 0, 0, 0}, {0, 0, 1, 0}, {0, 0, 0, 1}}};
    EXPECT_TRUE(matrixIs(a.getMatrix(), rz90));
    EXPECT_TRUE(matrixIs(b.getMatrix(), rz90));
    EXPECT_TRUE(matrixIs(a.getRotation(), kIdentityRows));

    // A non-unit axis still gives a pure rotation: the quaternion is normalised.
    QvTransform c;
    c.skew(static_cast<long double>(kHalfPi), glm::vec3(0, 0, 3), 0);
    EXPECT_NEAR(glm::determinant(c.getMatrix()), 1.0f, kMatrixTolerance);

    QvTransform d;
    d.skew(glm::quat(std::cos(kHalfPi / 2), 0, 0, std::sin(kHalfPi / 2)));
    EXPECT_TRUE(matrixIs(d.getMatrix(), rz90));
}

// The angle-axis form keeps its unit quaternion; the quaternion form leaves it.
TEST(TransformSkew, AngleAxisSkewKeepsItsQuaternion)
{
    QvTransform a;
    const glm::quat start = a.getQuaternion();
    EXPECT_EQ(start, glm::quat(1, 0, 0, 0));
    a.skew(static_cast<long double>(kHalfPi), glm::vec3(0, 0, 1), 0);
    const glm::quat kept = a.getQuaternion();
    EXPECT_NEAR(kept.w, std::cos(kHalfPi / 2), 1e-6f);
    EXPECT_NEAR(kept.z, std::sin(kHalfPi / 2), 1e-6f);
    EXPECT_NEAR(kept.x * kept.x + kept.y * kept.y, 0.0f, 1e-12f);
    QvTransform b;
    b.skew(static_cast<long double>(kHalfPi), glm::vec3(0, 0, 3), 0);
    EXPECT_NEAR(glm::length(b.getQuaternion()), 1.0f, 1e-6f);  // stored normalised
    a.skew(glm::quat(0, 1, 0, 0));
    EXPECT_EQ(a.getQuaternion(), kept);
}

TEST(TransformSkew, AngleAxisSkewWritesRotationLikeRotate)
{
    QvTransform a, b;
    a.translate(1, 0, 0, 1);
    b.translate(1, 0, 0, 1);
    a.skew(0.3f, glm::vec3(0, 1, 0));
    b.rotate(0.3f, glm::vec3(0, 1, 0));
    EXPECT_TRUE(matrixIs(a.getRotation(), Rows{{{std::cos(0.3f), 0, std::sin(0.3f), 0},
                                                {0, 1, 0, 0},
                                                {-std::sin(0.3f), 0, std::cos(0.3f), 0},
                                                {0, 0, 0, 1}}}));
    for (int c = 0; c < 4; ++c)
        for (int r = 0; r < 4; ++r) EXPECT_FLOAT_EQ(a.getMatrix()[c][r], b.getMatrix()[c][r]);
}

TEST(TransformEvents, FiringOperationsFireOnceAfterModelIsStored)
{
    QvTransform target;
    target.translate(1, 0, 0, 1);
    const std::vector<std::pair<std::string, std::function<void(QvTransform&)>>> firing{
        {"performMatrixMultiplication", [](QvTransform& t) { t.performMatrixMultiplication(1); }},
        {"skew(q)", [](QvTransform& t) { t.skew(glm::quat(1, 0, 0, 0)); }},
        {"skew(angle, axis, flag)", [](QvTransform& t) { t.skew(0.5L, glm::vec3(0, 1, 0), 0); }},
        {"skew(angle, axis)", [](QvTransform& t) { t.skew(0.5f, glm::vec3(0, 1, 0)); }},
        {"rotate(x, y, z)", [](QvTransform& t) { t.rotate(0.5f, 0, 0); }},
        {"rotate(angle, axis)", [](QvTransform& t) { t.rotate(0.5f, glm::vec3(0, 1, 0)); }},
        {"translate", [](QvTransform& t) { t.translate(1, 2, 3, 0); }},
        {"scale", [](QvTransform& t) { t.scale(2, 2, 2, 0); }},
        {"spin(x, y, z)", [](QvTransform& t) { t.spin(0.5f, 0, 0); }},
        {"spin(angle, axis)", [](QvTransform& t) { t.spin(0.5f, glm::vec3(0, 1, 0)); }},
        {"relativeSpin(x, y, z)", [](QvTransform& t) { t.relativeSpin(0.5f, 0, 0); }},
        {"relativeSpin(angle, axis)", [](QvTransform& t) { t.relativeSpin(0.5f, glm::vec3(0, 1, 0)); }},
        {"relativeRotate(x, y, z)", [&](QvTransform& t) { t.relativeRotate(0.5f, 0, 0, &target); }},
        {"relativeRotate(angle, axis)",
         [&](QvTransform& t) { t.relativeRotate(0.5f, glm::vec3(0, 1, 0), &target); }},
        {"relativeTranslate", [&](QvTransform& t) { t.relativeTranslate(1, 0, 0, &target, 0); }},
        {"relativeScale", [&](QvTransform& t) { t.relativeScale(2, 2, 2, &target, 0); }},
    };
    for (const auto& [name, operation] : firing) {
        QvTransform t;
        t.setDistanceFromObjectSurveillance(glm::vec3(0, 0, 2));
        ChangeProbe probe(t);
        operation(t);
        EXPECT_EQ(probe.count, 1) << name;
        EXPECT_EQ(probe.sender, &t) << name;
        EXPECT_EQ(probe.args, nullptr) << name;
        // The handler already saw the final matrix.
        EXPECT_EQ(probe.seenModel, t.getMatrix()) << name;
    }
}

TEST(TransformEvents, SilentOperationsDoNotFire)
{
    QvTransform parent;
    const std::vector<std::pair<std::string, std::function<void(QvTransform&)>>> silent{
        {"setRotation(x, y, z)", [](QvTransform& t) { t.setRotation(0.5f, 0, 0); }},
        {"setRotation(angle, axis)", [](QvTransform& t) { t.setRotation(0.5f, glm::vec3(1, 0, 0)); }},
        {"setTranslation", [](QvTransform& t) { t.setTranslation(1, 2, 3); }},
        {"addTranslation", [](QvTransform& t) { t.addTranslation(1, 2, 3); }},
        {"setRelationTranslation", [](QvTransform& t) { t.setRelationTranslation(glm::vec3(1, 2, 3)); }},
        {"changeTranslation", [](QvTransform& t) { t.changeTranslation(0, 2, 3); }},
        {"changeTranslation(vec3)", [](QvTransform& t) { t.changeTranslation(glm::vec3(1, 2, 3)); }},
        {"setScaling", [](QvTransform& t) { t.setScaling(2, 2, 2); }},
        {"setRelativeRotation", [](QvTransform& t) { t.setRelativeRotation(0.5f, 0, 0); }},
        {"setRelativeTranslation", [](QvTransform& t) { t.setRelativeTranslation(1, 0, 0); }},
        {"setRelativeScaling", [](QvTransform& t) { t.setRelativeScaling(1, 1, 1); }},
        {"updateRelativeTransformation", [&](QvTransform& t) { t.updateRelativeTransformation(&parent); }},
        {"setTransformation", [](QvTransform& t) { t.setTransformation(glm::mat4(2.0f)); }},
    };
    for (const auto& [name, operation] : silent) {
        QvTransform t(&parent);
        ChangeProbe probe(t);
        operation(t);
        EXPECT_EQ(probe.count, 0) << name;
    }
}

// A change handler that moves another transform does so before the firing
// operation returns, so a follower is up to date right after the call.
TEST(TransformEvents, HandlerCanPropagateToChildren)
{
    QvTransform parent;
    QvTransform child(&parent);
    child.setRelativeTranslation(1, 0, 0);
    parent.onChange += [&](QvTransform* sender, QvEventArgs*) { child.updateRelativeTransformation(sender); };
    parent.translate(0, 5, 0, 1);
    EXPECT_TRUE(vecIs(child.getTranslationVectorFromMatrix(), {1, 5, 0}));
}

}  // namespace
