// The tracker scene: the application's one scene. It owns the camera, the two
// lights, the ten shader programs, the two fonts, the skybox, the transform
// trees, the monitor canvases, the information text, the statistics labels,
// the 3D title and the three HUD panels, and answers the world: a frame
// (renderScene), resizes, the keys that no control took, picking coordinates
// and the quit. The lower panel's controls call back into it (start/stop,
// clear, VSync, on top, the typed name). The statistics themselves are the
// tracker model's; the scene samples the pointer for it, shows its texts and
// hands it the canvases' plot lists.
#pragma once

#include "engine/core/qvcamera.h"
#include "engine/gl/qvglobjects.h"
#include "scene/qvinfotextfit.h"
#include "scene/qvtrackermodel.h"

#include <array>
#include <cstdint>
#include <limits>
#include <memory>
#include <string>
#include <vector>

#include <glm/vec4.hpp>

class QvCanvas;
class QvDictionary;
class QvFont2D;
class QvFont3D;
class QvFPSWidget3D;
class QvGameLogic;
class QvLabel;
class QvLight;
class QvLowerPanelWidget3D;
class QvMaterialObject;
class QvShader;
class QvSkybox;
class QvTransform;
class QvUpperPanelWidget3D;
class QvWidget3D;
class QvWindow;
class TextureLoader;
struct QvEventArgs;
struct QvKeyboardEventArgs;
template <class T>
class OakTree;

class QvScene {
public:
    // Builds the whole scene; needs the OpenGL context.
    QvScene(int width, int height, int screenWidth, int screenHeight, float glslVersion);
    virtual ~QvScene();
    QvScene(const QvScene&) = delete;
    QvScene& operator=(const QvScene&) = delete;

    // Indices of the ten shader programs in `shaders`.
    enum ShaderIndex : std::size_t {
        defaultShader,
        lightShader,
        textureShader,
        textureLightShader,
        skyboxShader,
        text2DShader,
        text2DStaticShader,
        imageShader,
        pointShader,
        circlePointShader,
        shaderCount
    };
    static constexpr int kKeyCount = 1024;
    static constexpr std::size_t kTextBufferUnits = 100;
    static constexpr const char* kFontFile = "fonts/djsans/DejaVuSans.ttf";

    QvWindow* window = nullptr;              // handed over by the world: VSync and on-top switches
    std::unique_ptr<QvGameLogic> gameLogic;  // its language is the interface language
    std::vector<QvMaterialObject*> objects;  // drawn every frame, in this order
    // Controls whose dictionary text follows the language (the lower panel's
    // switches and button).
    std::vector<QvMaterialObject*> textObjects;
    std::int32_t objectIdCounter = 0;  // ids of the HUD panels' controls
    std::vector<std::unique_ptr<QvShader>> shaders;
    float glslVersion = std::numeric_limits<float>::quiet_NaN();
    std::unique_ptr<Camera> camera;
    CameraData cameraData;  // Home resets the camera to it
    int width = 0;
    int height = 0;
    int screenWidth = 0;
    int screenHeight = 0;
    std::unique_ptr<QvLight> light;
    std::unique_ptr<QvLight> hudLight;
    std::unique_ptr<QvSkybox> skybox;
    // Every transform the scene makes (createTransform) lives here, so that
    // trees, lights and controls can share them by plain pointer.
    std::vector<std::unique_ptr<QvTransform>> transforms;
    QvTransform* rootTransform = nullptr;
    QvTransform* centerTransform = nullptr;
    // Members die in reverse order of declaration: what the panels, canvases
    // and labels borrow (strings, fonts, trees, pictures) is declared before
    // them, so that every borrower is gone before what it borrows.
    std::unique_ptr<QvDictionary> dictionary;
    std::unique_ptr<QvFont3D> font3D;
    std::unique_ptr<QvFont2D> font2D;
    std::int64_t transformCounter = 0;
    std::unique_ptr<OakTree<QvTransform>> objectTree;
    std::unique_ptr<OakTree<QvTransform>> hudTree;
    std::unique_ptr<TextureLoader> textureLoader;
    std::vector<QvWidget3D*> widgets;  // upper panel, lower panel, FPS panel
    std::unique_ptr<QvUpperPanelWidget3D> upperPanel;
    std::unique_ptr<QvLowerPanelWidget3D> lowerPanel;
    std::unique_ptr<QvFPSWidget3D> fpsWidget;
    double lastFrameTime = 0.0;
    std::int32_t currentCanvas = 0;  // monitor screen 0..4 the camera faces
    float fps = 1000.0f;
    std::array<bool, kKeyCount> keys{};
    double titleAngle = 0.0;  // phase of the title's sway
    bool tracking = false;    // follows tracker->tracking
    bool refreshTrees = true;
    bool fpsShown = false;
    bool upperPanelShown = false;
    bool lowerPanelShown = false;
    // Where the per-frame label texts are assembled (no string per frame).
    std::array<char16_t, kTextBufferUnits> textBuffer;

    virtual void setViewport(int width, int height);
    virtual void handlerKeyPress(QvKeyboardEventArgs* args);
    virtual void handlerKeyDown(QvKeyboardEventArgs* args);
    virtual void handlerKeyUp(QvKeyboardEventArgs* args);
    // One frame: the periodic steps, then skybox, objects and shown widgets.
    virtual void renderScene();
    // The pixel (x, y), y downward, in normalised device coordinates:
    // (2x/w - 1, 1 - 2y/h, -1, 1); finite also for an empty window.
    virtual glm::vec4 getWorldCoords(int x, int y, float w, float h);
    virtual void destroy();
    // The lower panel's controls.
    virtual void startTracker();
    virtual void buttonClear();
    virtual void switchVSync();
    virtual void switchOnTop();
    QvTransform* createTransform();
    QvTransform* createTransform(QvTransform* parent);

    // The window's size in pixels (as setViewport) and the screen's.
    void setCartesianLengths(int width, int height);
    void setScreenDimension(int screenWidth, int screenHeight);
    // The computation of getWorldCoords: the pixel (x, y) of a w x h area,
    // y downward, in normalised device coordinates.
    glm::vec4 normalisedDeviceCoordinates(int x, int y, float w, float h) const;
    // Each hands its vector back as it came: the world picks with device
    // coordinates, which every control takes through its own matrices.
    glm::vec4 inverseProjection(glm::vec4 clip) const;
    glm::vec4 inverseCamera(glm::vec4 eye) const;
    // Gives every text control of textObjects that reads a dictionary the
    // interface language: buttons, labels and 3D edit boxes; switches, 2D
    // edit boxes and literal texts keep what they show.
    void updateText();

    // The interface language of every dictionary text (0 English, 1
    // Russian, 2 German), as the options file chose it at start.
    int language() const;

    void initializeAll();
    void initializeCamera();
    void initializeFonts();
    void initializeShaders();
    void initializeGraphicParameters();
    void initializeSkybox();
    void initializeCenterScene();
    void initializeHUD();
    void initializeObjects();
    void initializeWidgets();

    // The layout's creators, called once each in this order.
    virtual void createInfoCanvas();
    virtual void createMouseRouteCanvas();
    virtual void createMouseSpeedCanvas();
    virtual void createMouseStopsCanvas();
    virtual void createInfoText();
    virtual void createOdometerLabel();
    virtual void createOdometerValueLabel();
    virtual void createSpeedometerLabel();
    virtual void createSpeedometerValueLabel();
    virtual void createXCoordLabel();
    virtual void createXCoordValueLabel();
    virtual void createYCoordLabel();
    virtual void createYCoordValueLabel();
    virtual void createMaxSpeedLabel();
    virtual void createMaxSpeedValueLabel();
    virtual void createNumberOfStopsLabel();
    virtual void createNumberOfStopsValueLabel();
    virtual void createTimeLabel();
    virtual void createTimeValueLabel();
    virtual void createVelmorinText3D();

    // Removes the first object of `list` named `name`; no match, no change.
    static void excludeElement(std::vector<QvMaterialObject*>& list, const std::string& name);
    // Appends the fourteen statistics labels to `objects`, once.
    void includeElements();
    // The fourteen statistics labels in creation order.
    std::array<QvLabel*, 14> statisticsLabels() const;

    // One camera step per held key group: left, right, forward, backward.
    void processingKeys();
    // One sway step of the 3D title about its vertical axis.
    void swayTitle();
    // Puts the text of the lower panel's name box on the 3D title.
    void changeEditName();
    void showOrHideUpperPanel();
    void showOrHideLowerPanel();
    void showOrHideFPSWidget();
    void drawUpperPanel();
    void drawLowerPanel();
    void undrawUpperPanel();
    void undrawLowerPanel();
    // Re-places the object tree below a moved object (the title, the
    // information text), so their glyphs follow.
    void transformed(QvTransform* transform, QvEventArgs* args);
    // Re-places every transform of `tree` below `parent`.
    void getChildrenOfParent(OakTree<QvTransform>* tree, QvTransform* parent);
    // The same walk over the HUD light's tree and over a widget's tree.
    void getChildrenOfParentHUD(OakTree<QvTransform>* tree, QvTransform* parent);
    void getChildrenOfWidget(OakTree<QvTransform>* tree, QvTransform* parent);
    // Keeps the HUD in front of the camera when the centre transform moves.
    void followingCamera(QvTransform* transform, QvEventArgs* args);
    // Tells every widget control that the camera moved.
    void changeCameraPosition();
    // Writes the window's pixels as "photo.jpeg" now (between a frame's
    // drawing and its buffer swap); does nothing for a 0x0 window.
    void saveScreenshot();

    // The monitor faces' pictures, one a monitor, in the creators' order.
    std::array<QvTexture, 4> monitorTextures;
    std::unique_ptr<QvCanvas> infoCanvas;
    std::unique_ptr<QvCanvas> routeCanvas;
    std::unique_ptr<QvCanvas> speedCanvas;
    std::unique_ptr<QvCanvas> stopsCanvas;
    std::unique_ptr<QvLabel> infoText;
    std::unique_ptr<QvLabel> odometerLabel;
    std::unique_ptr<QvLabel> odometerValueLabel;
    std::unique_ptr<QvLabel> speedometerLabel;
    std::unique_ptr<QvLabel> speedometerValueLabel;
    std::unique_ptr<QvLabel> xCoordLabel;
    std::unique_ptr<QvLabel> xCoordValueLabel;
    std::unique_ptr<QvLabel> yCoordLabel;
    std::unique_ptr<QvLabel> yCoordValueLabel;
    std::unique_ptr<QvLabel> maxSpeedLabel;
    std::unique_ptr<QvLabel> maxSpeedValueLabel;
    std::unique_ptr<QvLabel> numberOfStopsLabel;
    std::unique_ptr<QvLabel> numberOfStopsValueLabel;
    std::unique_ptr<QvLabel> timeLabel;
    std::unique_ptr<QvLabel> timeValueLabel;
    std::unique_ptr<QvLabel> titleText;
    // The statistics and plots; the plots live in the route, speed and stops
    // canvases' lists.
    std::unique_ptr<TrackerModel> tracker;

protected:
    // For scenes that bring their own drawing (and for tests): camera, centre
    // transform and trees only, no OpenGL call.
    struct Bare {};
    QvScene(Bare, int width, int height, int screenWidth, int screenHeight, float glslVersion);

private:
    // The label each tracker text goes to, in TrackerLabel order (null where
    // a panel has none).
    std::array<QvLabel*, TrackerModel::kLabelCount> _trackerLabels() const;
    // The texts the tracker changed this frame, through textBuffer.
    void _showTrackerTexts(std::uint32_t changed);
    // The pointer for the tracker, which also learns the size of the area
    // the pointer moves in.
    bool _readPointer(double* x, double* y);
    // Skybox, objects and shown widgets with the camera.
    void _drawScene();
    // Draws the scene as it stands now into a cleared back buffer and saves
    // it as "photo.jpeg": the photo does not wait for a frame that a quit or
    // a new start could take from it.
    void _photograph();
    // Re-places every control (and its glyphs) of the shown widgets below
    // `from`.
    void _placeShownWidgets(QvTransform* from);
    void _storeDimensions(int width, int height, int screenWidth, int screenHeight, float glslVersion);
    // One monitor: a canvas of the aspect-scaled face at the screen `index`
    // of the column, showing `texture`, drawn from now on.
    // An object that the camera cannot see this frame (the texts on the
    // information monitor and the title are tested).
    bool _outOfView(const QvMaterialObject& object) const;
    std::unique_ptr<QvCanvas> _createMonitor(const char* name, int index, const char* texture);
    // Statistics label `slot` (0..13) of the layout's table on the
    // information monitor: a caption in the tracker's words or a value "0".
    std::unique_ptr<QvLabel> _createStatisticsLabel(const char* name, std::size_t slot);
    // The size and lift that keep the help text's glyphs on the information
    // monitor's glass and off its heading.
    QvInfoTextFit _fitInfoText(const QvLabel& text) const;
};
