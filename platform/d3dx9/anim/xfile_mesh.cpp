#include "platform/d3dx9/anim/xfile_mesh.h"
#include "platform/d3dx9/mesh/vertex_format.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <iterator>

namespace fw::xfile {

namespace {

struct Polygon {
    DWORD first; // offset into the corner list
    DWORD count;
};

// The file's own data before splitting.
struct SourceMesh {
    std::vector<D3DXVECTOR3> positions;
    std::vector<DWORD> corners; // position index of every polygon corner
    std::vector<Polygon> polygons;
    std::vector<D3DXVECTOR3> normals;
    std::vector<DWORD> normalCorners; // normal index per corner, parallel to corners
    bool hasNormals = false;
    std::vector<DWORD> colors;
    bool hasColors = false;
    std::vector<D3DXVECTOR2> uvs;
    bool hasUvs = false;
    std::vector<DWORD> polygonMaterials;
    struct Weights {
        std::string name;
        std::vector<DWORD> vertices;
        std::vector<FLOAT> weights;
        D3DXMATRIX offset;
    };
    std::vector<Weights> bones;
};

class MeshReader {
public:
    MeshReader(MeshData& out, std::string& error) : m_out(out), m_error(error) {}

    bool Read(const Object& mesh) {
        m_out.name = mesh.name;
        if (!ReadPositionsAndFaces(mesh))
            return false;
        for (const Child& child : mesh.children) {
            if (!child.object || child.isReference)
                continue;
            const Object& o = *child.object;
            bool ok = true;
            if (o.Is("MeshNormals"))
                ok = ReadNormals(o);
            else if (o.Is("MeshTextureCoords"))
                ok = ReadUvs(o);
            else if (o.Is("MeshVertexColors"))
                ok = ReadColors(o);
            else if (o.Is("MeshMaterialList"))
                ok = ReadMaterialList(o);
            else if (o.Is("SkinWeights"))
                ok = ReadSkinWeights(o);
            else if (o.Is("DeclData"))
                ok = ReadDeclData(o);
            else if (o.Is("FVFData"))
                ok = ReadFvfData(o);
            if (!ok)
                return false;
        }
        Assemble();
        return true;
    }

private:
    bool Fail(const Object& o, const std::string& what) {
        m_error = o.Where() + ": " + what;
        return false;
    }
    bool Truncated(const Object& o) { return Fail(o, "data shorter than its counts"); }

    static bool ReadVector(Cursor& c, D3DXVECTOR3& v) {
        v.x = c.Float();
        v.y = c.Float();
        v.z = c.Float();
        return c.Ok();
    }

    // Polygon lists: count, then per polygon a corner count and that many indices.
    bool ReadPolygons(Cursor& c, std::vector<DWORD>& corners, std::vector<Polygon>& polygons) {
        uint32_t count = 0;
        if (!c.Count(count, 1))
            return false;
        polygons.resize(count);
        corners.reserve(c.Remaining()); // a little more than the corners: their counts too
        for (uint32_t i = 0; i < count; ++i) {
            uint32_t n = 0;
            if (!c.Count(n, 1))
                return false;
            polygons[i] = {DWORD(corners.size()), n};
            for (uint32_t k = 0; k < n; ++k) // a few each: inline reads beat a bulk call
                corners.push_back(c.Dword());
        }
        return c.Ok();
    }

    bool ReadPositionsAndFaces(const Object& mesh) {
        Cursor c(mesh);
        uint32_t count = 0;
        if (!c.Count(count, 3))
            return Truncated(mesh);
        m_src.positions.resize(count);
        for (auto& p : m_src.positions)
            ReadVector(c, p);
        if (!ReadPolygons(c, m_src.corners, m_src.polygons))
            return Truncated(mesh);
        for (DWORD index : m_src.corners)
            if (index >= count)
                return Fail(mesh, "face index " + std::to_string(index) + " is past the " +
                                      std::to_string(count) + " vertices");
        return true;
    }

    bool ReadNormals(const Object& o) {
        Cursor c(o);
        uint32_t count = 0;
        if (!c.Count(count, 3))
            return Truncated(o);
        m_src.normals.resize(count);
        for (auto& n : m_src.normals) {
            ReadVector(c, n);
            const float length = std::sqrt(n.x * n.x + n.y * n.y + n.z * n.z);
            if (length > 0.0f)
                n /= length;
        }
        std::vector<DWORD> corners;
        std::vector<Polygon> polygons;
        if (!ReadPolygons(c, corners, polygons))
            return Truncated(o);
        if (polygons.size() != m_src.polygons.size())
            return Fail(o, std::to_string(polygons.size()) + " normal faces for " +
                               std::to_string(m_src.polygons.size()) + " faces");
        for (size_t i = 0; i < polygons.size(); ++i)
            if (polygons[i].count != m_src.polygons[i].count)
                return Fail(o, "normal face " + std::to_string(i) + " has " +
                                   std::to_string(polygons[i].count) + " corners, the face " +
                                   std::to_string(m_src.polygons[i].count));
        for (DWORD index : corners)
            if (index >= count)
                return Fail(o, "normal index " + std::to_string(index) + " is past the " +
                                   std::to_string(count) + " normals");
        m_src.normalCorners = std::move(corners);
        m_src.hasNormals = true;
        return true;
    }

    bool ReadUvs(const Object& o) {
        Cursor c(o);
        uint32_t count = 0;
        if (!c.Count(count, 2))
            return Truncated(o);
        if (count != m_src.positions.size())
            return Fail(o, std::to_string(count) + " texture coordinates for " +
                               std::to_string(m_src.positions.size()) + " vertices");
        m_src.uvs.resize(count);
        for (auto& uv : m_src.uvs) {
            uv.x = c.Float();
            uv.y = c.Float();
        }
        m_src.hasUvs = true;
        return true;
    }

    static DWORD ToColor(float r, float g, float b, float a) {
        const auto channel = [](float v) {
            return DWORD(std::clamp(v, 0.0f, 1.0f) * 255.0f + 0.5f);
        };
        return channel(a) << 24 | channel(r) << 16 | channel(g) << 8 | channel(b);
    }

    bool ReadColors(const Object& o) {
        Cursor c(o);
        uint32_t count = 0;
        if (!c.Count(count, 5))
            return Truncated(o);
        // Vertices the list leaves out are opaque white, as if uncoloured.
        m_src.colors.assign(m_src.positions.size(), 0xFFFFFFFFu);
        for (uint32_t i = 0; i < count; ++i) {
            const DWORD index = c.Dword();
            const float r = c.Float(), g = c.Float(), b = c.Float(), a = c.Float();
            if (!c.Ok())
                return Truncated(o);
            if (index >= m_src.positions.size())
                return Fail(o, "colour for vertex " + std::to_string(index) + " of " +
                                   std::to_string(m_src.positions.size()));
            m_src.colors[index] = ToColor(r, g, b, a);
        }
        m_src.hasColors = true;
        return true;
    }

    // DeclData: only its first set of 2D texture coordinates is used, and only when the
    // mesh has no MeshTextureCoords; everything else in it needs a vertex declaration.
    bool ReadDeclData(const Object& o) {
        if (m_src.hasUvs)
            return true;
        Cursor c(o);
        uint32_t elements = 0;
        if (!c.Count(elements, 4))
            return Truncated(o);
        DWORD stride = 0, uvOffset = ~0u;
        for (uint32_t i = 0; i < elements; ++i) {
            const DWORD type = c.Dword();
            c.Dword(); // method
            const DWORD usage = c.Dword();
            const DWORD usageIndex = c.Dword();
            if (!c.Ok() || type >= D3DDECLTYPE_UNUSED)
                return Fail(o, "unknown vertex element type");
            if (usage == 5 && usageIndex == 0 && type == 1 && uvOffset == ~0u)
                uvOffset = stride;
            stride += fw::d3dx9mesh::DeclTypeSize(BYTE(type));
        }
        uint32_t dwords = 0;
        if (!c.Count(dwords, 1))
            return Truncated(o);
        if (uvOffset == ~0u)
            return true;
        if (uint64_t(stride / 4) * m_src.positions.size() != dwords)
            return Fail(o, "vertex data does not match the vertex count");
        std::vector<DWORD> data(dwords);
        c.Dwords(data.data(), dwords);
        m_src.uvs.resize(m_src.positions.size());
        for (size_t v = 0; v < m_src.uvs.size(); ++v) {
            const DWORD* p = data.data() + v * (stride / 4) + uvOffset / 4;
            std::memcpy(&m_src.uvs[v].x, p, 4);
            std::memcpy(&m_src.uvs[v].y, p + 1, 4);
        }
        m_src.hasUvs = true;
        return true;
    }

    // FVFData: texture coordinate sets per vertex (2D unless the code says otherwise);
    // the first set stands in for MeshTextureCoords when the mesh has none.
    bool ReadFvfData(const Object& o) {
        if (m_src.hasUvs)
            return true;
        Cursor c(o);
        const DWORD fvf = c.Dword();
        uint32_t dwords = 0;
        if (!c.Count(dwords, 1))
            return Truncated(o);
        const DWORD sets = (fvf & D3DFVF_TEXCOUNT_MASK) >> D3DFVF_TEXCOUNT_SHIFT;
        if (sets == 0 || (fvf >> 16) != 0) // no coordinates, or not all of them 2D
            return true;
        if (uint64_t(sets) * 2 * m_src.positions.size() != dwords)
            return Fail(o, "vertex data does not match the vertex count");
        m_src.uvs.resize(m_src.positions.size());
        for (auto& uv : m_src.uvs) {
            const DWORD u = c.Dword(), v = c.Dword();
            std::memcpy(&uv.x, &u, 4);
            std::memcpy(&uv.y, &v, 4);
            for (DWORD skip = 2; skip < sets * 2; ++skip)
                c.Dword();
        }
        m_src.hasUvs = c.Ok();
        return c.Ok() || Truncated(o);
    }

    bool ReadMaterial(const Object& o, MeshMaterial& out) {
        Cursor c(o);
        D3DMATERIAL9& m = out.material;
        m.Diffuse = {c.Float(), c.Float(), c.Float(), c.Float()};
        m.Power = c.Float();
        m.Specular = {c.Float(), c.Float(), c.Float(), 1.0f};
        m.Emissive = {c.Float(), c.Float(), c.Float(), 1.0f};
        m.Ambient = {0.0f, 0.0f, 0.0f, 1.0f};
        if (!c.Ok())
            return Truncated(o);
        for (const Child& child : o.children) {
            if (!child.object || !child.object->Is("TextureFilename") || out.hasTexture)
                continue;
            Cursor t(*child.object);
            const std::string* name = t.String();
            if (name && !name->empty()) {
                out.texture = *name;
                out.hasTexture = true;
            }
        }
        return true;
    }

    bool ReadMaterialList(const Object& o) {
        Cursor c(o);
        const uint32_t materials = c.Dword();
        uint32_t count = 0;
        if (!c.Count(count, 1))
            return Truncated(o);
        std::vector<DWORD> indices(count);
        const size_t read = c.Dwords(indices.data(), count);
        for (size_t i = 0; i < read; ++i)
            if (indices[i] >= materials)
                return Fail(o, "material index " + std::to_string(indices[i]) + " of " +
                                   std::to_string(materials) + " materials");
        const size_t faces = m_src.polygons.size();
        // Exporters shorten the list when the last faces share a material (commonly
        // one index for the whole mesh): the last index holds for the rest.
        indices.resize(faces, indices.empty() ? 0 : indices.back());
        for (const Child& child : o.children) {
            if (m_out.materials.size() == materials)
                break;
            if (!child.object || !child.object->Is("Material"))
                continue;
            MeshMaterial material;
            if (!ReadMaterial(*child.object, material))
                return false;
            m_out.materials.push_back(std::move(material));
        }
        if (m_out.materials.size() < materials)
            return Fail(o, std::to_string(materials) + " materials declared, " +
                               std::to_string(m_out.materials.size()) + " given");
        m_src.polygonMaterials = std::move(indices);
        m_out.hasMaterialList = true;
        return true;
    }

    bool ReadSkinWeights(const Object& o) {
        Cursor c(o);
        SourceMesh::Weights bone;
        const std::string* name = c.String();
        uint32_t count = 0;
        if (!name || !c.Count(count, 2))
            return Truncated(o);
        bone.name = *name;
        bone.vertices.resize(count);
        bone.weights.resize(count);
        const size_t read = c.Dwords(bone.vertices.data(), count);
        for (size_t i = 0; i < read; ++i)
            if (bone.vertices[i] >= m_src.positions.size())
                return Fail(o, "bone '" + bone.name + "' weights vertex " +
                                   std::to_string(bone.vertices[i]) + " of " +
                                   std::to_string(m_src.positions.size()));
        for (auto& w : bone.weights)
            w = c.Float();
        for (int i = 0; i < 16; ++i)
            bone.offset.m[i / 4][i % 4] = c.Float();
        if (!c.Ok())
            return Truncated(o);
        m_src.bones.push_back(std::move(bone));
        return true;
    }

    // Splits vertices used with different normal vectors: a position keeps the first
    // normal it meets; later corners reuse a copy with an equal normal or add one.
    void Assemble() {
        const DWORD original = DWORD(m_src.positions.size());
        std::vector<DWORD> cornerVertex(m_src.corners);
        std::vector<DWORD> vertexNormal(original, ~0u);
        std::vector<DWORD> nextCopy(original, ~0u); // chain of copies per vertex
        std::vector<DWORD> copyNormal;              // normal index of copy i - original
        std::vector<DWORD> copySource;
        std::vector<DWORD> copyNext;
        const auto normalOf = [&](DWORD v) {
            return v < original ? vertexNormal[v] : copyNormal[v - original];
        };
        if (m_src.hasNormals) {
            for (size_t k = 0; k < m_src.corners.size(); ++k) {
                const DWORD v = m_src.corners[k];
                const DWORD n = m_src.normalCorners[k];
                if (vertexNormal[v] == ~0u) {
                    vertexNormal[v] = n;
                    continue;
                }
                DWORD at = v, last = v;
                while (at != ~0u) {
                    if (m_src.normals[normalOf(at)] == m_src.normals[n])
                        break;
                    last = at;
                    at = at < original ? nextCopy[at] : copyNext[at - original];
                }
                if (at == ~0u) {
                    at = original + DWORD(copyNormal.size());
                    copyNormal.push_back(n);
                    copySource.push_back(v);
                    copyNext.push_back(~0u);
                    (last < original ? nextCopy[last] : copyNext[last - original]) = at;
                }
                cornerVertex[k] = at;
            }
        }
        const DWORD total = original + DWORD(copySource.size());
        m_out.sourceVertex.resize(total);
        for (DWORD v = 0; v < total; ++v)
            m_out.sourceVertex[v] = v < original ? v : copySource[v - original];
        m_out.positions.resize(total);
        for (DWORD v = 0; v < total; ++v)
            m_out.positions[v] = m_src.positions[m_out.sourceVertex[v]];
        m_out.fvf = D3DFVF_XYZ;
        if (m_src.hasNormals) {
            m_out.fvf |= D3DFVF_NORMAL;
            m_out.normals.resize(total); // unreferenced vertices keep a zero normal
            for (DWORD v = 0; v < total; ++v)
                if (normalOf(v) != ~0u)
                    m_out.normals[v] = m_src.normals[normalOf(v)];
        }
        if (m_src.hasColors) {
            m_out.fvf |= D3DFVF_DIFFUSE;
            m_out.colors.resize(total);
            for (DWORD v = 0; v < total; ++v)
                m_out.colors[v] = m_src.colors[m_out.sourceVertex[v]];
        }
        if (m_src.hasUvs) {
            m_out.fvf |= D3DFVF_TEX1;
            m_out.uvs.resize(total);
            for (DWORD v = 0; v < total; ++v)
                m_out.uvs[v] = m_src.uvs[m_out.sourceVertex[v]];
        }
        Triangulate(cornerVertex);
        AssembleBones(original, copySource);
    }

    void Triangulate(const std::vector<DWORD>& cornerVertex) {
        size_t triangles = 0;
        for (const Polygon& poly : m_src.polygons)
            triangles += poly.count > 2 ? poly.count - 2 : 0;
        m_out.indices.reserve(triangles * 3);
        m_out.attributes.reserve(triangles);
        for (size_t p = 0; p < m_src.polygons.size(); ++p) {
            const Polygon& poly = m_src.polygons[p];
            const DWORD attribute = m_out.hasMaterialList ? m_src.polygonMaterials[p] : 0;
            for (DWORD k = 2; k < poly.count; ++k) {
                m_out.indices.push_back(cornerVertex[poly.first]);
                m_out.indices.push_back(cornerVertex[poly.first + k - 1]);
                m_out.indices.push_back(cornerVertex[poly.first + k]);
                m_out.attributes.push_back(attribute);
            }
        }
    }

    // Copies made by the split carry the influences of the vertex they copy.
    void AssembleBones(DWORD original, const std::vector<DWORD>& copySource) {
        // Copies of each file vertex, grouped by source: copies[first[v] .. first[v + 1]).
        std::vector<DWORD> first(original + 1, 0), copies(copySource.size());
        for (DWORD source : copySource)
            ++first[source + 1];
        for (DWORD v = 0; v < original; ++v)
            first[v + 1] += first[v];
        std::vector<DWORD> fill(first.begin(), first.end() - 1);
        for (size_t i = 0; i < copySource.size(); ++i)
            copies[fill[copySource[i]]++] = original + DWORD(i);
        for (auto& src : m_src.bones) {
            MeshBone bone;
            bone.name = std::move(src.name);
            bone.offset = src.offset;
            size_t influences = src.vertices.size();
            for (const DWORD v : src.vertices)
                influences += first[v + 1] - first[v];
            bone.vertices.reserve(influences);
            bone.weights.reserve(influences);
            for (size_t i = 0; i < src.vertices.size(); ++i) {
                const DWORD v = src.vertices[i];
                bone.vertices.push_back(v);
                bone.weights.push_back(src.weights[i]);
                for (DWORD c = first[v]; c < first[v + 1]; ++c) {
                    bone.vertices.push_back(copies[c]);
                    bone.weights.push_back(src.weights[i]);
                }
            }
            m_out.bones.push_back(std::move(bone));
        }
        // A skin header without weights is no skin: the mesh stays rigid.
        m_out.hasSkin = !m_out.bones.empty();
    }

    MeshData& m_out;
    std::string& m_error;
    SourceMesh m_src;
};

} // namespace

bool BuildMeshData(const Object& mesh, MeshData& out, std::string& error) {
    out = MeshData{};
    MeshReader reader(out, error);
    return reader.Read(mesh);
}

} // namespace fw::xfile
