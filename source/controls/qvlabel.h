// qvlabel: a text standing in the scene: captions and values of the
// statistics, the wrapped information text, the 3D title and the labels of
// the head-up panels. It draws only its glyphs; its box is its extent and
// picking volume.
//
// The text is a string (literal or a dictionary entry) or, for values that
// change every frame, a UTF-16 buffer with a length that goes into 31 glyph
// slots. Bitmap text can be wrapped and drawn in one call from one buffer on
// the font atlas (`optimized`).
#pragma once

#include "controls/qvtextcontrol.h"

class QvLight;
struct QvKeyboardEventArgs;

inline constexpr std::size_t qvLabelSlotCount = 31;
inline constexpr std::int64_t qvLabelFirstTransformId = 300000;

class QvLabel : public QvTextControl {
public:
    // Dictionary text (entry `key` of `language`), outline or bitmap glyphs.
    QvLabel(const std::string& name, const QvDictionary& dictionary, int language, int key, QvFont3D& font,
            QvLight* light, Camera& camera);
    QvLabel(const std::string& name, const QvDictionary& dictionary, int language, int key, QvFont2D& font,
            QvLight* light, Camera& camera);
    // A literal text.
    QvLabel(const std::string& name, const std::u16string& text, QvFont3D& font, QvLight* light,
            Camera& camera);
    QvLabel(const std::string& name, const std::u16string& text, QvFont2D& font, QvLight* light,
            Camera& camera);

    virtual void initialization(const std::u16string& label, Camera& camera);
    // Wrap bitmap text at the next initLabel.
    virtual void enableWrapping() { wrapping = true; }
    virtual void clear() { clearGlyphs(); }
    // A string text, rebuilt at once (buffer text is no longer shown).
    virtual void setLabel(const std::u16string& s);
    // The first n code units at p (at most 31), read during the call only.
    virtual void setLabel(const char16_t* p, int n);
    // The dictionary entry of `key` in `newLanguage`, rebuilt; buffer text
    // is no longer shown. A literal label rebuilds its text as it is.
    virtual void updateText(int newLanguage);
    // Builds the glyphs of `text` (and the batch when optimized).
    virtual void initLabel();
    // Builds the buffer text of n code units at cText (and the batch).
    virtual void initCLabel(int n);
    virtual void setOptimizeTextShader(QvShader* s) { optimizeTextShader = s; }
    virtual void handlerKeyPress(QvMaterialObject* sender, QvKeyboardEventArgs* args);

    // The batch: every glyph's atlas-textured corners in one buffer.
    virtual void prepareVertices();
    virtual void prepareCVertices();
    virtual void prepareGLBuffers();
    virtual void deleteBuffers();
    virtual void optimizeDraw(Camera& camera);
    // The glyphs only, in the label's colour; stencil set to 1 under them.
    void draw(Camera& camera) override;

    QvShader* optimizeTextShader = nullptr;
    bool wrapping = false;
    QvVertexArray batchVao;
    QvBuffer batchVbo;
    std::vector<float> batchVertices;

private:
    GLsizei batchVertexCount = 0;  // vertices in the batch buffer
};
