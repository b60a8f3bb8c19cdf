// What the control GL tests share: a context with a depth and stencil
// framebuffer, the shipped programs, a camera looking at the origin, the
// pixel and stencil read-backs.
#pragma once

#include "glcontext.h"
#include "materialfixtures.h"

#include "engine/core/qvevents.h"
#include "engine/gl/qvglobjects.h"
#include "engine/gl/qvmaterialobject.h"
#include "engine/gl/qvshader.h"
#include "engine/text/qvfont.h"
#include "engine/text/qvfont2d.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

namespace controlfixtures {

inline constexpr int kViewSize = 128;
inline constexpr char kFontPath[] = "fonts/djsans/DejaVuSans.ttf";

inline QvShader shipped(const std::string& name)
{
    const std::string base = "shaders/3.3/" + name;
    return QvShader(base + ".vert", base + ".frag");
}

inline void clearAll()
{
    glClearColor(0.0f, 0.0f, 0.0f, 1.0f);
    glStencilMask(0xFF);
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT | GL_STENCIL_BUFFER_BIT);
    glEnable(GL_DEPTH_TEST);
    glEnable(GL_STENCIL_TEST);
    glEnable(GL_BLEND);
    glBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
}

// The stencil values of the whole framebuffer, rows bottom-up.
inline std::vector<std::uint8_t> stencilValues(int width, int height)
{
    std::vector<std::uint8_t> values(static_cast<size_t>(width * height));
    glPixelStorei(GL_PACK_ALIGNMENT, 1);
    glReadPixels(0, 0, width, height, GL_STENCIL_INDEX, GL_UNSIGNED_BYTE, values.data());
    return values;
}

// Counts pixels of the framebuffer inside [x0, x1) x [y0, y1) for which
// `test` holds.
template <class Test>
int countPixels(const testsupport::GlContext& context, int x0, int y0, int x1, int y1, Test test)
{
    const std::vector<std::uint8_t> rgba = context.pixels();
    int count = 0;
    for (int y = std::max(0, y0); y < std::min(context.height(), y1); ++y) {
        for (int x = std::max(0, x0); x < std::min(context.width(), x1); ++x) {
            const std::uint8_t* p = &rgba[static_cast<size_t>((y * context.width() + x) * 4)];
            if (test(p[0], p[1], p[2])) ++count;
        }
    }
    return count;
}

// The context, the camera at (0, 0, 5) looking down -z and the programs.
class ControlDraw : public testing::Test {
protected:
    testsupport::GlContext context{kViewSize, kViewSize};
    std::unique_ptr<Camera> camera = materialfixtures::frontCamera(kViewSize, kViewSize);
    QvShader flat = shipped("default");
    QvShader light = shipped("light");
    QvShader text = shipped("text2D");
    QvShader batch = shipped("text2DStatic");
};

// The drawing set-up plus the bitmap font; the font's textures belong to the
// test's context, so each test builds its own.
class TextControlDraw : public ControlDraw {
protected:
    QvFont2D font2D{kFontPath};
};

// Sends each code point to `control` as the world sends a typed character.
inline void typeInto(QvMaterialObject& control, std::u32string_view codePoints)
{
    for (const char32_t c : codePoints) {
        QvCharEventArgs args;
        args.codepoint = c;
        (*control.onChar)(&control, &args);
    }
}

// Sends `times` presses of `key` to `control` as the world sends a key down.
inline void pressKey(QvMaterialObject& control, int key, int times = 1)
{
    for (int i = 0; i < times; ++i) {
        QvKeyboardEventArgs args;
        args.key = key;
        args.action = 1;
        (*control.onKeyDown)(&control, &args);
    }
}

}  // namespace controlfixtures
