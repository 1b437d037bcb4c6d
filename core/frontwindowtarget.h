#pragma once

// The main window's own part of the engine's messages: the tray icon's checking
// animation, and the close that the worker asks for when it has ended. Called on the
// front's handling thread.
class FrontWindowTarget
{
public:
    virtual ~FrontWindowTarget() = default;
    virtual void CheckAnimation(bool on) = 0;
    virtual void Close() = 0;
};
