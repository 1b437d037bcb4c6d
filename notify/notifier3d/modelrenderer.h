#pragma once

#include "modelmesh.h"

#include <QImage>
#include <QMatrix4x4>
#include <QOpenGLBuffer>
#include <QOpenGLFunctions>
#include <QOpenGLShaderProgram>
#include <QOpenGLTexture>
#include <memory>
#include <string>

// Draws the notifier's picture with OpenGL: the background picture (the desktop snapshot)
// over the whole viewport, then the textured model, turned about the vertical axis, with
// the notifier's camera, light and material:
//
// - camera at (0, 5, 0) looking at the origin with Z up, field of view pi/4, aspect 1, near
//   1, far 100; the model turns about Z by the angle given to Render();
// - one directional white light shining along (1, -1, -1), ambient light 0x7F7F7F;
// - material diffuse, ambient and specular white, no emission, specular power 7; the
//   texture is modulated by the lit colour and the specular highlight is added after it.
//
// Models arrive from ModelLoader in right-handed coordinates (the .x reader mirrors Z), so
// the camera's up is mirrored here too; the picture is the same as with the left-handed
// original.
//
// Threads: the GUI thread, with the window's context current for every call but
// Matrices(). Release() frees everything while the context is still current; after
// Release() or a lost context Initialise() may be called again.
class ModelRenderer
{
public:
    struct Matrices {
        QMatrix4x4 world, view, projection;
    };
    static Matrices MatricesFor(float angle);

    ModelRenderer() = default;
    ~ModelRenderer();
    ModelRenderer(const ModelRenderer&) = delete;
    ModelRenderer& operator=(const ModelRenderer&) = delete;

    // Compiles the shaders; false with a reason when the context cannot run them.
    bool Initialise(std::string* error);
    bool Initialised() const { return program_ != nullptr; }
    void Release();

    // Replaces the drawn mesh (uploaded at once).
    void SetMesh(const ModelMesh& mesh);
    // Replaces the model's texture; a null image leaves the model white.
    void SetTexture(const QImage& image);
    // Replaces the background; a null image draws none.
    void SetBackground(const QImage& image);
    bool HasBackground() const { return background_ != nullptr; }

    // Clears to `clear` (colour and depth), draws the background when `withBackground`
    // and one is set, then the model turned by `angle` radians, into the bound framebuffer
    // of `pixels` x `pixels`.
    void Render(float angle, int pixels, bool withBackground, const QColor& clear);

private:
    QOpenGLFunctions gl_;
    std::unique_ptr<QOpenGLShaderProgram> program_;
    std::unique_ptr<QOpenGLShaderProgram> quadProgram_;
    QOpenGLBuffer vertices_{QOpenGLBuffer::VertexBuffer};
    QOpenGLBuffer indices_{QOpenGLBuffer::IndexBuffer};
    int indexCount_ = 0;
    std::unique_ptr<QOpenGLTexture> texture_;
    std::unique_ptr<QOpenGLTexture> background_;
};
