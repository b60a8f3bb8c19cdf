// Matrix and vector checks for the placement tests (transform, camera,
// objects): expected matrices are written row by row, as they read on paper,
// and compared within a tolerance. NaN never passes a comparison.
#pragma once

#include <array>
#include <cmath>

#include <glm/mat4x4.hpp>
#include <glm/vec3.hpp>
#include <gtest/gtest.h>

// A matrix written the way it reads on paper: rows[r][c].
using Rows = std::array<std::array<float, 4>, 4>;

inline constexpr float kMatrixTolerance = 1e-5f;

inline Rows translationRows(float x, float y, float z)
{
    return {{{1, 0, 0, x}, {0, 1, 0, y}, {0, 0, 1, z}, {0, 0, 0, 1}}};
}

inline Rows diagonalRows(float x, float y, float z)
{
    return {{{x, 0, 0, 0}, {0, y, 0, 0}, {0, 0, z, 0}, {0, 0, 0, 1}}};
}

inline const Rows kIdentityRows = diagonalRows(1, 1, 1);

// glm is column-major: the paper's element [r][c] is m[c][r].
inline ::testing::AssertionResult matrixIs(const glm::mat4& m, const Rows& rows,
                                           float tolerance = kMatrixTolerance)
{
    for (int r = 0; r < 4; ++r)
        for (int c = 0; c < 4; ++c)
            if (!(std::fabs(m[c][r] - rows[r][c]) <= tolerance))
                return ::testing::AssertionFailure()
                       << "element [" << r << "][" << c << "] is " << m[c][r] << ", expected " << rows[r][c];
    return ::testing::AssertionSuccess();
}

inline ::testing::AssertionResult vecIs(glm::vec3 v, glm::vec3 expected, float tolerance = kMatrixTolerance)
{
    for (int i = 0; i < 3; ++i)
        if (!(std::fabs(v[i] - expected[i]) <= tolerance))
            return ::testing::AssertionFailure()
                   << "(" << v.x << ", " << v.y << ", " << v.z << ") expected (" << expected.x << ", "
                   << expected.y << ", " << expected.z << ")";
    return ::testing::AssertionSuccess();
}

// All sixteen elements NaN: a matrix that was never set.
inline ::testing::AssertionResult isUnset(const glm::mat4& m)
{
    for (int c = 0; c < 4; ++c)
        for (int r = 0; r < 4; ++r)
            if (!std::isnan(m[c][r]))
                return ::testing::AssertionFailure() << "element [" << r << "][" << c << "] is " << m[c][r];
    return ::testing::AssertionSuccess();
}
