// Writes the packaged models and textures of the 3D notifier: Model/default.x (an envelope
// with wings), Model/bird.x (a carrier bird), Model/parcel.x (a tied parcel) as text DirectX
// meshes with normals and texture coordinates, and Texture/default.bmp (air-mail paper),
// Texture/feathers.bmp, Texture/kraft.bmp as 64 x 64 24-bit bitmaps. All shapes and colours
// are made here; the output is the same on every run.
//
// The models sit in a sphere of radius 1.6 about the origin with Z up, so the notifier's
// camera (eye (0, 5, 0), field of view pi/4) sees them whole while they turn about Z. No
// texel is black: the notifier takes black pixels for the background.
//
//     pw_modelgen OUTPUT_FOLDER   (writes OUTPUT_FOLDER/Model and OUTPUT_FOLDER/Texture)
#include <array>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <numbers>
#include <string>
#include <vector>

namespace
{

struct Vec {
    double x, y, z;
};

Vec operator+(Vec a, Vec b)
{
    return {a.x + b.x, a.y + b.y, a.z + b.z};
}
Vec operator*(Vec a, double s)
{
    return {a.x * s, a.y * s, a.z * s};
}

struct Vertex {
    Vec position;
    Vec normal;
    double u, v;
};

// A turn about the Y axis (wings lift) followed by one about Z, then a move.
struct Place {
    Vec offset{0, 0, 0};
    double aboutY = 0;
    double aboutZ = 0;

    Vec Turn(Vec p) const
    {
        const double cy = std::cos(aboutY), sy = std::sin(aboutY);
        const Vec a{p.x * cy + p.z * sy, p.y, -p.x * sy + p.z * cy};
        const double cz = std::cos(aboutZ), sz = std::sin(aboutZ);
        return {a.x * cz - a.y * sz, a.x * sz + a.y * cz, a.z};
    }
    Vec Apply(Vec p) const { return Turn(p) + offset; }
};

class Mesh
{
public:
    void Triangle(const Vertex& a, const Vertex& b, const Vertex& c)
    {
        const auto first = static_cast<int>(vertices_.size());
        vertices_.insert(vertices_.end(), {a, b, c});
        faces_.push_back({first, first + 1, first + 2});
    }

    // A box of half sizes `half`, each face mapped to the whole texture.
    void Box(Vec half, const Place& place)
    {
        struct Face {
            Vec normal, right, up;
        };
        const Face faces[] = {
            {{0, 1, 0}, {-1, 0, 0}, {0, 0, 1}}, {{0, -1, 0}, {1, 0, 0}, {0, 0, 1}},
            {{1, 0, 0}, {0, 1, 0}, {0, 0, 1}},  {{-1, 0, 0}, {0, -1, 0}, {0, 0, 1}},
            {{0, 0, 1}, {1, 0, 0}, {0, 1, 0}},  {{0, 0, -1}, {1, 0, 0}, {0, -1, 0}},
        };
        auto scale = [&](Vec v) { return Vec{v.x * half.x, v.y * half.y, v.z * half.z}; };
        for (const Face& f : faces) {
            const Vec n = place.Turn(f.normal);
            auto corner = [&](double s, double t) {
                const Vec p = scale(f.normal + f.right * s + f.up * t);
                return Vertex{place.Apply(p), n, (s + 1) / 2, (1 - t) / 2};
            };
            const Vertex a = corner(-1, -1), b = corner(1, -1), c = corner(1, 1), d = corner(-1, 1);
            Triangle(a, b, c);
            Triangle(a, c, d);
        }
    }

    // An ellipsoid of radii `r` from rings and segments, mapped around by longitude.
    void Ellipsoid(Vec r, const Place& place, int rings = 10, int segments = 16)
    {
        auto point = [&](int ring, int segment) {
            const double theta = std::numbers::pi * ring / rings;
            const double phi = 2 * std::numbers::pi * segment / segments;
            const Vec unit{std::sin(theta) * std::cos(phi), std::sin(theta) * std::sin(phi),
                           std::cos(theta)};
            const Vec p{unit.x * r.x, unit.y * r.y, unit.z * r.z};
            Vec n{unit.x / r.x, unit.y / r.y, unit.z / r.z};
            const double length = std::sqrt(n.x * n.x + n.y * n.y + n.z * n.z);
            n = n * (1 / length);
            return Vertex{place.Apply(p), place.Turn(n), double(segment) / segments,
                          double(ring) / rings};
        };
        for (int ring = 0; ring < rings; ++ring)
            for (int segment = 0; segment < segments; ++segment) {
                const Vertex a = point(ring, segment), b = point(ring + 1, segment),
                             c = point(ring + 1, segment + 1), d = point(ring, segment + 1);
                if (ring != rings - 1)
                    Triangle(a, b, c);
                if (ring != 0)
                    Triangle(a, c, d);
            }
    }

    bool Write(const std::filesystem::path& file, const char* name) const
    {
        std::ofstream out(file, std::ios::binary | std::ios::trunc);
        out << "xof 0303txt 0032\n\nMesh " << name << " {\n " << vertices_.size() << ";\n";
        auto list = [&](auto each, size_t count) {
            for (size_t i = 0; i < count; ++i) {
                out << " ";
                each(i);
                out << (i + 1 < count ? ",\n" : ";\n");
            }
        };
        auto number = [&](double value) {
            char text[32];
            std::snprintf(text, sizeof text, "%.6f", std::abs(value) < 5e-7 ? 0.0 : value);
            out << text << ";";
        };
        list(
            [&](size_t i) {
                const Vec& p = vertices_[i].position;
                number(p.x), number(p.y), number(p.z);
            },
            vertices_.size());
        auto faces = [&] {
            out << " " << faces_.size() << ";\n";
            list(
                [&](size_t i) {
                    out << "3;" << faces_[i][0] << "," << faces_[i][1] << "," << faces_[i][2]
                        << ";";
                },
                faces_.size());
        };
        faces();
        out << "\n MeshNormals {\n " << vertices_.size() << ";\n";
        list(
            [&](size_t i) {
                const Vec& n = vertices_[i].normal;
                number(n.x), number(n.y), number(n.z);
            },
            vertices_.size());
        faces();
        out << " }\n\n MeshTextureCoords {\n " << vertices_.size() << ";\n";
        list([&](size_t i) { number(vertices_[i].u), number(vertices_[i].v); }, vertices_.size());
        out << " }\n}\n";
        return bool(out.flush());
    }

private:
    std::vector<Vertex> vertices_;
    std::vector<std::array<int, 3>> faces_;
};

Mesh Envelope()
{
    Mesh mesh;
    mesh.Box({1.0, 0.08, 0.65}, {});
    // Two wings, lifted 25 degrees, each a thin slab stepping out from the sides.
    for (int side : {-1, 1}) {
        for (int feather = 0; feather < 3; ++feather) {
            Place place;
            place.aboutY = side * (0.45 + 0.12 * feather);
            const double reach = 1.0 + 0.22 + 0.2 * feather;
            place.offset = {side * reach, 0, 0.15 + 0.12 * feather};
            mesh.Box({0.3, 0.03, 0.1 - 0.015 * feather}, place);
        }
    }
    return mesh;
}

Mesh Bird()
{
    Mesh mesh;
    mesh.Ellipsoid({0.45, 1.0, 0.45}, {});                     // body
    mesh.Ellipsoid({0.3, 0.3, 0.3}, {{0, 0.95, 0.35}});        // head
    mesh.Box({0.06, 0.18, 0.05}, {{0, 1.3, 0.32}});            // beak
    mesh.Box({0.35, 0.3, 0.03}, {{0, -1.05, 0.05}, 0.0, 0.0}); // tail
    for (int side : {-1, 1}) {
        Place wing;
        wing.aboutY = side * -0.5;
        wing.offset = {side * 0.95, 0.05, 0.4};
        mesh.Box({0.65, 0.35, 0.03}, wing);
    }
    return mesh;
}

Mesh Parcel()
{
    Mesh mesh;
    mesh.Box({0.8, 0.6, 0.5}, {});
    mesh.Box({0.82, 0.1, 0.52}, {}); // ribbon round one way
    mesh.Box({0.1, 0.62, 0.52}, {}); // and round the other
    for (int side : {-1, 1}) {
        Place loop;
        loop.aboutY = side * 0.6;
        loop.offset = {side * 0.2, 0, 0.62};
        mesh.Box({0.22, 0.05, 0.1}, loop);
    }
    return mesh;
}

struct Rgb {
    uint8_t r, g, b;
};

using Painter = Rgb (*)(int x, int y);

constexpr int kTextureSize = 64;

bool WriteBmp(const std::filesystem::path& file, Painter paint)
{
    const int rowBytes = kTextureSize * 3; // already a multiple of four
    const uint32_t pixelBytes = rowBytes * kTextureSize;
    const uint32_t fileBytes = 14 + 40 + pixelBytes;
    std::vector<uint8_t> data;
    auto u16 = [&](uint32_t v) {
        data.push_back(uint8_t(v));
        data.push_back(uint8_t(v >> 8));
    };
    auto u32 = [&](uint32_t v) {
        u16(v & 0xFFFF);
        u16(v >> 16);
    };
    data.push_back('B');
    data.push_back('M');
    u32(fileBytes), u32(0), u32(14 + 40);
    u32(40), u32(kTextureSize), u32(kTextureSize), u16(1), u16(24), u32(0), u32(pixelBytes);
    u32(2835), u32(2835), u32(0), u32(0);
    for (int y = kTextureSize - 1; y >= 0; --y) // bottom-up rows
        for (int x = 0; x < kTextureSize; ++x) {
            const Rgb c = paint(x, y);
            data.insert(data.end(), {c.b, c.g, c.r});
        }
    std::ofstream out(file, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(data.data()), std::streamsize(data.size()));
    return bool(out.flush());
}

// Pale paper with the red and blue diagonal border of an air-mail envelope.
Rgb AirMail(int x, int y)
{
    const int edge = std::min(std::min(x, y), std::min(kTextureSize - 1 - x, kTextureSize - 1 - y));
    if (edge < 6)
        return ((x + y) / 6) % 2 ? Rgb{200, 40, 50} : Rgb{40, 80, 190};
    return Rgb{236, 236, 222};
}

// Grey-blue feathers: soft bands with a lighter shaft.
Rgb Feathers(int x, int y)
{
    const double band = 0.5 + 0.5 * std::sin((y + 4 * std::sin(x * 0.3)) * 0.5);
    const auto level = uint8_t(120 + 90 * band);
    if (x % 16 == 8)
        return Rgb{230, 230, 235};
    return Rgb{uint8_t(level - 20), uint8_t(level - 10), level};
}

// Brown wrapping paper with a faint fibre pattern.
Rgb Kraft(int x, int y)
{
    const int fibre = ((x * 7 + y * 13) % 11) - 5;
    return Rgb{uint8_t(176 + fibre), uint8_t(126 + fibre), uint8_t(74 + fibre)};
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: pw_modelgen OUTPUT_FOLDER\n");
        return 2;
    }
    const std::filesystem::path root = argv[1];
    std::error_code error;
    std::filesystem::create_directories(root / "Model", error);
    std::filesystem::create_directories(root / "Texture", error);
    bool ok = Envelope().Write(root / "Model" / "default.x", "Envelope");
    ok = Bird().Write(root / "Model" / "bird.x", "Bird") && ok;
    ok = Parcel().Write(root / "Model" / "parcel.x", "Parcel") && ok;
    ok = WriteBmp(root / "Texture" / "default.bmp", AirMail) && ok;
    ok = WriteBmp(root / "Texture" / "feathers.bmp", Feathers) && ok;
    ok = WriteBmp(root / "Texture" / "kraft.bmp", Kraft) && ok;
    if (!ok) {
        std::fprintf(stderr, "pw_modelgen: cannot write the assets under %s\n", argv[1]);
        return 1;
    }
    return 0;
}
