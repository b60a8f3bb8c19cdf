// qvedit2d: the one-line text box of flat 2D glyphs.
//
// A lit control box with bitmap glyph quads on its front face, a blinking
// caret bar, the keys Enter, Backspace, Delete, Left and Right, sideways
// scrolling at the edges and a ticker mode that runs its text right to left
// every 16 ms. The text is clipped to the box through the stencil buffer.
// Drawn glyph by glyph while being edited, and in one call from a batched
// buffer after Enter (rebuilt only when the text or the camera changes, or
// the batched ticker steps). What it shares with the 3D box is QvEditBox.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "controls/qveditbox.h"
#include "engine/gl/qvglobjects.h"
#include "engine/text/qvtext3d.h"

class QvFont2D;
struct Character2D;

inline constexpr std::int64_t qvEdit2DFirstTransformId = 22000;

class QvEdit2D : public QvEditBox<QvEdit2D, QvCharacter2D> {
public:
    // The light is not kept (the creator calls addLight).
    QvEdit2D(const std::string& name, QvFont2D& font, QvLight* light, Camera& camera);

    // --- set-up -------------------------------------------------------------------
    virtual void setMask(std::uint8_t value) { mask = value; }
    virtual void setPadding(int value) { padding = value; }
    // fontSize and scale = size / 1667.
    void setFontSize(float size) override;
    virtual void setOptimizeBarShader(QvShader* s) { optimizeBarShader = s; }
    virtual void setOptimizeTextShader(QvShader* s) { optimizeTextShader = s; }
    virtual void setOptimizePickingTextShader(QvShader* s) { optimizePickingTextShader = s; }
    // The base's, then a new caret bar.
    void setTransform(QvTransform* t) override;
    // The bar from the size, scale, font, text shader and light of this moment.
    virtual void createBar();
    // A read-only box (the ticker) is no place to type: clicks leave the keys
    // to the scene.
    bool takesFocus() const override { return !readOnly; }

    // --- caret ----------------------------------------------------------------------
    // Caret home a padding margin inside the left or right edge; the bar
    // stays at the edge until the first move.
    void moveBarToStartPosition() override;
    void moveBarToEndPosition() override;

    virtual std::u16string getText() const { return text; }
    // The base's, and the batch goes with the glyphs: a batched box that
    // program text leaves empty draws nothing, not the text it had.
    void clear() override;

    // --- batched drawing ----------------------------------------------------------------
    virtual void optimizeDraw(Camera& camera);
    virtual void deleteBuffers();
    virtual void computeSizeOfBuffer();
    virtual void prepareGLBuffers();
    virtual void prepareVertices();
    // The camera moved: the batch follows (only while it is drawn).
    virtual void updatePosition();

    void draw(Camera& camera) override;

    // The ticker's glyphs, from the end position, past the input rules.
    void initLabel2D(const std::u16string& tickerText);

    // --- fields -------------------------------------------------------------------------
    int padding = 1;  // caret home margin, percent of the width on each side
    QvFont2D& font;
    QvShader* optimizeBarShader = nullptr;  // stored only
    QvShader* optimizeTextShader = nullptr;
    QvShader* optimizePickingTextShader = nullptr;  // stored only
    double tickerTime = 0.0;                        // frame time of the last ticker step
    QvVertexArray batchVao;
    QvBuffer batchVbo;
    std::vector<float> batchVertices;  // 36 floats a glyph
    float tickerStep = 0.01f;          // per 16 ms step
    std::uint8_t mask = 1;             // stencil reference of the box
    bool& readOnly = line.readOnly;
    int batchRebuilds = 0;  // batch rebuilds so far, for the tests

protected:
    std::unique_ptr<QvCharacter2D> makeGlyph(char16_t code) const override;
    float advanceOf(char16_t code) const override;
    double barHalfWidth() const override;
    // Batching on with a fresh batch, text = the glyphs' codes, enteredEvent.
    void enter() override;
    void layOutTicker(const std::u16string& tickerText) override { initLabel2D(tickerText); }
    // Edits draw glyph by glyph until the next Enter.
    void edited() override { optimized = false; }
    void textSet() override { rebuildBatchIfDrawn(); }

private:
    // The font's record of code, or its fallback glyph's.
    const Character2D* glyphRecord(char16_t code) const;
    void moveBarHome(float caretX, float barX);
    void rebuildBatch();
    void rebuildBatchIfDrawn();
    // The ticker's 16 ms step; true when it moved.
    bool tickerStepDue(double now);
};
