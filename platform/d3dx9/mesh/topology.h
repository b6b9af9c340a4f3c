// Which vertices coincide and which faces touch: the shared ground of adjacency
// generation and normal smoothing. Faces are three vertex indices each.
#pragma once

#include "platform/windows.h"

#include <vector>

namespace fw::d3dx9mesh {

constexpr DWORD kNoFace = 0xFFFFFFFF;

// rep[v] = the smallest index of the vertices whose positions (three floats at the start
// of each stride-byte vertex) lie within epsilon of vertex v's in every coordinate.
std::vector<DWORD> PointRepsFromPositions(const BYTE* vertices, DWORD stride, DWORD numVertices,
                                          float epsilon);

// Three entries per face: the face across edge (v0,v1), (v1,v2), (v2,v0), or kNoFace.
// Two faces are neighbours when one has the edge (a,b) and the other (b,a) in terms of
// point representatives. Faces with an index outside reps have no neighbours.
void AdjacencyFromFaces(const std::vector<DWORD>& faces, const std::vector<DWORD>& reps,
                        DWORD* adjacency);

// Point representatives implied by adjacency: the two ends of an edge shared by
// neighbouring faces are the same points. Entries naming faces out of range are ignored.
std::vector<DWORD> PointRepsFromAdjacency(const std::vector<DWORD>& faces, DWORD numVertices,
                                          const DWORD* adjacency);

} // namespace fw::d3dx9mesh
