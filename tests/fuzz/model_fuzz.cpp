// Feeds arbitrary bytes to the 3D notifier's model reader as a DirectX .x file (text or
// binary, as the header says), whole and cut short. A model it accepts must be drawable:
// whole vertices, and every index inside the vertex list.
#include "modelloader.h"

#include <cstdint>
#include <cstdlib>
#include <string_view>

// Assimp's .x reader keeps a few objects of some malformed files.
extern "C" const char* __lsan_default_suppressions()
{
    return "leak:libassimp\n";
}

namespace
{

void Check(std::string_view bytes)
{
    ModelMesh mesh;
    std::string error;
    if (!ModelLoader::LoadFromMemory(bytes, "x", mesh, &error)) {
        if (error.empty())
            std::abort(); // a refusal always says why
        return;
    }
    if (mesh.vertices.size() % ModelMesh::kFloatsPerVertex != 0 || mesh.indices.size() % 3 != 0)
        std::abort();
    for (uint32_t index : mesh.indices)
        if (index >= uint32_t(mesh.VertexCount()))
            std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    Check(bytes);
    // A file cut anywhere (a copy still being written) is refused or read, never worse.
    if (size > 1) {
        Check(bytes.substr(0, size / 2));
        Check(bytes.substr(0, size - 1));
    }
    return 0;
}
