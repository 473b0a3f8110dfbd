#pragma once
// A window whose position and size the size manager keeps. An implementation
// emits WindowResized after each size change and WindowMoved after each move
// that is to be remembered (the main window emits neither while maximized).
#include <QObject>

class ResizableWindow : public QObject {
    Q_OBJECT
public:
    using QObject::QObject;
    virtual int GetX() = 0;
    virtual int GetY() = 0;
    virtual int GetWidth() = 0;
    virtual int GetHeight() = 0;
    virtual void SetPosition(int x, int y) = 0;
    virtual void SetSize(int width, int height) = 0;

signals:
    void WindowResized(int i_width, int i_height);
    void WindowMoved(int i_x, int i_y);
};
