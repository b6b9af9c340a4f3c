#include "xfile.h"

#include <cmath>
#include <cstdio>
#include <set>

namespace assetgen {

namespace {

// The templates the file uses, declared as exporters do so that readers without a built-in
// copy (the skinning ones especially) still know them.
const char* const kTemplates = R"(template Vector {
 <3D82AB5E-62DA-11cf-AB39-0020AF71E433>
 FLOAT x;
 FLOAT y;
 FLOAT z;
}

template Coords2d {
 <F6F23F44-7686-11cf-8F52-0040333594A3>
 FLOAT u;
 FLOAT v;
}

template Matrix4x4 {
 <F6F23F45-7686-11cf-8F52-0040333594A3>
 array FLOAT matrix[16];
}

template ColorRGBA {
 <35FF44E0-6C7C-11cf-8F52-0040333594A3>
 FLOAT red;
 FLOAT green;
 FLOAT blue;
 FLOAT alpha;
}

template ColorRGB {
 <D3E16E81-7835-11cf-8F52-0040333594A3>
 FLOAT red;
 FLOAT green;
 FLOAT blue;
}

template IndexedColor {
 <1630B820-7842-11cf-8F52-0040333594A3>
 DWORD index;
 ColorRGBA indexColor;
}

template Material {
 <3D82AB4D-62DA-11cf-AB39-0020AF71E433>
 ColorRGBA faceColor;
 FLOAT power;
 ColorRGB specularColor;
 ColorRGB emissiveColor;
 [...]
}

template TextureFilename {
 <A42790E1-7810-11cf-8F52-0040333594A3>
 STRING filename;
}

template MeshFace {
 <3D82AB5F-62DA-11cf-AB39-0020AF71E433>
 DWORD nFaceVertexIndices;
 array DWORD faceVertexIndices[nFaceVertexIndices];
}

template MeshTextureCoords {
 <F6F23F40-7686-11cf-8F52-0040333594A3>
 DWORD nTextureCoords;
 array Coords2d textureCoords[nTextureCoords];
}

template MeshVertexColors {
 <1630B821-7842-11cf-8F52-0040333594A3>
 DWORD nVertexColors;
 array IndexedColor vertexColors[nVertexColors];
}

template MeshNormals {
 <F6F23F43-7686-11cf-8F52-0040333594A3>
 DWORD nNormals;
 array Vector normals[nNormals];
 DWORD nFaceNormals;
 array MeshFace faceNormals[nFaceNormals];
}

template MeshMaterialList {
 <F6F23F42-7686-11cf-8F52-0040333594A3>
 DWORD nMaterials;
 DWORD nFaceIndexes;
 array DWORD faceIndexes[nFaceIndexes];
 [Material <3D82AB4D-62DA-11cf-AB39-0020AF71E433>]
}

template Mesh {
 <3D82AB44-62DA-11cf-AB39-0020AF71E433>
 DWORD nVertices;
 array Vector vertices[nVertices];
 DWORD nFaces;
 array MeshFace faces[nFaces];
 [...]
}

template FrameTransformMatrix {
 <F6F23F41-7686-11cf-8F52-0040333594A3>
 Matrix4x4 frameMatrix;
}

template Frame {
 <3D82AB46-62DA-11cf-AB39-0020AF71E433>
 [...]
}

template XSkinMeshHeader {
 <3CF169CE-FF7C-44ab-93C0-F78F62D172E2>
 WORD nMaxSkinWeightsPerVertex;
 WORD nMaxSkinWeightsPerFace;
 WORD nBones;
}

template SkinWeights {
 <6F0D123B-BAD2-4167-A0D0-80224F25FABB>
 STRING transformNodeName;
 DWORD nWeights;
 array DWORD vertexIndices[nWeights];
 array FLOAT weights[nWeights];
 Matrix4x4 matrixOffset;
}

template FloatKeys {
 <10DD46A9-775B-11cf-8F52-0040333594A3>
 DWORD nValues;
 array FLOAT values[nValues];
}

template TimedFloatKeys {
 <F406B180-7B3B-11cf-8F52-0040333594A3>
 DWORD time;
 FloatKeys tfkeys;
}

template AnimationKey {
 <10DD46A8-775B-11cf-8F52-0040333594A3>
 DWORD keyType;
 DWORD nKeys;
 array TimedFloatKeys keys[nKeys];
}

template Animation {
 <3D82AB4F-62DA-11cf-AB39-0020AF71E433>
 [...]
}

template AnimationSet {
 <3D82AB50-62DA-11cf-AB39-0020AF71E433>
 [Animation <3D82AB4F-62DA-11cf-AB39-0020AF71E433>]
}

template AnimTicksPerSecond {
 <9E415A43-7BA6-4A73-8743-B73D47E88476>
 DWORD AnimTicksPerSecond;
}

)";

class Writer {
public:
    std::string text;

    // Fixed notation with six decimals: no exponent (which strict readers reject) and no
    // negative zero.
    void number(float v) {
        char buffer[32];
        if (std::fabs(v) < 5e-7f)
            v = 0;
        std::snprintf(buffer, sizeof buffer, "%.6f", double(v));
        text += buffer;
    }

    void integer(uint64_t v) { text += std::to_string(v); }

    void line(const std::string& s, int depth) {
        text.append(size_t(depth), ' ');
        text += s;
        text += '\n';
    }

    void indent(int depth) { text.append(size_t(depth), ' '); }

    // Scalars separated by ';' (struct members), closed by the given terminator.
    void members(std::initializer_list<float> values, const char* terminator) {
        bool first = true;
        for (float v : values) {
            if (!first)
                text += ';';
            number(v);
            first = false;
        }
        text += ';';
        text += terminator;
    }

    void matrix(const Mat4& m, const char* terminator) {
        for (int i = 0; i < 16; ++i) {
            number(m.m[i / 4][i % 4]);
            text += i < 15 ? "," : ";";
        }
        text += terminator;
    }
};

const char* listEnd(size_t index, size_t count) {
    return index + 1 < count ? "," : ";";
}

void writeMaterial(Writer& w, const Material& m, int depth) {
    w.line("Material " + m.name + " {", depth);
    w.indent(depth + 1);
    w.members({m.diffuse.r, m.diffuse.g, m.diffuse.b, m.diffuse.a}, ";\n");
    w.indent(depth + 1);
    w.number(m.power);
    w.text += ";\n";
    w.indent(depth + 1);
    w.members({m.specular.x, m.specular.y, m.specular.z}, ";\n");
    w.indent(depth + 1);
    w.members({m.emissive.x, m.emissive.y, m.emissive.z}, ";\n");
    if (!m.texture.empty())
        w.line("TextureFilename { \"" + m.texture + "\"; }", depth + 1);
    w.line("}", depth);
}

void writeFaces(Writer& w, const Mesh& mesh, int depth) {
    w.indent(depth);
    w.integer(mesh.faces.size());
    w.text += ";\n";
    for (size_t f = 0; f < mesh.faces.size(); ++f) {
        const auto& face = mesh.faces[f];
        w.indent(depth);
        w.text += "3;" + std::to_string(face[0]) + "," + std::to_string(face[1]) + "," +
                  std::to_string(face[2]) + ";" + listEnd(f, mesh.faces.size()) + "\n";
    }
}

void writeVectors(Writer& w, const std::vector<Vec3>& vectors, int depth) {
    w.indent(depth);
    w.integer(vectors.size());
    w.text += ";\n";
    for (size_t i = 0; i < vectors.size(); ++i) {
        w.indent(depth);
        w.members({vectors[i].x, vectors[i].y, vectors[i].z}, listEnd(i, vectors.size()));
        w.text += '\n';
    }
}

void writeSkin(Writer& w, const Model& model, const Mesh& mesh, int depth) {
    std::set<int> bones;
    size_t maxPerVertex = 0, maxPerFace = 0;
    for (const auto& slots : mesh.influences) {
        size_t used = 0;
        for (const Influence& i : slots)
            if (i.bone >= 0) {
                bones.insert(i.bone);
                ++used;
            }
        maxPerVertex = std::max(maxPerVertex, used);
    }
    for (const auto& face : mesh.faces) {
        std::set<int> faceBones;
        for (uint32_t v : face)
            for (const Influence& i : mesh.influences[v])
                if (i.bone >= 0)
                    faceBones.insert(i.bone);
        maxPerFace = std::max(maxPerFace, faceBones.size());
    }
    w.line("XSkinMeshHeader {", depth);
    w.line(std::to_string(maxPerVertex) + ";", depth + 1);
    w.line(std::to_string(maxPerFace) + ";", depth + 1);
    w.line(std::to_string(bones.size()) + ";", depth + 1);
    w.line("}", depth);

    for (int bone : bones) {
        std::vector<uint32_t> vertices;
        std::vector<float> weights;
        for (size_t v = 0; v < mesh.influences.size(); ++v)
            for (const Influence& i : mesh.influences[v])
                if (i.bone == bone) {
                    vertices.push_back(uint32_t(v));
                    weights.push_back(i.weight);
                }
        const Frame& frame = model.frames[size_t(bone)];
        w.line("SkinWeights {", depth);
        w.line("\"" + frame.name + "\";", depth + 1);
        w.line(std::to_string(vertices.size()) + ";", depth + 1);
        for (size_t k = 0; k < vertices.size(); ++k)
            w.line(std::to_string(vertices[k]) + listEnd(k, vertices.size()), depth + 1);
        for (size_t k = 0; k < weights.size(); ++k) {
            w.indent(depth + 1);
            w.number(weights[k]);
            w.text += listEnd(k, weights.size());
            w.text += '\n';
        }
        // Model space to the bone's space; bind frames carry translations only.
        w.indent(depth + 1);
        w.matrix(matTranslation(frame.bindWorld * -1.0f), ";\n");
        w.line("}", depth);
    }
}

void writeMesh(Writer& w, const Model& model, const Mesh& mesh, int depth) {
    w.line("Mesh " + mesh.name + " {", depth);
    writeVectors(w, mesh.positions, depth + 1);
    writeFaces(w, mesh, depth + 1);

    w.line("MeshNormals {", depth + 1);
    writeVectors(w, mesh.normals, depth + 2);
    writeFaces(w, mesh, depth + 2); // one normal per vertex: the same index lists
    w.line("}", depth + 1);

    w.line("MeshTextureCoords {", depth + 1);
    w.line(std::to_string(mesh.uvs.size()) + ";", depth + 2);
    for (size_t i = 0; i < mesh.uvs.size(); ++i) {
        w.indent(depth + 2);
        w.members({mesh.uvs[i][0], mesh.uvs[i][1]}, listEnd(i, mesh.uvs.size()));
        w.text += '\n';
    }
    w.line("}", depth + 1);

    if (!mesh.colors.empty()) {
        w.line("MeshVertexColors {", depth + 1);
        w.line(std::to_string(mesh.colors.size()) + ";", depth + 2);
        for (size_t i = 0; i < mesh.colors.size(); ++i) {
            const Color4& c = mesh.colors[i];
            w.indent(depth + 2);
            w.text += std::to_string(i) + ";";
            w.members({c.r, c.g, c.b, c.a}, ";");
            w.text += listEnd(i, mesh.colors.size());
            w.text += '\n';
        }
        w.line("}", depth + 1);
    }

    if (!mesh.materials.empty()) {
        w.line("MeshMaterialList {", depth + 1);
        w.line(std::to_string(mesh.materials.size()) + ";", depth + 2);
        w.line(std::to_string(mesh.faceMaterials.size()) + ";", depth + 2);
        for (size_t f = 0; f < mesh.faceMaterials.size(); ++f)
            w.line(std::to_string(mesh.faceMaterials[f]) + listEnd(f, mesh.faceMaterials.size()),
                   depth + 2);
        for (const Material& m : mesh.materials)
            writeMaterial(w, m, depth + 2);
        w.line("}", depth + 1);
    }

    if (mesh.skinned())
        writeSkin(w, model, mesh, depth + 1);
    w.line("}", depth);
}

void writeFrame(Writer& w, const Model& model, int index, int depth) {
    const Frame& frame = model.frames[size_t(index)];
    w.line("Frame " + frame.name + " {", depth);
    w.line("FrameTransformMatrix {", depth + 1);
    w.indent(depth + 2);
    w.matrix(frame.local, ";\n");
    w.line("}", depth + 1);
    for (const Mesh& mesh : model.meshes)
        if (mesh.frame == index)
            writeMesh(w, model, mesh, depth + 1);
    for (size_t child = 0; child < model.frames.size(); ++child)
        if (model.frames[child].parent == index)
            writeFrame(w, model, int(child), depth + 1);
    w.line("}", depth);
}

template <typename T, typename Emit>
void writeKeys(Writer& w, int type, const std::vector<Key<T>>& keys, int depth, Emit emit) {
    if (keys.empty())
        return;
    w.line("AnimationKey {", depth);
    w.line(std::to_string(type) + ";", depth + 1);
    w.line(std::to_string(keys.size()) + ";", depth + 1);
    for (size_t k = 0; k < keys.size(); ++k) {
        w.indent(depth + 1);
        w.text += std::to_string(keys[k].time) + ";";
        emit(keys[k].value);
        w.text += k + 1 < keys.size() ? ";;,\n" : ";;;\n";
    }
    w.line("}", depth);
}

void writeFloats(Writer& w, std::initializer_list<float> values) {
    w.text += std::to_string(values.size()) + ";";
    bool first = true;
    for (float v : values) {
        if (!first)
            w.text += ',';
        w.number(v);
        first = false;
    }
}

void writeAnimationSet(Writer& w, const Model& model, const AnimationSet& set) {
    w.line("AnimationSet " + set.name + " {", 0);
    for (const BoneKeys& track : set.tracks) {
        w.line("Animation {", 1);
        w.line("{ " + model.frames[size_t(track.frame)].name + " }", 2);
        // Stored as the conjugate: the reader conjugates again before building the matrix.
        writeKeys(w, 0, track.rotations, 2, [&](const Quat& q) {
            writeFloats(w, {q.w, -q.x, -q.y, -q.z});
        });
        writeKeys(w, 1, track.scales, 2, [&](const Vec3& s) { writeFloats(w, {s.x, s.y, s.z}); });
        writeKeys(w, 2, track.positions, 2, [&](const Vec3& p) {
            writeFloats(w, {p.x, p.y, p.z});
        });
        writeKeys(w, 4, track.matrices, 2, [&](const Mat4& m) {
            w.text += "16;";
            for (int i = 0; i < 16; ++i) {
                if (i)
                    w.text += ',';
                w.number(m.m[i / 4][i % 4]);
            }
        });
        w.line("}", 1);
    }
    w.line("}", 0);
}

} // namespace

std::string writeXFile(const Model& model) {
    Writer w;
    w.text = "xof 0303txt 0032\n\n";
    w.text += kTemplates;
    w.line("AnimTicksPerSecond {", 0);
    w.line(std::to_string(model.ticksPerSecond) + ";", 1);
    w.line("}", 0);
    w.text += '\n';
    writeFrame(w, model, 0, 0);
    for (const AnimationSet& set : model.animations) {
        w.text += '\n';
        writeAnimationSet(w, model, set);
    }
    return w.text;
}

} // namespace assetgen
