// qvswitch: a labelled on/off toggle. A press flips it (already on the
// press, before the release that the panel's actions hang on): while on it
// shows its on-text on a box in the on colour, while off its off-text in the
// off colour. Its text is always white.
#pragma once

#include "controls/qvtextcontrol.h"
#include "engine/core/qvevents.h"

class QvLight;
struct QvKeyboardEventArgs;

inline constexpr std::int64_t qvSwitchFirstTransformId = 100000;

class QvSwitch : public QvTextControl {
public:
    // Off-text from the dictionary (entry `key` of `language`), bitmap glyphs.
    QvSwitch(const std::string& name, const QvDictionary& dictionary, int language, int key, QvFont2D& font,
             QvLight* light, Camera& camera);
    // A literal off-text.
    QvSwitch(const std::string& name, const std::u16string& text, QvFont3D& font, QvLight* light,
             Camera& camera);
    QvSwitch(const std::string& name, const std::u16string& text, QvFont2D& font, QvLight* light,
             Camera& camera);

    virtual void initialization(const std::u16string& label, Camera& camera);
    virtual void switchOn() { isOn = true; }
    virtual void switchOff() { isOn = false; }
    // Flips the state and shows the state's text.
    virtual void switching();
    virtual void setLabel(const std::u16string& s);
    // The on-text from the dictionary entry k (a literal switch has none).
    virtual void setOnText(int k);
    // The entry of `key` in `newLanguage`, rebuilt.
    virtual void updateText(int newLanguage);
    virtual void setOnColor(glm::vec4 c) { onColor = c; }
    virtual void initLabel();
    virtual void handlerKeyPress(QvMaterialObject* sender, QvKeyboardEventArgs* args);
    // The box in the state's colour (hover wins), then the white text.
    void draw(Camera& camera) override;

    std::u16string onText;
    std::u16string offText;
    glm::vec4 onColor{0.84f, 0.03f, 0.2f, 1.0f};
    glm::vec4 offColor{0.84f, 0.03f, 0.2f, 1.0f};
    bool isOn = false;
    std::unique_ptr<QvEvent<QvSwitch, QvEventArgs>> switchEvent;

private:
};
