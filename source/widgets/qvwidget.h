// The HUD widget interface and the abstract widget: a named group of
// interface controls that is put on or taken off the screen as a whole.
#pragma once

#include <string>

class QvIWidget {
public:
    virtual ~QvIWidget();
    virtual void addToScreen() = 0;
    virtual void removeFromScreen() = 0;
};

// Never instantiated on its own: QvWidget3D and the panels derive from it.
class QvWidget : public QvIWidget {
public:
    std::string name;
    bool onScreen = false;  // drawn and taking input
};
