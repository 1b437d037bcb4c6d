#pragma once

#include <cstdint>
#include <vector>

// A model ready for drawing: one triangle list with a position, a normal and a texture
// coordinate per vertex (8 floats, in that order), and the indices of its triangles.
struct ModelMesh {
    static constexpr int kFloatsPerVertex = 8;
    std::vector<float> vertices;
    std::vector<uint32_t> indices;

    int VertexCount() const { return int(vertices.size() / kFloatsPerVertex); }
    bool Empty() const { return indices.empty(); }
};
