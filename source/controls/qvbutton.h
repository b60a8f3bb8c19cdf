// qvbutton: a clickable box with a one-line text, from a string, a
// dictionary entry or a UTF-16 buffer (30 slots). The creator hangs its
// action on the release event; the press shrinks the button (the base's
// press handler) and its glyphs with it.
#pragma once

#include "controls/qvtextcontrol.h"
#include "engine/core/qvevents.h"

class QvLight;
struct QvKeyboardEventArgs;

inline constexpr std::size_t qvButtonSlotCount = 30;
inline constexpr std::int64_t qvButtonFirstTransformId = 100000;

class QvButton : public QvTextControl {
public:
    // Dictionary buttons show nothing until updateText.
    QvButton(const std::string& name, const QvDictionary& dictionary, int language, int key, QvFont3D& font,
             QvLight* light, Camera& camera);
    QvButton(const std::string& name, const QvDictionary& dictionary, int language, int key, QvFont2D& font,
             QvLight* light, Camera& camera);
    QvButton(const std::string& name, const std::u16string& text, QvFont3D& font, QvLight* light,
             Camera& camera);
    QvButton(const std::string& name, const std::u16string& text, QvFont2D& font, QvLight* light,
             Camera& camera);

    virtual void initialization(const std::u16string& label, Camera& camera);
    virtual void clear() { clearGlyphs(); }
    // A string text, rebuilt (a buffer label shown before is dropped).
    virtual void setLabel(const std::u16string& s);
    // The first `count` code units at p (at most 30), read during the call only.
    virtual void setLabel(const char16_t* p, int count);
    // The entry of `key` in `newLanguage`, rebuilt as string text.
    virtual void updateText(int newLanguage);
    virtual void initLabel();
    virtual void initCLabel(int count);
    virtual void handlerKeyPress(QvMaterialObject* sender, QvKeyboardEventArgs* args);
    // The box (hover colour while hovered), then the text in textColor.
    void draw(Camera& camera) override;

    glm::vec4 textColor{std::numeric_limits<float>::quiet_NaN()};
    std::unique_ptr<QvEvent<QvButton, QvEventArgs>> buttonEvent;

private:
};
