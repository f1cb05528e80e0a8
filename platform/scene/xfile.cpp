// platform/scene/xfile.cpp — DirectX .x files (text and binary) through Assimp, into one mesh
// builder or into a frame hierarchy.
//
// Assimp's .x importer converts what it reads to a right-handed space: it negates z, reverses
// each face's corner order and flips v. Running its MakeLeftHanded, FlipWindingOrder and
// FlipUVs steps afterwards undoes exactly those three, so coordinates, winding and texture
// coordinates come out as written in the file. No triangulation: polygons keep their corners.
// The importer splits a mesh by material and gives every face corner its own vertex; corners
// with equal position and texture coordinates are welded back into one vertex here, and for
// text files the faces are put back into the file's order (the game deletes faces by index),
// from the face material lists read beside the importer (BuildFaceOrderPlan). Binary files keep
// the importer's order: faces grouped by material, in file order within each material.
//
// Files are untrusted and the importer is not robust against malformed ones (it follows missing
// materials, trusts counts). Two guards run before the real import: text files have their
// material lists checked (CheckTextMaterialLists, a clear error for the common fault), and on
// POSIX systems a forked child parses the bytes first (ImporterSurvives): a file on which the
// importer crashes or hangs is reported as a bad file instead of ending the game.
//
// xfile_text.cpp reads the text side, xfile_build.cpp builds meshes and frames; this file reads
// and guards the import and holds the public loaders.
#include "platform/scene/xfile_local.h"

#include <assimp/Importer.hpp>
#include <assimp/postprocess.h>
#include <assimp/scene.h>

#include <cerrno>
#include <fstream>

#if defined(__unix__) || defined(__APPLE__)
#include <sys/wait.h>
#include <unistd.h>
#define TARNHOLD_X_IMPORT_GUARD 1
#endif

namespace scene {

namespace {

constexpr unsigned kImportFlags = aiProcess_MakeLeftHanded | aiProcess_FlipWindingOrder |
                                  aiProcess_FlipUVs | aiProcess_ValidateDataStructure;

// Whole file into memory, at most kMaxFileBytes.
constexpr size_t kMaxFileBytes = size_t(512) << 20;

bool ReadWholeFile(const std::string& file, std::vector<uint8_t>& out) {
    std::ifstream in(file, std::ios::binary | std::ios::ate);
    if (!in) return false;
    const std::streamoff size = in.tellg();
    if (size < 0 || static_cast<unsigned long long>(size) > kMaxFileBytes) return false;
    out.resize(static_cast<size_t>(size));
    in.seekg(0);
    return size == 0 || static_cast<bool>(in.read(reinterpret_cast<char*>(out.data()), size));
}

// False when the importer crashes, or runs longer than kGuardSeconds, on `bytes`. The parse runs
// in a forked child that only reports how it ended; the parent imports again for real.
constexpr unsigned kGuardSeconds = 30;

bool ImporterSurvives(std::span<const uint8_t> bytes) {
#ifdef TARNHOLD_X_IMPORT_GUARD
    const pid_t pid = fork();
    if (pid < 0) return true; // no child available: import unguarded
    if (pid == 0) {
        alarm(kGuardSeconds);
        Assimp::Importer importer;
        const aiScene* s =
            importer.ReadFileFromMemory(bytes.data(), bytes.size(), kImportFlags, "x");
        _exit(s ? 0 : 1);
    }
    int status = 0;
    while (waitpid(pid, &status, 0) < 0) {
        if (errno != EINTR) return true;
    }
    return WIFEXITED(status);
#else
    (void)bytes;
    return true;
#endif
}

// Reads a file or a memory block; null with `status` filled on failure.
const aiScene* Read(Assimp::Importer& importer, const std::string* file,
                    std::span<const uint8_t> bytes, std::string_view label, LoadStatus& status,
                    std::vector<uint8_t>& contents) {
    if (file) {
        if (!ReadWholeFile(*file, contents)) {
            status = {false, std::string(label) + ": cannot read file"};
            return nullptr;
        }
    } else {
        contents.assign(bytes.begin(), bytes.end());
    }
    bytes = contents;
    std::string why;
    if (!xfile::CheckTextMaterialLists(bytes, why)) {
        status = {false, std::string(label) + ": bad .x file (" + why + ")"};
        return nullptr;
    }
    if (!bytes.empty() && !ImporterSurvives(bytes)) {
        status = {false, std::string(label) + ": bad .x file (the importer cannot read it)"};
        return nullptr;
    }
    const aiScene* s = nullptr;
    try {
        if (!bytes.empty())
            s = importer.ReadFileFromMemory(bytes.data(), bytes.size(), kImportFlags, "x");
    } catch (...) {
        s = nullptr;
    }
    if (!s || !s->mRootNode || (s->mFlags & AI_SCENE_FLAGS_INCOMPLETE)) {
        const char* why = importer.GetErrorString();
        status = {false, std::string(label) + ": cannot read .x file" +
                             (why && *why ? std::string(" (") + why + ")" : std::string())};
        return nullptr;
    }
    status = {true, {}};
    return s;
}

bool ResolveFile(std::string_view name, const SearchPath* path, std::string& file,
                 LoadStatus& status) {
    SearchPath none;
    file = (path ? path : &none)->Resolve(name);
    if (file.empty()) status = {false, NotFound(name, path)};
    return !file.empty();
}

LoadStatus IntoBuilder(MeshBuilder& builder, const std::string* file,
                       std::span<const uint8_t> bytes, std::string_view label,
                       const TextureCallback& callback) {
    Assimp::Importer importer;
    LoadStatus status;
    std::vector<uint8_t> contents;
    const aiScene* s = Read(importer, file, bytes, label, status, contents);
    if (!s) return status;
    xfile::FaceOrderPlan plan = xfile::BuildFaceOrderPlan(contents);
    xfile::MergeScene(builder, *s, callback, plan);
    return status;
}

LoadStatus AsFrames(Frame& parent, const std::string* file, std::span<const uint8_t> bytes,
                    std::string_view label, const TextureCallback& callback,
                    std::shared_ptr<Frame>* loaded) {
    Assimp::Importer importer;
    LoadStatus status;
    std::vector<uint8_t> contents;
    const aiScene* s = Read(importer, file, bytes, label, status, contents);
    if (!s) return status;
    xfile::FaceOrderPlan plan = xfile::BuildFaceOrderPlan(contents);
    std::shared_ptr<Frame> top = xfile::BuildFrameTree(*s, callback, plan);
    parent.AddChild(top);
    if (loaded) *loaded = top;
    return status;
}

} // namespace

LoadStatus LoadXIntoMeshBuilder(MeshBuilder& builder, std::string_view name, const SearchPath* path,
                                const TextureCallback& callback) {
    std::string file;
    LoadStatus status;
    if (!ResolveFile(name, path, file, status)) return status;
    return IntoBuilder(builder, &file, {}, file, callback);
}

LoadStatus LoadXAsFrames(Frame& parent, std::string_view name, const SearchPath* path,
                         const TextureCallback& callback, std::shared_ptr<Frame>* loaded) {
    std::string file;
    LoadStatus status;
    if (!ResolveFile(name, path, file, status)) return status;
    return AsFrames(parent, &file, {}, file, callback, loaded);
}

LoadStatus LoadXIntoMeshBuilderFromMemory(MeshBuilder& builder, std::span<const uint8_t> bytes,
                                          const TextureCallback& callback) {
    return IntoBuilder(builder, nullptr, bytes, "(memory)", callback);
}

LoadStatus LoadXAsFramesFromMemory(Frame& parent, std::span<const uint8_t> bytes,
                                   const TextureCallback& callback,
                                   std::shared_ptr<Frame>* loaded) {
    return AsFrames(parent, nullptr, bytes, "(memory)", callback, loaded);
}

} // namespace scene
