#include "modelloader.h"

#include <assimp/DefaultLogger.hpp>
#include <assimp/Importer.hpp>
#include <assimp/postprocess.h>
#include <assimp/scene.h>
#include <sys/stat.h>

namespace
{

// Pre-transforming joins the node hierarchy into world-placed meshes, so one list of
// triangles is drawn with the notifier's own world turn. Validation makes the reader
// refuse inconsistent index data instead of handing it on.
constexpr unsigned kSteps = aiProcess_Triangulate | aiProcess_GenSmoothNormals |
                            aiProcess_PreTransformVertices | aiProcess_SortByPType |
                            aiProcess_ValidateDataStructure | aiProcess_FindInvalidData;

bool Fail(std::string* error, const std::string& text)
{
    if (error)
        *error = text;
    return false;
}

bool Collect(const aiScene* scene, ModelMesh& mesh, std::string* error, const std::string& what)
{
    ModelMesh out;
    for (unsigned m = 0; m < scene->mNumMeshes; ++m) {
        const aiMesh* part = scene->mMeshes[m];
        if (!part || !(part->mPrimitiveTypes & aiPrimitiveType_TRIANGLE) || !part->mVertices)
            continue;
        const auto base = static_cast<uint32_t>(out.VertexCount());
        if (int64_t(base) + part->mNumVertices > ModelLoader::kMaxVertices)
            return Fail(error, what + " has too many vertices to be shown");
        const aiVector3D* uv = part->mTextureCoords[0];
        for (unsigned v = 0; v < part->mNumVertices; ++v) {
            const aiVector3D& p = part->mVertices[v];
            const aiVector3D n = part->mNormals ? part->mNormals[v] : aiVector3D(0, 0, 1);
            const aiVector3D t = uv ? uv[v] : aiVector3D(0, 0, 0);
            out.vertices.insert(out.vertices.end(), {p.x, p.y, p.z, n.x, n.y, n.z, t.x, t.y});
        }
        for (unsigned f = 0; f < part->mNumFaces; ++f) {
            const aiFace& face = part->mFaces[f];
            if (face.mNumIndices != 3)
                continue; // points and lines of a mixed mesh are not drawn
            bool inside = true;
            for (unsigned i = 0; i < 3; ++i)
                inside = inside && face.mIndices[i] < part->mNumVertices;
            if (!inside)
                return Fail(error, what + " refers to vertices it does not have");
            for (unsigned i = 0; i < 3; ++i)
                out.indices.push_back(base + face.mIndices[i]);
        }
    }
    if (out.Empty())
        return Fail(error, what + " holds no triangles to draw");
    mesh = std::move(out);
    return true;
}

bool Read(Assimp::Importer& importer, const aiScene* scene, ModelMesh& mesh, std::string* error,
          const std::string& what)
{
    if (!scene || !scene->mRootNode || (scene->mFlags & AI_SCENE_FLAGS_INCOMPLETE))
        return Fail(error, what + " is not a model that can be read: " +
                               std::string(importer.GetErrorString()));
    return Collect(scene, mesh, error, what);
}

} // namespace

bool ModelLoader::Load(const std::string& path, ModelMesh& mesh, std::string* error)
{
    // Only a plain file is opened: the reader would wait on a FIFO until someone writes to it.
    struct stat st {
    };
    if (::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode))
        return Fail(error, "The model " + path + " is not a file that can be read");
    try {
        Assimp::Importer importer;
        importer.SetPropertyInteger(AI_CONFIG_PP_SBP_REMOVE,
                                    aiPrimitiveType_POINT | aiPrimitiveType_LINE);
        return Read(importer, importer.ReadFile(path, kSteps), mesh, error, "The model " + path);
    } catch (const std::exception& e) {
        return Fail(error, "The model " + path + " cannot be read: " + e.what());
    }
}

bool ModelLoader::LoadFromMemory(std::string_view bytes, const char* hint, ModelMesh& mesh,
                                 std::string* error)
{
    try {
        Assimp::Importer importer;
        importer.SetPropertyInteger(AI_CONFIG_PP_SBP_REMOVE,
                                    aiPrimitiveType_POINT | aiPrimitiveType_LINE);
        const aiScene* scene =
            importer.ReadFileFromMemory(bytes.data(), bytes.size(), kSteps, hint);
        return Read(importer, scene, mesh, error, "The model");
    } catch (const std::exception& e) {
        return Fail(error, std::string("The model cannot be read: ") + e.what());
    }
}
