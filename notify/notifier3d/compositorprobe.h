#pragma once

// Whether the desktop composites windows, so that a translucent window shows what lies
// behind it live. On X11 a compositing manager owns the selection _NET_WM_CM_S<screen>
// (EWMH, "Compositing Managers"); a Wayland session always composites; other platforms
// (offscreen, a missing connection) count as not compositing.
//
// POSTWATCH_3D_COMPOSITOR=0 or =1 overrides the answer (for tests and for a user whose
// compositor misbehaves). Threads: the GUI thread.
class CompositorProbe
{
public:
    static bool Compositing();
};
