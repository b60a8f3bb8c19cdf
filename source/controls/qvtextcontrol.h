// qvtextcontrol: the shared base of the controls that show a line of text on
// their box (label, button, switch).
//
// A text becomes one glyph per UTF-16 code unit, each placed by a transform
// of its own under the control's transform and inserted into the control's
// transform tree, so the glyphs follow the control's moves and its press
// scaling. Where each glyph goes is computed by qvtextlayout; this class makes
// and owns the glyph objects and applies the placements.
//
// Text handed over every frame as a UTF-16 buffer goes into fixed glyph
// slots. A slot keeps its quad (vertex array and buffer) and its transform
// from one text to the next and only rewrites the quad's data when its glyph
// changes, so rewriting a value creates and deletes no GL object.
#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include <glm/vec4.hpp>

#include "controls/qvboxcontrol.h"
#include "controls/qvtextlayout.h"
#include "engine/text/qvtext3d.h"

class QvDictionary;
class QvFont2D;
class QvFont3D;
struct Character2D;

// Glyph scale set by the constructors before any setFontSize.
inline constexpr float qvInitialScale3D = 0.0004f;
inline constexpr float qvInitialScale2D = 0.024f;
// Drawn for a code unit that the bitmap font did not build (surrogate halves
// included): the same currency sign the outline font falls back to.
inline constexpr char16_t qvFallbackCode2D = 0x00A4;

// Pen z offsets (from the box's front face) of each layout step.
struct QvTextDepths {
    float build = 0.0f;         // first placement of string text
    float fits3D = 0.0f;        // outline text that fits, centred
    float shrink3D = 0.0f;      // outline text shrunk by divisors
    float centre2D = 0.0f;      // bitmap text centred
    float bufferBuild = 0.0f;   // first placement of buffer text
    float bufferCentre = 0.0f;  // buffer text centred
};

// One glyph slot of buffer text. Empty while `glyph` is null; the quad and
// the transform stay for the next text.
struct QvGlyphSlot {
    const Character2D* glyph = nullptr;
    const Character2D* uploaded = nullptr;  // glyph whose quad the buffer holds
    std::unique_ptr<QvTransform> transform;
    QvVertexArray vao;
    QvBuffer vbo;
    QvGlyphMetrics metrics;
};

class QvTextControl : public QvBoxControl {
public:
    QvTextControl(const std::string& name, Camera& camera, std::int64_t firstTransformId,
                  std::size_t slotCount, const QvTextDepths& depths);
    // The glyph and slot transforms leave the tree, which may outlive the
    // control (a widget's or the scene's).
    ~QvTextControl() override;

    // Scale per font size (size / 100000 outline, size / 1667 bitmap); both
    // fontSize and scale take it.
    virtual void setFontSize(float size);
    virtual void setPadding(int percent) { padding = percent; }
    virtual void setTextShader(QvShader* s) { textShader = s; }
    virtual std::u16string getLabel() { return text; }
    // A new place for the control: what it put into the tree under the old
    // one leaves the tree first, since the next build frees those transforms
    // and builds under the new one.
    void setTransform(QvTransform* t) override;

    // The glyphs of a text, first placement (left edge).
    void initLabel3D(const std::u16string& label);
    void initLabel2D(const std::u16string& label);
    // Wrapped bitmap text: words that cross the right edge go to the next line.
    void initWrapperLabel2D(const std::u16string& label);
    // The first n code units at p into the slots (at most the slot count).
    void initCLabel2D(const char16_t* p, int n);
    // Outline text centred, or shrunk by whole divisors when too wide.
    void textAlign3D();
    // Bitmap text shrunk to the padded width, then centred.
    void textAlign2D();
    void alignCenter(float k);
    // The same over the slots of buffer text.
    void textCAlign2D();
    void alignCCenter(float k);
    void definedMaxHeightChar(float h);
    // Drops the glyphs of the text shown (the first cLength slots when buffer
    // text is shown), zeroes the width and height and puts the control's
    // transform back into the tree alone.
    void clearGlyphs();

    // The glyph record a bitmap code unit is drawn with: its own, else the
    // fallback sign's; null only when the font has neither.
    const Character2D* glyphFor(char16_t code) const;
    // Buffer text shown: the first cLength slots.
    bool showsBuffer() const { return cLength > 0; }
    // Number of slots in use (cLength, within the slot count).
    std::size_t slotsInUse() const;

    std::vector<std::unique_ptr<QvCharacter3D>> glyphs3D;  // by index in the text
    std::vector<std::unique_ptr<QvCharacter2D>> glyphs2D;  // by index in the text
    std::vector<QvGlyphSlot> cGlyphs;                      // fixed number of slots
    float fontSize = 25.0f;
    int padding = 1;
    bool is3D = false;
    const QvDictionary* dictionary = nullptr;
    int language = 0;
    int key = 0;
    QvShader* textShader = nullptr;
    QvFont3D* font3D = nullptr;
    QvFont2D* font2D = nullptr;
    float scale = 1.0f;
    std::u16string text;
    const char16_t* cText = nullptr;  // read only while a buffer text is built
    std::int64_t cLength = 0;         // > 0: the slots show buffer text
    float textWidth = 0.0f;
    float maxHeight = 0.0f;
    bool glyphDrawFlag = false;

protected:
    // The text is built from the outline font's extruded glyphs, at their starting scale.
    void useFont(QvFont3D& font);
    // The text is built from the bitmap font's quads, at their starting scale.
    void useFont(QvFont2D& font);
    // The text is the dictionary's entry (language, key); returns that entry.
    const std::u16string& useDictionary(const QvDictionary& source, int textLanguage, int textKey);
    // Builds the glyphs of `text` and centres them in the box (buttons, switches).
    void buildCentredText();
    // Draws the glyphs of the text shown with `colour`.
    void drawGlyphs(Camera& camera, glm::vec4 colour);
    // Draws the first `count` non-empty slots with `colour`.
    void drawSlots(Camera& camera, glm::vec4 colour, std::size_t count);
    QvTextBox textBox() const;
    // Puts the control's transform into the tree (under its parent) unless it
    // is there, so that glyph transforms land below it and follow its moves.
    void enterTree();
    // A new glyph transform under the control's, with the next id (or, not
    // numbered, without one and leaving the counter as it is).
    std::unique_ptr<QvTransform> makeGlyphTransform(bool numbered = true);
    // Applies placements to the glyph transforms of the string text.
    void placeGlyphs(const QvLineLayout& layout);
    void placeSlots(const QvLineLayout& layout);
    std::vector<QvGlyphMetrics> slotMetrics() const;

    QvTextDepths depths;
    // Whether initLabel2D numbers its glyph transforms (the label's go without ids).
    bool numberedBitmapGlyphs = true;
    std::vector<std::unique_ptr<QvTransform>> glyphTransforms;  // parallel to the glyphs
    std::vector<QvGlyphMetrics> glyphMetrics;                   // parallel to the glyphs

private:
    // The transform the control was made with, freed with it.
    QvTransform* const builtTransform;

    // Takes the glyph and slot transforms out of the tree, and the control's
    // own transform with them while it is the one placing the control.
    void leaveTree();
    void place(QvTransform& t, const QvGlyphPlacement& p);
    // Appends one 2D glyph object placed at `p`.
    void addGlyph2D(char16_t code, std::unique_ptr<QvTransform> t);
    // The slot's quad holds its glyph (rewritten in place when it changed).
    void uploadSlot(QvGlyphSlot& slot);
};
