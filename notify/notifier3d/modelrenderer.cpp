#include "modelrenderer.h"

#include <QColor>
#include <QOpenGLContext>
#include <cmath>
#include <numbers>

namespace
{

// Per-vertex lighting as the fixed-function pipeline does it (colour at the vertices,
// interpolated), with a local viewer for the highlight.
const char* const kModelVertex = R"(
attribute vec3 position;
attribute vec3 normal;
attribute vec2 uv;
uniform mat4 world;
uniform mat4 viewProjection;
uniform vec3 eye;
uniform vec3 toLight;
varying vec4 lit;
varying vec4 highlight;
varying vec2 texel;
void main()
{
    vec4 place = world * vec4(position, 1.0);
    vec3 n = normalize(mat3(world) * normal);
    float diffuse = max(dot(n, toLight), 0.0);
    vec3 ambient = vec3(127.0 / 255.0);
    lit = vec4(min(ambient + vec3(diffuse), vec3(1.0)), 1.0);
    vec3 h = normalize(normalize(eye - place.xyz) + toLight);
    float shine = diffuse > 0.0 ? pow(max(dot(n, h), 0.0), 7.0) : 0.0;
    highlight = vec4(vec3(shine), 0.0);
    texel = uv;
    gl_Position = viewProjection * place;
}
)";

const char* const kModelFragment = R"(
uniform sampler2D picture;
uniform float textured;
varying vec4 lit;
varying vec4 highlight;
varying vec2 texel;
void main()
{
    vec4 base = textured > 0.5 ? texture2D(picture, texel) : vec4(1.0);
    gl_FragColor = vec4(min(base.rgb * lit.rgb + highlight.rgb, vec3(1.0)), 1.0);
}
)";

const char* const kQuadVertex = R"(
attribute vec2 corner;
varying vec2 texel;
void main()
{
    texel = vec2(corner.x, 1.0 - corner.y);
    gl_Position = vec4(corner * 2.0 - 1.0, 0.0, 1.0);
}
)";

const char* const kQuadFragment = R"(
uniform sampler2D picture;
varying vec2 texel;
void main()
{
    gl_FragColor = vec4(texture2D(picture, texel).rgb, 1.0);
}
)";

// GLSL 1.20 for desktop contexts; OpenGL ES 2 takes the same text with a precision line.
QString Source(const char* body, bool fragment)
{
    const bool es = QOpenGLContext::currentContext()->isOpenGLES();
    QString header = es ? QStringLiteral("#version 100\n") : QStringLiteral("#version 120\n");
    if (es && fragment)
        header += QStringLiteral("precision mediump float;\n");
    return header + QString::fromLatin1(body);
}

std::unique_ptr<QOpenGLShaderProgram> Build(const char* vertex, const char* fragment,
                                            std::string* error)
{
    auto program = std::make_unique<QOpenGLShaderProgram>();
    if (!program->addShaderFromSourceCode(QOpenGLShader::Vertex, Source(vertex, false)) ||
        !program->addShaderFromSourceCode(QOpenGLShader::Fragment, Source(fragment, true)) ||
        !program->link()) {
        if (error)
            *error = program->log().toStdString();
        return nullptr;
    }
    return program;
}

std::unique_ptr<QOpenGLTexture> Upload(const QImage& image, bool mipmaps)
{
    auto texture = std::make_unique<QOpenGLTexture>(image.convertToFormat(QImage::Format_RGBA8888),
                                                    mipmaps ? QOpenGLTexture::GenerateMipMaps
                                                            : QOpenGLTexture::DontGenerateMipMaps);
    texture->setMinificationFilter(mipmaps ? QOpenGLTexture::LinearMipMapLinear
                                           : QOpenGLTexture::Nearest);
    texture->setMagnificationFilter(mipmaps ? QOpenGLTexture::Linear : QOpenGLTexture::Nearest);
    texture->setWrapMode(QOpenGLTexture::Repeat);
    return texture;
}

const QVector3D kEye(0.0f, 5.0f, 0.0f);
// The light shines along (1, -1, -1) of the left-handed original, (1, -1, 1) here; the
// shader wants the direction towards the light.
const QVector3D kToLight = -QVector3D(1.0f, -1.0f, 1.0f).normalized();

} // namespace

ModelRenderer::Matrices ModelRenderer::MatricesFor(float angle)
{
    Matrices m;
    m.world.rotate(angle * 180.0f / std::numbers::pi_v<float>, 0.0f, 0.0f, 1.0f);
    m.view.lookAt(kEye, QVector3D(0, 0, 0), QVector3D(0.0f, 0.0f, -1.0f));
    m.projection.perspective(45.0f, 1.0f, 1.0f, 100.0f);
    return m;
}

ModelRenderer::~ModelRenderer()
{
    // The owner releases while its context is current; what is left here would need one.
    if (QOpenGLContext::currentContext())
        Release();
}

bool ModelRenderer::Initialise(std::string* error)
{
    gl_.initializeOpenGLFunctions();
    program_ = Build(kModelVertex, kModelFragment, error);
    quadProgram_ = Build(kQuadVertex, kQuadFragment, error);
    if (!program_ || !quadProgram_) {
        program_.reset();
        quadProgram_.reset();
        return false;
    }
    return true;
}

void ModelRenderer::Release()
{
    texture_.reset();
    background_.reset();
    if (vertices_.isCreated())
        vertices_.destroy();
    if (indices_.isCreated())
        indices_.destroy();
    indexCount_ = 0;
    program_.reset();
    quadProgram_.reset();
}

void ModelRenderer::SetMesh(const ModelMesh& mesh)
{
    if (!vertices_.isCreated()) {
        vertices_.create();
        indices_.create();
    }
    vertices_.bind();
    vertices_.allocate(mesh.vertices.data(), int(mesh.vertices.size() * sizeof(float)));
    vertices_.release();
    indices_.bind();
    indices_.allocate(mesh.indices.data(), int(mesh.indices.size() * sizeof(uint32_t)));
    indices_.release();
    indexCount_ = int(mesh.indices.size());
}

void ModelRenderer::SetTexture(const QImage& image)
{
    texture_ = image.isNull() ? nullptr : Upload(image, true);
}

void ModelRenderer::SetBackground(const QImage& image)
{
    background_ = image.isNull() ? nullptr : Upload(image, false);
}

void ModelRenderer::Render(float angle, int pixels, bool withBackground, const QColor& clear)
{
    if (!program_)
        return;
    gl_.glViewport(0, 0, pixels, pixels);
    gl_.glClearColor(clear.redF(), clear.greenF(), clear.blueF(), clear.alphaF());
    gl_.glClearDepthf(1.0f);
    gl_.glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);

    if (withBackground && background_) {
        static const float kCorners[] = {0, 0, 1, 0, 0, 1, 1, 1};
        gl_.glDisable(GL_DEPTH_TEST);
        quadProgram_->bind();
        background_->bind(0);
        quadProgram_->setUniformValue("picture", 0);
        const int corner = quadProgram_->attributeLocation("corner");
        quadProgram_->enableAttributeArray(corner);
        quadProgram_->setAttributeArray(corner, GL_FLOAT, kCorners, 2);
        gl_.glDrawArrays(GL_TRIANGLE_STRIP, 0, 4);
        quadProgram_->disableAttributeArray(corner);
        background_->release();
        quadProgram_->release();
    }

    if (indexCount_ == 0)
        return;
    gl_.glEnable(GL_DEPTH_TEST);
    gl_.glDepthFunc(GL_LESS);
    const Matrices m = MatricesFor(angle);
    program_->bind();
    program_->setUniformValue("world", m.world);
    program_->setUniformValue("viewProjection", m.projection * m.view);
    program_->setUniformValue("eye", kEye);
    program_->setUniformValue("toLight", kToLight);
    program_->setUniformValue("picture", 0);
    program_->setUniformValue("textured", texture_ ? 1.0f : 0.0f);
    if (texture_)
        texture_->bind(0);
    vertices_.bind();
    indices_.bind();
    const int stride = ModelMesh::kFloatsPerVertex * sizeof(float);
    const int position = program_->attributeLocation("position");
    const int normal = program_->attributeLocation("normal");
    const int uv = program_->attributeLocation("uv");
    program_->enableAttributeArray(position);
    program_->setAttributeBuffer(position, GL_FLOAT, 0, 3, stride);
    // An attribute the compiler dropped has location -1 and is skipped.
    if (normal >= 0) {
        program_->enableAttributeArray(normal);
        program_->setAttributeBuffer(normal, GL_FLOAT, 3 * sizeof(float), 3, stride);
    }
    if (uv >= 0) {
        program_->enableAttributeArray(uv);
        program_->setAttributeBuffer(uv, GL_FLOAT, 6 * sizeof(float), 2, stride);
    }
    gl_.glDrawElements(GL_TRIANGLES, indexCount_, GL_UNSIGNED_INT, nullptr);
    program_->disableAttributeArray(position);
    if (normal >= 0)
        program_->disableAttributeArray(normal);
    if (uv >= 0)
        program_->disableAttributeArray(uv);
    indices_.release();
    vertices_.release();
    if (texture_)
        texture_->release();
    program_->release();
    gl_.glDisable(GL_DEPTH_TEST);
}
