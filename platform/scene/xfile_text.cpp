// platform/scene/xfile_text.cpp — what is read from .x text files beside the importer: a
// minimal tokeniser, the check of material lists, and the file's own face order.
#include "platform/scene/xfile_local.h"

#include <cctype>
#include <optional>
#include <string_view>

namespace scene::xfile {

namespace {

// Minimal tokenizer of the .x text syntax: names and numbers, strings, and the single
// characters { } ; , as their own tokens. Comments (# and //) are skipped.
class XTokens {
public:
    explicit XTokens(std::string_view text) : text_(text) {}

    // Next token, or empty at the end of the text.
    std::string_view Next() {
        SkipBlanks();
        if (pos_ >= text_.size()) return {};
        const size_t start = pos_;
        const char c = text_[pos_];
        if (c == '{' || c == '}' || c == ';' || c == ',') {
            ++pos_;
        } else if (c == '"') {
            const size_t end = text_.find('"', pos_ + 1);
            pos_ = end == std::string_view::npos ? text_.size() : end + 1;
        } else {
            while (pos_ < text_.size() && !IsBlank(text_[pos_]) &&
                   std::string_view("{};,\"").find(text_[pos_]) == std::string_view::npos)
                ++pos_;
        }
        return text_.substr(start, pos_ - start);
    }
    // Next token that is not a separator (; or ,).
    std::string_view NextValue() {
        std::string_view t;
        do
            t = Next();
        while (t == ";" || t == ",");
        return t;
    }

private:
    static bool IsBlank(char c) { return std::isspace(static_cast<unsigned char>(c)) != 0; }
    void SkipBlanks() {
        while (pos_ < text_.size()) {
            if (IsBlank(text_[pos_])) {
                ++pos_;
            } else if (text_[pos_] == '#' ||
                       (text_[pos_] == '/' && pos_ + 1 < text_.size() && text_[pos_ + 1] == '/')) {
                while (pos_ < text_.size() && text_[pos_] != '\n')
                    ++pos_;
            } else {
                break;
            }
        }
    }
    std::string_view text_;
    size_t pos_ = 0;
};

std::optional<long long> ToCount(std::string_view t) {
    if (t.empty() || t.size() > 12) return std::nullopt;
    long long v = 0;
    for (char c : t) {
        if (c < '0' || c > '9') return std::nullopt;
        v = v * 10 + (c - '0');
    }
    return v;
}

// Skips to the '}' closing a block whose '{' was just read. False at the end of the text.
bool SkipBlock(XTokens& tokens) {
    for (int depth = 1; depth > 0;) {
        const std::string_view t = tokens.Next();
        if (t.empty()) return false;
        if (t == "{") ++depth;
        if (t == "}") --depth;
    }
    return true;
}

// Checks one material list after its opening '{': the declared material count is what the
// block holds (inline materials or {references}), and every face names one of them.
bool CheckMaterialList(XTokens& tokens, std::string& why) {
    const auto materials = ToCount(tokens.NextValue());
    const auto faces = ToCount(tokens.NextValue());
    if (!materials || !faces) {
        why = "material list without counts";
        return false;
    }
    for (long long i = 0; i < *faces; ++i) {
        const auto index = ToCount(tokens.NextValue());
        if (!index || *index >= *materials) {
            why = "material list names a material it does not hold";
            return false;
        }
    }
    long long held = 0;
    for (;;) {
        const std::string_view t = tokens.NextValue();
        if (t.empty()) {
            why = "material list not closed";
            return false;
        }
        if (t == "}") break;
        if (t == "{") {
            ++held;
            if (!SkipBlock(tokens)) {
                why = "material reference not closed";
                return false;
            }
        } else {
            // A data object: "Name [objectName] { ... }". Only Material objects are materials;
            // the importer skips any other.
            std::string_view n = tokens.NextValue();
            if (n != "{") n = tokens.NextValue();
            if (n != "{" || !SkipBlock(tokens)) {
                why = "data object not closed";
                return false;
            }
            if (t == "Material") ++held;
        }
    }
    if (held != *materials) {
        why = "material list holds " + std::to_string(held) + " materials but declares " +
              std::to_string(*materials);
        return false;
    }
    return true;
}

} // namespace

// True when `bytes` is not a text .x file or when its material lists are consistent.
bool CheckTextMaterialLists(std::span<const uint8_t> bytes, std::string& why) {
    if (bytes.size() < 16) return true;
    const std::string_view text(reinterpret_cast<const char*>(bytes.data()), bytes.size());
    if (text.substr(8, 4) != "txt ") return true;
    XTokens tokens(text.substr(16));
    for (std::string_view t = tokens.Next(); !t.empty(); t = tokens.Next()) {
        if (t == "template") { // a declaration, not data: skip its name and body
            if (tokens.NextValue().empty() || tokens.NextValue() != "{" || !SkipBlock(tokens))
                return true; // the importer reports the broken template itself
            continue;
        }
        if (t != "MeshMaterialList") continue;
        std::string_view n = tokens.NextValue();
        if (n != "{") n = tokens.NextValue();
        if (n != "{") {
            why = "material list without a block";
            return false;
        }
        if (!CheckMaterialList(tokens, why)) return false;
    }
    return true;
}

// ------------------------------------------------------------------ face order of text files

namespace {

struct FileFrame {
    std::vector<FileMesh> meshes;
    std::vector<FileFrame> children;
};

// Reads "Name [objectName] {" after the name token; false when no block follows.
bool OpenObject(XTokens& tokens) {
    std::string_view n = tokens.NextValue();
    if (n != "{") n = tokens.NextValue();
    return n == "{";
}

bool SkipValues(XTokens& tokens, long long count) {
    for (long long i = 0; i < count; ++i)
        if (tokens.NextValue().empty()) return false;
    return true;
}

// A Mesh body after its '{': counts, then child objects; only the material list is kept.
bool ParseFileMesh(XTokens& tokens, FileMesh& mesh) {
    const auto vertices = ToCount(tokens.NextValue());
    if (!vertices || !SkipValues(tokens, *vertices * 3)) return false;
    const auto faces = ToCount(tokens.NextValue());
    if (!faces) return false;
    mesh.faceCount = static_cast<size_t>(*faces);
    for (long long f = 0; f < *faces; ++f) {
        const auto corners = ToCount(tokens.NextValue());
        if (!corners || !SkipValues(tokens, *corners)) return false;
    }
    for (;;) {
        const std::string_view t = tokens.NextValue();
        if (t.empty()) return false;
        if (t == "}") return true;
        if (t == "{") {
            if (!SkipBlock(tokens)) return false;
            continue;
        }
        if (!OpenObject(tokens)) return false;
        if (t == "MeshMaterialList") {
            const auto materials = ToCount(tokens.NextValue());
            const auto indices = ToCount(tokens.NextValue());
            if (!materials || !indices) return false;
            mesh.declaredMaterials = static_cast<uint32_t>(*materials);
            for (long long i = 0; i < *indices; ++i) {
                const auto m = ToCount(tokens.NextValue());
                if (!m) return false;
                mesh.faceMaterials.push_back(static_cast<uint32_t>(*m));
            }
            // One index for several faces applies to all of them.
            if (mesh.faceMaterials.size() == 1 && mesh.faceCount > 1)
                mesh.faceMaterials.assign(mesh.faceCount, mesh.faceMaterials[0]);
        }
        if (!SkipBlock(tokens)) return false;
    }
}

// Objects of a frame body (or of the file when `top`), up to its '}' (or the end).
bool ParseFileFrame(XTokens& tokens, FileFrame& frame, bool top) {
    for (;;) {
        const std::string_view t = tokens.NextValue();
        if (t.empty()) return top;
        if (t == "}") return !top;
        if (t == "{") {
            if (!SkipBlock(tokens)) return false;
            continue;
        }
        if (t == "template") {
            if (!OpenObject(tokens) || !SkipBlock(tokens)) return false;
            continue;
        }
        if (!OpenObject(tokens)) return false;
        if (t == "Frame") {
            frame.children.emplace_back();
            if (!ParseFileFrame(tokens, frame.children.back(), false)) return false;
        } else if (t == "Mesh") {
            frame.meshes.emplace_back();
            if (!ParseFileMesh(tokens, frame.meshes.back())) return false;
        } else if (!SkipBlock(tokens)) {
            return false;
        }
    }
}

void FlattenFrame(const FileFrame& frame, std::vector<FileMesh>& out) {
    out.insert(out.end(), frame.meshes.begin(), frame.meshes.end());
    for (const FileFrame& c : frame.children)
        FlattenFrame(c, out);
}

} // namespace

// The file's meshes in the importer's order: with a single top frame, that frame is the root
// node and the meshes outside any frame join its own; otherwise a new root holds those meshes
// and the top frames are its children. Invalid for binary files or on any parse trouble.
FaceOrderPlan BuildFaceOrderPlan(std::span<const uint8_t> bytes) {
    FaceOrderPlan plan;
    plan.valid = false;
    if (bytes.size() < 16) return plan;
    const std::string_view text(reinterpret_cast<const char*>(bytes.data()), bytes.size());
    if (text.substr(8, 4) != "txt ") return plan;
    XTokens tokens(text.substr(16));
    FileFrame file;
    if (!ParseFileFrame(tokens, file, true)) return plan;
    if (file.children.size() == 1) {
        const FileFrame& only = file.children[0];
        plan.meshes = only.meshes;
        plan.meshes.insert(plan.meshes.end(), file.meshes.begin(), file.meshes.end());
        for (const FileFrame& c : only.children)
            FlattenFrame(c, plan.meshes);
    } else {
        FlattenFrame(file, plan.meshes);
    }
    plan.valid = true;
    return plan;
}

} // namespace scene::xfile
