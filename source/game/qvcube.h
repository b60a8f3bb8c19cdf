// qvcube: the word game's letter tiles.
//
// QvCube is a button showing one letter on a fixed unit cube (qvcubemesh),
// with its place on the board (row and column). It draws in its current
// colour, box and letter alike, so the game's highlighting shows on both.
// QvFlyingCube is a tile moved by a movement controller, which it ticks once
// per drawn frame; it hands key releases to a vehicle controller so that the
// tile coasts.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "controls/qvbutton.h"

class QvMovement;
struct QvKeyboardEventArgs;

class QvCube : public QvButton {
public:
    QvCube(const std::string& name, const std::u16string& text, QvFont3D& font, QvLight* light,
           Camera& camera);
    QvCube(const std::string& name, const std::u16string& text, QvFont2D& font, QvLight* light,
           Camera& camera);

    // The unit cube whatever the extents, which only lay out the letter; the
    // picking box 0.1 larger on every side, the face normals, the buffers.
    void setSize(float width, float height, float depth) override;
    // The cube and then the letter, both in currentColor.
    void draw(Camera& camera) override;

    virtual std::int32_t getRowIndex() const { return rowIndex; }
    virtual void setRowIndex(std::int32_t value) { rowIndex = value; }
    virtual std::int32_t getColumnIndex() const { return columnIndex; }
    virtual void setColumnIndex(std::int32_t value) { columnIndex = value; }

    std::int32_t rowIndex = 0;
    std::int32_t columnIndex = 0;
};

class QvFlyingCube : public QvCube {
public:
    QvFlyingCube(const std::string& name, const std::u16string& text, QvFont3D& font, QvLight* light,
                 Camera& camera);
    QvFlyingCube(const std::string& name, const std::u16string& text, QvFont2D& font, QvLight* light,
                 Camera& camera);

    // The tile, then one tick of the controller when one is attached.
    void draw(Camera& camera) override;
    // Keeps the camera and listens to key releases.
    virtual void initialize(Camera& camera);
    // A released key lets a vehicle controller coast.
    virtual void handlerOnKeyUp(QvMaterialObject* sender, QvKeyboardEventArgs* args);

    std::unique_ptr<QvEvent<QvMaterialObject, QvEventArgs>> flyingEvent;
    QvMovement* movement = nullptr;  // not owned; attached by whoever sets the tile moving
    Camera* camera = nullptr;
};
