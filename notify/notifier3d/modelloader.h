#pragma once

#include "modelmesh.h"

#include <string>
#include <string_view>

// Reads a 3D model file into a ModelMesh: DirectX .x (text or binary), and the other
// formats the model reader knows (.obj, .gltf/.glb, .fbx, ...). Every mesh of the file is
// placed by its node's transform and joined into one triangle list; a mesh without normals
// gets them computed, one without texture coordinates gets (0, 0).
//
// Files come from the user, so nothing is trusted: a file that cannot be read, is not a
// model, holds no triangles or more than kMaxVertices vertices gives false and a reason
// that names the file. Never throws. Thread-safe (each call has a reader of its own).
class ModelLoader
{
public:
    static constexpr int kMaxVertices = 4'000'000;

    static bool Load(const std::string& path, ModelMesh& mesh, std::string* error);
    // The same from bytes in memory; `hint` is the format's file extension without the dot.
    static bool LoadFromMemory(std::string_view bytes, const char* hint, ModelMesh& mesh,
                               std::string* error);
};
