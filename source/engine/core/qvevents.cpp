// qvevents: the static default argument objects.
//
// They are defined in one translation unit so that they are built in this
// fixed order at program start, before main runs. The input road does not use
// them; the application keeps its own shared argument objects.
#include "engine/core/qvevents.h"

QvEventArgs QvEventArgs::_e;
QvWindowEventArgs QvWindowEventArgs::_e;
QvCharEventArgs QvCharEventArgs::_e;
QvKeyboardEventArgs QvKeyboardEventArgs::_e;
QvMouseEventArgs QvMouseEventArgs::_e;
QvShaderEventArgs QvShaderEventArgs::_e;
QvCursorEventArgs QvCursorEventArgs::_e;
QvScrollEventArgs QvScrollEventArgs::_e;
QvDropEventArgs QvDropEventArgs::_e;
QvCameraPositionEventArgs QvCameraPositionEventArgs::_e;
